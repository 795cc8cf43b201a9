#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QStringList>

class DestinationList;

// The setup sheet's table over the working copy: the columns "default" (a check mark on
// the default's row), "targetType", "label" and "destination". Rows move by dragging them
// under DestinationPboardType; folders and applications dropped from a file manager are
// added, the first of several only.
class DestinationTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The drag format of a row: an XML property list holding an array with the row.
    static inline const QString DestinationPboardType = QStringLiteral("DestinationPboardType");

    explicit DestinationTableModel(DestinationList& list, QObject* parent = nullptr);

    // The icon a desktop entry names for itself; none for folders and other programs.
    static QIcon iconForRecord(const QVariantMap& record);
    // A desktop entry's Icon=: a theme icon name, or an image file read as photos are (no
    // FIFO or device, refused above kMaxIconPixels) and kept at a small size only. None
    // for anything else.
    static QIcon iconNamed(const QString& name);
    static constexpr qint64 kMaxIconPixels = 4'000'000;

    // The column identifiers, in column order.
    static QStringList columnIdentifiers();

    // The list changed behind the model (loaded, reverted, default moved): redraw all.
    void reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // A drop above row (a drop onto a row counts as above it; -1 below the last row):
    // files add the first path's record, an own row moves. True when accepted.
    bool acceptDrop(const QMimeData* data, int row);
    // The drag payload for one row; null for any other count.
    static QMimeData* mimeDataForRows(const QList<int>& rows);

signals:
    // Any drop of a known kind, accepted or not: the sheet may then revert.
    void dropHandled();
    // A dragged row now stands at row; a file drop asks for no selection (row -1).
    void selectRowRequested(int row);

private:
    enum class DropKind { None, Files, OwnRow };
    static DropKind dropKind(const QMimeData* data);

    DestinationList& _list;
    QIcon _checkmark;
    mutable QHash<QString, QIcon> _icons; // by destination path
};
