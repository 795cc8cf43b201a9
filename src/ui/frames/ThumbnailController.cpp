#include "ThumbnailController.h"

#include "foundation/CommandActions.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
#include "ui/SheetHost.h"
#include "ui/frames/CollectionPopUp.h"
#include "ui/frames/FrameDownloader.h"
#include "ui/frames/FramePanel.h"
#include "ui/frames/ThumbnailTableView.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QSignalBlocker>

ThumbnailController::ThumbnailController(UserDefaults& defaults, SheetHost* sheets, QObject* parent)
    : QObject(parent), _defaults(defaults), _sheetHost(sheets)
{
    // The window holding the sheets may be deleted before us.
    if (auto* object = dynamic_cast<QObject*>(sheets)) {
        _sheetHostObject = object;
        _sheetHostIsObject = true;
    }
    _frames = new FrameListModel(this);
    _downloader = new FrameDownloader(this);
    connect(_downloader, &FrameDownloader::downloadFinished, this,
            &ThumbnailController::_downloadFinished);

    _makeActions();
    _makeCommands();

    _buildPanel();
    _addCollectionSheet = new CollectionNameSheet(QStringLiteral("addCollectionSheet"),
                                                  tr("Name of the new frame set:"), tr("Create"));
    _renameCollectionSheet = new CollectionNameSheet(
        QStringLiteral("renameCollectionSheet"), tr("New name of the frame set:"), tr("Rename"));
    _initCollections();
}

ThumbnailController::~ThumbnailController()
{
    // The panel usually lives in a dock of the window; a panel nobody took is ours.
    if (_panel && !_panel->parent())
        delete _panel.data();
    delete _addCollectionSheet.data();
    delete _renameCollectionSheet.data();
}

void ThumbnailController::_makeActions()
{
    _refreshAction =
        new QAction(QIcon::fromTheme(QStringLiteral("view-refresh")), tr("Refresh Frames"), this);
    _refreshAction->setToolTip(tr("Read all frame sets from disk again"));
    connect(_refreshAction, &QAction::triggered, this, &ThumbnailController::refreshThumbnails);
    _revealAction = new QAction(QIcon::fromTheme(QStringLiteral("folder-open")),
                                tr("Show My Frames Folder"), this);
    _revealAction->setToolTip(tr("Open the folder of your own frame sets"));
    connect(_revealAction, &QAction::triggered, this, &ThumbnailController::revealUserFolder);
    _deleteAction =
        new QAction(QIcon::fromTheme(QStringLiteral("edit-delete")), tr("Delete Frame"), this);
    connect(_deleteAction, &QAction::triggered, this, &ThumbnailController::deleteSelected);
}

void ThumbnailController::_updateCommandStates()
{
    // Built-in sets cannot be renamed or removed; a new set can always be asked for.
    const bool user = _frames->userSelected();
    _collectionPop->setCommandEnabled(CreateFrameSetTag, true);
    _collectionPop->setCommandEnabled(RemoveFrameSetTag, user);
    _collectionPop->setCommandEnabled(RenameFrameSetTag, user);
}

QWidget* ThumbnailController::panel()
{
    return _panel;
}

void ThumbnailController::_buildPanel()
{
    auto* panel = new FramePanel({_deleteAction, _refreshAction, _revealAction},
                                 {_refreshAction, _revealAction});
    _panel = panel;
    _collectionPop = panel->popUp();
    _tableView = panel->table();
    _tableView->setModel(_frames);
    connect(_collectionPop, &QComboBox::activated, this, &ThumbnailController::selectCollection);
    connect(_tableView, &ThumbnailTableView::deleteRequested, this,
            &ThumbnailController::deleteSelected);
    connect(_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ThumbnailController::_tableSelectionChanged);
    _tableView->setDropHandlers([this](const QMimeData* mime) { return validateDrop(mime, false); },
                                [this](const QMimeData* mime) { return acceptDrop(mime); });
    _tableView->setRefusalHandlers(
        [this](const QMimeData* mime) { return dropRefusal(mime); },
        [this](const QString& why) { _message(tr("Frames Not Added"), why); });
}

SheetHost* ThumbnailController::_sheets() const
{
    return _sheetHostIsObject && !_sheetHostObject ? nullptr : _sheetHost;
}

void ThumbnailController::_message(const QString& title, const QString& message)
{
    if (SheetHost* host = _sheets())
        host->runMessageSheetWithTitle(title, message);
}

int ThumbnailController::_prompt(const QString& title, const QString& message,
                                 const QString& defaultButton, const QString& alternateButton)
{
    SheetHost* host = _sheets();
    return host ? host->runPromptSheetWithTitle(title, message, defaultButton, alternateButton) : 0;
}

QStringList ThumbnailController::_userNames() const
{
    QStringList names;
    for (int i = 0; i < _frames->collectionCount(); ++i) {
        if (_frames->collection(i).kind == FrameListModel::Kind::User)
            names.append(_frames->collection(i).name);
    }
    return names;
}

void ThumbnailController::_initCollections()
{
    _userFrameFolder = FrameLibrary::userFrameFolder();
    const QString builtinRoot = FrameLibrary::builtinFrameFolder();
    QList<FrameListModel::Collection> collections;
    for (const QString& name : FrameLibrary::collectionNamesForFolder(builtinRoot))
        collections.append(
            {name, QDir(builtinRoot).filePath(name), FrameListModel::Kind::Builtin, {}});
    for (const QString& name : FrameLibrary::collectionNamesForFolder(_userFrameFolder))
        collections.append(
            {name, QDir(_userFrameFolder).filePath(name), FrameListModel::Kind::User, {}});
    QStringList folders;
    for (const FrameListModel::Collection& collection : std::as_const(collections))
        folders.append(collection.folder);
    // Every frame of both roots in one batch, so both cores stay busy across collections.
    const QList<ThumbnailList> lists = FrameLibrary::collectionsForFolders(folders);
    for (int i = 0; i < collections.size(); ++i)
        collections[i].frames = lists.value(i);
    {
        const QScopedValueRollback refilling(_refilling, true);
        _frames->setCollections(collections);
    }
    _rebuildPopUp();
    _selectCollection(_defaults.integerForKey(DefSelectedCollection));
}

void ThumbnailController::_rebuildPopUp()
{
    const QSignalBlocker blocker(_collectionPop);
    _collectionPop->clear();
    for (const FrameListModel::Kind kind :
         {FrameListModel::Kind::Builtin, FrameListModel::Kind::User}) {
        for (int i = 0; i < _frames->collectionCount(); ++i) {
            if (_frames->collection(i).kind == kind)
                _collectionPop->addCollection(_frames->collection(i).name, i);
        }
        _collectionPop->insertSeparator(_collectionPop->count());
    }
    _collectionPop->addCommand(tr("Create Frame Set"), CreateFrameSetTag);
    _collectionPop->addCommand(tr("Remove Frame Set"), RemoveFrameSetTag);
    _collectionPop->addCommand(tr("Rename Frame Set"), RenameFrameSetTag);
    _showSelected();
    _updateCommandStates();
}

void ThumbnailController::_showSelected()
{
    const QSignalBlocker blocker(_collectionPop);
    _collectionPop->setCurrentIndex(selectedCollection());
}

int ThumbnailController::selectedCollection() const
{
    return _collectionPop->rowOfCollection(_frames->selected());
}

int ThumbnailController::_selectCollection(int popUpIndex)
{
    int row = popUpIndex;
    if (_collectionPop->collectionAt(row) < 0)
        row = _collectionPop->firstCollectionRow();
    {
        const QScopedValueRollback refilling(_refilling, true);
        _frames->select(_collectionPop->collectionAt(row));
    }
    _showSelected();
    _updateCommandStates();
    _tableView->setPlaceholderText(_frames->userSelected() ? tr("Drop image files here")
                                                           : QString());
    // What the application controller's refresh did: no frame is chosen after a switch.
    emit frameChosen(QString());

    _defaults.setInteger(row < 0 ? 0 : row, DefSelectedCollection);
    return row;
}

void ThumbnailController::_tableSelectionChanged()
{
    if (!_refilling)
        emit frameChosen(selectedFramePath());
}

QString ThumbnailController::selectedFramePath() const
{
    return _frames->pathAt(_tableView->selectedRow());
}

void ThumbnailController::_makeCommands()
{
    // The menu's refresh lets go of the chosen frame; the panel's button reads the sets
    // from disk again.
    QAction* refresh = CommandActions::make("refreshFrames", this);
    connect(refresh, &QAction::triggered, this, &ThumbnailController::deselectAll);
    _commands = {refresh};
}

void ThumbnailController::deselectAll()
{
    {
        const QScopedValueRollback refilling(_refilling, true);
        _tableView->clearSelection();
    }
    emit frameChosen(QString());
}

void ThumbnailController::refreshThumbnails()
{
    _initCollections();
}

void ThumbnailController::selectCollection(int popUpIndex)
{
    switch (_collectionPop->commandAt(popUpIndex)) {
    case CreateFrameSetTag:
        _addCollection();
        break;
    case RemoveFrameSetTag:
        _removeCollection();
        break;
    case RenameFrameSetTag:
        _renameCollection();
        break;
    default:
        _selectCollection(popUpIndex);
        break;
    }
}

QString ThumbnailController::currentCollectionName() const
{
    return _frames->userSelected() ? _frames->collection(_frames->selected()).name : QString();
}

QString ThumbnailController::currentCollectionPath() const
{
    return _frames->userSelected() ? _frames->collection(_frames->selected()).folder : QString();
}

int ThumbnailController::_userPlace(const QString& name, int skip) const
{
    // Where the next start lists the set (by name, or as "collections.plist" orders the
    // root), so that the stored pop-up index still names it then.
    const QStringList listing = FrameLibrary::collectionNamesForFolder(_userFrameFolder);
    const qsizetype rank = listing.indexOf(name);
    int place = 0;
    for (int i = 0; i < _frames->collectionCount(); ++i) {
        const FrameListModel::Collection& other = _frames->collection(i);
        if (i == skip)
            continue;
        const qsizetype otherRank = listing.indexOf(other.name);
        if (other.kind == FrameListModel::Kind::Builtin || rank < 0 ||
            (otherRank >= 0 && otherRank < rank))
            ++place;
    }
    return place;
}

void ThumbnailController::_addCollection()
{
    const QString title = tr("Frame Set Not Created");
    if (_userFrameFolder.isEmpty()) {
        _message(title, tr("The folder for your own frame sets cannot be made."));
        _showSelected();
        return;
    }
    const std::optional<QString> name = _addCollectionSheet->ask(_sheets(), QString());
    QString error;
    if (!name || !FrameLibrary::createCollection(_userFrameFolder, *name, _userNames(), &error)) {
        if (name)
            _message(title, error);
        // Nothing was made: the set and the frame on the photo stay as they were.
        _showSelected();
        return;
    }
    const int place = _userPlace(*name, -1);
    _frames->insertCollection(
        place, {*name, QDir(_userFrameFolder).filePath(*name), FrameListModel::Kind::User, {}});
    _rebuildPopUp();
    _selectCollection(_collectionPop->rowOfCollection(place));
}

void ThumbnailController::_removeCollection()
{
    const int removed = _frames->selected();
    if (!_frames->userSelected()) {
        _showSelected();
        return;
    }
    const QString name = _frames->collection(removed).name;
    const int answer =
        _prompt(tr("Remove Collection?"), tr("Are you sure you want to remove '%1'").arg(name),
                tr("Remove"), tr("Don't Remove"));
    if (answer == 1) {
        QString error;
        if (FrameLibrary::removeCollection(_userFrameFolder, name, &error)) {
            {
                const QScopedValueRollback refilling(_refilling, true);
                _frames->removeCollection(removed);
            }
            _rebuildPopUp();
            _selectCollection(0);
            return;
        }
        _message(tr("Frame Set Not Removed"), error);
    }
    _showSelected();
}

void ThumbnailController::_renameCollection()
{
    const int renamed = _frames->selected();
    if (!_frames->userSelected()) {
        _showSelected();
        return;
    }
    const QString oldName = _frames->collection(renamed).name;
    const std::optional<QString> newName = _renameCollectionSheet->ask(_sheets(), oldName);
    QString error;
    if (newName && *newName != oldName) {
        if (FrameLibrary::renameCollection(_userFrameFolder, oldName, *newName, _userNames(),
                                           &error)) {
            // The set stays selected under its new name and place; the table keeps its rows
            // and selection, only their paths change.
            const QString oldFolder = _frames->collection(renamed).folder;
            const QString newFolder = QDir(_userFrameFolder).filePath(*newName);
            _frames->renameCollection(renamed, *newName, newFolder);
            _frames->moveCollection(renamed, _userPlace(*newName, renamed));
            _rebuildPopUp();
            _defaults.setInteger(selectedCollection(), DefSelectedCollection);
            emit collectionMoved(oldFolder, newFolder);
        } else {
            _message(tr("Frame Set Not Renamed"), error);
        }
    }
    _showSelected();
}

void ThumbnailController::_reloadCollection(int collection)
{
    {
        const QScopedValueRollback refilling(_refilling, true);
        _frames->setFrames(
            collection, FrameLibrary::collectionForFolder(_frames->collection(collection).folder));
    }
    if (collection == _frames->selected())
        _selectCollection(_collectionPop->rowOfCollection(collection));
}

void ThumbnailController::revealUserFolder()
{
    const QString folder = FrameLibrary::userFrameFolder();
    if (folder.isEmpty()) {
        _message(tr("Folder Not Available"),
                 tr("The folder for your own frame sets cannot be made."));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void ThumbnailController::deleteSelected()
{
    const int row = _tableView->selectedRow();
    if (row < 0 || row >= _frames->rowCount())
        return;
    if (!_frames->userSelected()) {
        _message(tr("Frame Not Deleted"), tr("Built-in frame sets cannot be modified."));
        return;
    }
    if (_prompt(tr("Confirm Delete"), tr("Deleting a frame cannot be undone."), tr("Delete"),
                tr("Don't Delete")) != 1)
        return;
    // The question ran an event loop; the set on show may have changed meanwhile.
    if (!_frames->userSelected() || row >= _frames->rowCount())
        return;
    const int collection = _frames->selected();
    ThumbnailList frames = _frames->collection(collection).frames;
    QString error;
    if (!FrameLibrary::deleteFrame(frames[row].path, &error)) {
        _message(tr("Frame Not Deleted"), error);
        return;
    }
    frames.removeAt(row);
    {
        const QScopedValueRollback refilling(_refilling, true);
        _frames->setFrames(collection, frames);
    }
    // The deleted frame may be the one on the photo; it is gone from disk now.
    emit frameChosen(QString());
}

bool ThumbnailController::validateDrop(const QMimeData* mime, bool fromThisApplication) const
{
    if (fromThisApplication || !mime || !_frames->userSelected())
        return false;
    if (!mime->hasUrls())
        return false;
    for (const QUrl& url : mime->urls()) {
        const QString scheme = url.scheme().toLower();
        if (url.isLocalFile() || scheme == QLatin1String("http") ||
            scheme == QLatin1String("https"))
            return true;
    }
    return false;
}

QString ThumbnailController::dropRefusal(const QMimeData* mime) const
{
    if (!mime || !mime->hasUrls() || _frames->userSelected() || _frames->selected() < 0)
        return {};
    return tr("Built-in frame sets cannot be changed. Choose one of your own frame sets, or "
              "make one with Create Frame Set, and drop the frames there.");
}

bool ThumbnailController::acceptDrop(const QMimeData* mime)
{
    if (!mime || !_frames->userSelected() || !mime->hasUrls())
        return false;
    const int collection = _frames->selected();
    const QString folder = _frames->collection(collection).folder;
    QStringList paths;
    QUrl remote;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
        else if (remote.isEmpty())
            remote = url;
    }
    int count = 0;
    if (!paths.isEmpty())
        count = FrameLibrary::copyFramesInto(folder, paths);
    else if (!remote.isEmpty())
        count = _downloader->download(remote, folder) ? 1 : 0;
    if (count < 1)
        return false;
    _reloadCollection(collection);
    return true;
}

void ThumbnailController::_downloadFinished(const QString& folder, const QString& savedPath)
{
    const int collection = _frames->collectionInFolder(folder);
    if (savedPath.isEmpty() || collection < 0 ||
        _frames->collection(collection).kind != FrameListModel::Kind::User)
        return;
    _reloadCollection(collection);
}
