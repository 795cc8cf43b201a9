#pragma once

#include "frames/ThumbnailEntry.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>

// The frame collections in memory, built-in ones first, and as rows the frames of the one
// selected: its thumbnail, name and kind. Views follow the selected collection; changing
// another one leaves the rows alone.
class FrameListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Frames of a built-in collection can be looked at only; the user's can be changed.
    enum class Kind { Builtin, User };
    Q_ENUM(Kind)
    enum Role { PathRole = Qt::UserRole, KindRole };

    struct Collection {
        QString name;
        QString folder;
        Kind kind = Kind::Builtin;
        ThumbnailList frames;
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces every collection; none is selected then.
    void setCollections(const QList<Collection>& collections);
    int collectionCount() const { return int(_collections.size()); }
    const Collection& collection(int i) const { return _collections.at(i); }
    // The collection whose folder this is, or -1.
    int collectionInFolder(const QString& folder) const;

    // The collection shown as rows, -1 for none.
    int selected() const { return _selected; }
    bool userSelected() const;
    void select(int i);
    QString pathAt(int row) const;

    void insertCollection(int at, const Collection& collection);
    void removeCollection(int i);
    // The frames of a renamed collection move with their folder; its rows stay as they are.
    void renameCollection(int i, const QString& name, const QString& folder);
    void moveCollection(int from, int to);
    void setFrames(int i, const ThumbnailList& frames);

private:
    QList<Collection> _collections;
    int _selected = -1;
};
