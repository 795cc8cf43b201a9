#pragma once

#include "frames/FrameListModel.h"
#include "ui/frames/CollectionNameSheet.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QAction;
class QMimeData;
class QWidget;
class CollectionPopUp;
class FrameDownloader;
class SheetHost;
class ThumbnailTableView;
class UserDefaults;

// Runs the user's commands on the frame collections: choosing a set or a frame, creating,
// renaming and removing sets, deleting frames, drops and downloads. It asks the user
// through the sheet host, leaves the files to FrameLibrary and keeps what is on disk in
// its FrameListModel, which the side panel's table shows.
class ThumbnailController : public QObject {
    Q_OBJECT
public:
    enum CollectionCommand {
        CreateFrameSetTag = 101,
        RemoveFrameSetTag = 102,
        RenameFrameSetTag = 103
    };

    // A host that is a QObject may be deleted before the controller; any other host must
    // outlive it.
    ThumbnailController(UserDefaults& defaults, SheetHost* sheets, QObject* parent = nullptr);
    ~ThumbnailController() override;

    QWidget* panel();         // pop-up + thumbnail table, for the dock widget
    void refreshThumbnails(); // re-reads every collection from disk
    void deselectAll();       // deselects every row (emits frameChosen(""))
    QString selectedFramePath() const;

    // The window's commands of the frame library, made from the command table.
    QList<QAction*> commands() const { return _commands; }
    // Commands for menus; the panel has buttons for refresh and reveal as well.
    QAction* refreshAction() const { return _refreshAction; }
    QAction* revealUserFolderAction() const { return _revealAction; }
    QAction* deleteFrameAction() const { return _deleteAction; }

    void revealUserFolder();
    void deleteSelected();

    // The pop-up's action for the item at index: a command's item runs its command, a
    // set's item shows that set.
    void selectCollection(int popUpIndex);

    // State, for the application controller and the tests.
    CollectionPopUp* collectionPopUp() const { return _collectionPop; }
    ThumbnailTableView* tableView() const { return _tableView; }
    const FrameListModel& frames() const { return *_frames; }
    int selectedCollection() const;        // its pop-up index
    QString currentCollectionName() const; // the user set on show, else empty
    QString currentCollectionPath() const;
    FrameDownloader* downloader() const { return _downloader; }

    // Drops (also used by the table's callbacks).
    bool validateDrop(const QMimeData* mime, bool fromThisApplication) const;
    bool acceptDrop(const QMimeData* mime);
    // Why a drop of files here is refused when the set cannot take them (a built-in set),
    // for the user; empty otherwise.
    QString dropRefusal(const QMimeData* mime) const;

    // The two naming panels, run through SheetHost::runPromptSheet (tests find them by
    // object name "addCollectionSheet" / "renameCollectionSheet").
    QDialog* addCollectionSheet() const { return _addCollectionSheet; }
    QDialog* renameCollectionSheet() const { return _renameCollectionSheet; }

signals:
    // The user picked a frame, or the selection was cleared (empty path). The application
    // controller answers with setFlipHorizontal(false) then setBorderPath(path).
    void frameChosen(const QString& path);
    // A set was renamed: its frames now lie in another folder.
    void collectionMoved(const QString& fromFolder, const QString& toFolder);

private:
    // Actions and their enabling.
    void _makeActions();
    void _updateCommandStates();

    SheetHost* _sheets() const;
    void _message(const QString& title, const QString& message);
    int _prompt(const QString& title, const QString& message, const QString& defaultButton,
                const QString& alternateButton);
    void _buildPanel();
    void _rebuildPopUp();
    void _showSelected();
    void _initCollections();
    int _selectCollection(int popUpIndex);
    void _addCollection();
    void _removeCollection();
    void _renameCollection();
    int _userPlace(const QString& name, int skip) const; // where the listing puts the set
    QStringList _userNames() const;
    void _reloadCollection(int collection);
    void _tableSelectionChanged();
    void _downloadFinished(const QString& folder, const QString& savedPath);

    UserDefaults& _defaults;
    SheetHost* _sheetHost = nullptr;
    QPointer<QObject> _sheetHostObject; // set when the host is a QObject
    bool _sheetHostIsObject = false;
    QPointer<QWidget> _panel; // usually deleted with the dock that holds it
    CollectionPopUp* _collectionPop = nullptr;
    ThumbnailTableView* _tableView = nullptr;
    FrameListModel* _frames = nullptr;
    bool _refilling = false; // the rows change under the view: no choice of the user's
    QPointer<CollectionNameSheet> _addCollectionSheet;
    QPointer<CollectionNameSheet> _renameCollectionSheet;
    void _makeCommands();

    QList<QAction*> _commands;
    QAction* _refreshAction = nullptr;
    QAction* _revealAction = nullptr;
    QAction* _deleteAction = nullptr;
    FrameDownloader* _downloader = nullptr;

    QString _userFrameFolder;
};
