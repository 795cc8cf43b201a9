#pragma once

#include "frames/ThumbnailEntry.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QAction;
class QComboBox;
class QLineEdit;
class QMimeData;
class QWidget;
class FrameDownloader;
class ThumbnailTableView;
class UserDefaults;
class ZTWindow;

// Owns the frame collections, the collection pop-up and the thumbnail table of the side
// panel, and carries out the collection commands and drops.
class ThumbnailController : public QObject {
    Q_OBJECT
public:
    enum CollectionCommand {
        CreateFrameSetTag = 101,
        RemoveFrameSetTag = 102,
        RenameFrameSetTag = 103
    };

    ThumbnailController(UserDefaults& defaults, ZTWindow* window, QObject* parent = nullptr);
    ~ThumbnailController() override;

    QWidget* panel();         // pop-up + thumbnail table, for the dock widget
    void refreshThumbnails(); // re-reads every collection from disk
    void deselectAll();       // deselects every row (emits frameChosen(""))
    QString selectedFramePath() const;

    // Commands for menus; the panel has buttons for refresh and reveal as well.
    QAction* refreshAction() const { return _refreshAction; }
    QAction* revealUserFolderAction() const { return _revealAction; }
    QAction* deleteFrameAction() const { return _deleteAction; }

    void revealUserFolder();
    void deleteSelected();

    // The pop-up's action for the item at index (commands by tag, collections by index).
    void selectCollection(int popUpIndex);

    // State, for the application controller and the tests.
    QComboBox* collectionPopUp() const { return _collectionPop; }
    ThumbnailTableView* tableView() const { return _tableView; }
    int selectedCollection() const { return _selectedCollection; }
    int selectedUserCollection() const { return _selectedUserCollection; }
    int builtinCount() const { return int(_builtinCollections.size()); }
    int userCount() const { return int(_userCollections.size()); }
    const ThumbnailList& selectedThumbnails() const;
    QString currentCollectionName() const;
    QString currentCollectionPath() const;
    QString userFrameFolder() const { return _userFrameFolder; }
    FrameDownloader* downloader() const { return _downloader; }

    // Drops (also used by the table's callbacks).
    bool validateDrop(const QMimeData* mime, bool fromThisApplication) const;
    bool acceptDrop(const QMimeData* mime);
    int copyFiles(const QStringList& paths, int popUpIndex);
    int copyURL(const QUrl& url, int popUpIndex);

    // The two naming panels, run through ZTWindow::runPromptSheet (tests find them by
    // object name "addCollectionSheet" / "renameCollectionSheet").
    QDialog* addCollectionSheet() const { return _addCollectionSheet; }
    QDialog* renameCollectionSheet() const { return _renameCollectionSheet; }

signals:
    // The user picked a frame, or the selection was cleared (empty path). The application
    // controller answers with setFlipHorizontal(false) then setBorderPath(path).
    void frameChosen(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Collection {
        QString name;
        ThumbnailList entries;
    };

    void _buildPanel();
    QDialog* _makeNameSheet(const QString& objectName, const QString& prompt, QLineEdit** field);
    void _initCollections();
    int _selectCollection(int index);
    void _addCollection();
    void _removeCollection();
    void _renameCollection();
    void _refreshCollection(int popUpIndex);
    void _reloadTable();
    void _tableSelectionChanged();
    void _downloadFinished(const QString& folder, const QString& savedPath);
    bool _refuseName(const QString& name, const QString& title, const QString& exceptName);
    int _fallbackIndex() const;
    void _updateCommandStates();

    UserDefaults& _defaults;
    QPointer<ZTWindow> _mainWindow;
    QPointer<QWidget> _panel; // usually deleted with the dock that holds it
    QComboBox* _collectionPop = nullptr;
    ThumbnailTableView* _tableView = nullptr;
    QPointer<QDialog> _addCollectionSheet;
    QPointer<QDialog> _renameCollectionSheet;
    QLineEdit* _addCollectionTF = nullptr;
    QLineEdit* _renameCollectionTF = nullptr;
    QAction* _refreshAction = nullptr;
    QAction* _revealAction = nullptr;
    QAction* _deleteAction = nullptr;
    FrameDownloader* _downloader = nullptr;

    QString _userFrameFolder;
    QList<Collection> _builtinCollections;
    QList<Collection> _userCollections;
    int _selectedUserCollection = -1;
    int _selectedCollection = -1;
    bool _reloading = false;
};
