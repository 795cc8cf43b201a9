#pragma once

#include "frames/CollectionNameSheet.h"
#include "frames/CollectionRows.h"
#include "frames/ThumbnailEntry.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QAction;
class QComboBox;
class QMimeData;
class QWidget;
class FrameDownloader;
class SheetHost;
class ThumbnailTableView;
class UserDefaults;

// Owns the frame collections, the collection pop-up and the thumbnail table of the side
// panel, and runs the collection commands and drops: it asks the user through the sheet
// host and leaves the files to FrameLibrary.
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

    // The pop-up's action for the item at index: a command row runs its command, a
    // collection row shows that collection.
    void selectCollection(int popUpIndex);

    // State, for the application controller and the tests.
    QComboBox* collectionPopUp() const { return _collectionPop; }
    ThumbnailTableView* tableView() const { return _tableView; }
    int selectedCollection() const { return _selectedCollection; }
    int selectedUserCollection() const { return _rows().userAt(_selectedCollection); }
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
    // Why a drop of files here is refused when the set cannot take them (a built-in set),
    // for the user; empty otherwise.
    QString dropRefusal(const QMimeData* mime) const;
    int copyFiles(const QStringList& paths, int popUpIndex);
    int copyURL(const QUrl& url, int popUpIndex);

    // The two naming panels, run through SheetHost::runPromptSheet (tests find them by
    // object name "addCollectionSheet" / "renameCollectionSheet").
    QDialog* addCollectionSheet() const { return _addCollectionSheet; }
    QDialog* renameCollectionSheet() const { return _renameCollectionSheet; }

signals:
    // The user picked a frame, or the selection was cleared (empty path). The application
    // controller answers with setFlipHorizontal(false) then setBorderPath(path).
    void frameChosen(const QString& path);

private:
    struct Collection {
        QString name;
        ThumbnailList entries;
    };

    CollectionRows _rows() const { return {builtinCount(), userCount()}; }
    QStringList _userNames() const;
    SheetHost* _sheets() const;
    void _message(const QString& title, const QString& message);
    int _prompt(const QString& title, const QString& message, const QString& defaultButton,
                const QString& alternateButton);
    int _commandForRow(int row) const; // its CollectionCommand, or 0
    void _showRow(int row);
    void _buildPanel();
    void _initCollections();
    int _selectCollection(int index);
    void _addCollection();
    void _removeCollection();
    void _renameCollection();
    int _insertUserCollection(const Collection& collection); // its pop-up row
    void _refreshCollection(int popUpIndex);
    void _reloadTable();
    void _tableSelectionChanged();
    void _downloadFinished(const QString& folder, const QString& savedPath);
    QString _userFolderAt(int popUpIndex) const;
    void _updateCommandStates();

    UserDefaults& _defaults;
    SheetHost* _sheetHost = nullptr;
    QPointer<QObject> _sheetHostObject; // set when the host is a QObject
    bool _sheetHostIsObject = false;
    QPointer<QWidget> _panel; // usually deleted with the dock that holds it
    QComboBox* _collectionPop = nullptr;
    ThumbnailTableView* _tableView = nullptr;
    QPointer<CollectionNameSheet> _addCollectionSheet;
    QPointer<CollectionNameSheet> _renameCollectionSheet;
    void _makeCommands();

    QList<QAction*> _commands;
    QAction* _refreshAction = nullptr;
    QAction* _revealAction = nullptr;
    QAction* _deleteAction = nullptr;
    FrameDownloader* _downloader = nullptr;

    QString _userFrameFolder;
    QList<Collection> _builtinCollections;
    QList<Collection> _userCollections;
    int _selectedCollection = -1;
};
