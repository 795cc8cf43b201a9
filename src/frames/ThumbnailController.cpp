#include "ThumbnailController.h"

#include "foundation/CommandActions.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/SheetHost.h"
#include "foundation/UserDefaults.h"
#include "frames/CollectionPopUp.h"
#include "frames/FrameDownloader.h"
#include "frames/FrameLibrary.h"
#include "frames/FramePanel.h"
#include "frames/ThumbnailTableView.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMimeData>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTableWidgetItem>

namespace {

const ThumbnailList& emptyList()
{
    static const ThumbnailList empty;
    return empty;
}

} // namespace

static_assert(ThumbnailController::RenameFrameSetTag - ThumbnailController::CreateFrameSetTag ==
                  CollectionRows::CommandCount - 1,
              "the command rows follow the tags in order");

ThumbnailController::ThumbnailController(UserDefaults& defaults, SheetHost* sheets, QObject* parent)
    : QObject(parent), _defaults(defaults), _sheetHost(sheets)
{
    // The window holding the sheets may be deleted before us.
    if (auto* object = dynamic_cast<QObject*>(sheets)) {
        _sheetHostObject = object;
        _sheetHostIsObject = true;
    }
    _downloader = new FrameDownloader(this);
    connect(_downloader, &FrameDownloader::downloadFinished, this,
            &ThumbnailController::_downloadFinished);

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
    panel->popUp()->setKeySelectable([this](int row) { return _rows().isCollection(row); });
    _tableView = panel->table();
    connect(_collectionPop, &QComboBox::activated, this, &ThumbnailController::selectCollection);
    connect(_tableView, &ThumbnailTableView::deleteRequested, this,
            &ThumbnailController::deleteSelected);
    connect(_tableView, &QTableWidget::itemSelectionChanged, this,
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

int ThumbnailController::_commandForRow(int row) const
{
    const int command = _rows().commandAt(row);
    return command < 0 ? 0 : CreateFrameSetTag + command;
}

QStringList ThumbnailController::_userNames() const
{
    QStringList names;
    for (const Collection& collection : _userCollections)
        names.append(collection.name);
    return names;
}

QString ThumbnailController::_userFolderAt(int popUpIndex) const
{
    const int u = _rows().userAt(popUpIndex);
    if (u < 0 || _userFrameFolder.isEmpty())
        return {};
    return QDir(_userFrameFolder).filePath(_userCollections[u].name);
}

void ThumbnailController::_showRow(int row)
{
    const QSignalBlocker blocker(_collectionPop);
    _collectionPop->setCurrentIndex(row);
}

void ThumbnailController::_initCollections()
{
    _userFrameFolder = FrameLibrary::userFrameFolder();
    const QString builtinRoot = FrameLibrary::builtinFrameFolder();
    const QStringList builtinNames = FrameLibrary::collectionNamesForFolder(builtinRoot);
    const QStringList userNames = FrameLibrary::collectionNamesForFolder(_userFrameFolder);
    QStringList folders;
    for (const QString& name : builtinNames)
        folders.append(QDir(builtinRoot).filePath(name));
    for (const QString& name : userNames)
        folders.append(QDir(_userFrameFolder).filePath(name));
    // Every frame of both roots in one batch, so both cores stay busy across collections.
    const QList<ThumbnailList> lists = FrameLibrary::collectionsForFolders(folders);

    _builtinCollections.clear();
    _userCollections.clear();
    for (int i = 0; i < builtinNames.size(); ++i)
        _builtinCollections.append({builtinNames[i], lists.value(i)});
    for (int i = 0; i < userNames.size(); ++i)
        _userCollections.append({userNames[i], lists.value(builtinNames.size() + i)});

    {
        const QSignalBlocker blocker(_collectionPop);
        _collectionPop->clear();
        for (const QString& name : builtinNames)
            _collectionPop->addItem(name);
        _collectionPop->insertSeparator(_collectionPop->count());
        for (const QString& name : userNames)
            _collectionPop->addItem(name);
        _collectionPop->insertSeparator(_collectionPop->count());
        const QString commandTitles[] = {tr("Create Frame Set"), tr("Remove Frame Set"),
                                         tr("Rename Frame Set")};
        for (int i = 0; i < CollectionRows::CommandCount; ++i)
            _collectionPop->addItem(commandTitles[i], CreateFrameSetTag + i);
        Q_ASSERT(_collectionPop->count() == _rows().count());
    }

    _selectedCollection = -1;
    _selectCollection(_defaults.integerForKey(DefSelectedCollection));
}

void ThumbnailController::_updateCommandStates()
{
    auto* model = qobject_cast<QStandardItemModel*>(_collectionPop->model());
    if (!model)
        return;
    const CollectionRows rows = _rows();
    const bool user = selectedUserCollection() >= 0;
    for (int row = 0; row < _collectionPop->count(); ++row) {
        QStandardItem* item = model->item(row);
        if (!item)
            continue;
        bool enabled = true;
        if (rows.kindOfRow(row) == CollectionRows::Kind::Separator)
            enabled = false;
        else if (rows.kindOfRow(row) == CollectionRows::Kind::Command)
            enabled = user || _commandForRow(row) == CreateFrameSetTag;
        item->setEnabled(enabled);
    }
}

int ThumbnailController::_selectCollection(int index)
{
    const CollectionRows rows = _rows();
    if (!rows.isCollection(index))
        index = rows.fallbackRow();
    _showRow(index);
    _selectedCollection = index;
    _updateCommandStates();

    _reloadTable();
    // What the application controller's refresh did: no frame is chosen after a switch.
    emit frameChosen(QString());

    _defaults.setInteger(index < 0 ? 0 : index, DefSelectedCollection);
    return index;
}

const ThumbnailList& ThumbnailController::selectedThumbnails() const
{
    const CollectionRows rows = _rows();
    switch (rows.kindOfRow(_selectedCollection)) {
    case CollectionRows::Kind::Builtin:
        return _builtinCollections[_selectedCollection].entries;
    case CollectionRows::Kind::User:
        return _userCollections[rows.userAt(_selectedCollection)].entries;
    default:
        return emptyList();
    }
}

void ThumbnailController::_reloadTable()
{
    // Refilling the table is no choice of the user's.
    const QSignalBlocker blocker(_tableView);
    _tableView->clearSelection();
    const ThumbnailList& list = selectedThumbnails();
    _tableView->clearContents();
    _tableView->setRowCount(int(list.size()));
    for (int row = 0; row < list.size(); ++row) {
        auto* item = new QTableWidgetItem;
        item->setData(Qt::DecorationRole, QPixmap::fromImage(list[row].image));
        item->setData(Qt::UserRole, list[row].path);
        const QString name = QFileInfo(list[row].path).completeBaseName();
        item->setText(name);
        item->setToolTip(name);
        item->setData(Qt::AccessibleTextRole, name);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(Qt::AlignCenter);
        _tableView->setItem(row, 0, item);
    }
    _tableView->setCurrentItem(nullptr);
    _tableView->setPlaceholderText(selectedUserCollection() >= 0 ? tr("Drop image files here")
                                                                 : QString());
}

void ThumbnailController::_tableSelectionChanged()
{
    emit frameChosen(selectedFramePath());
}

QString ThumbnailController::selectedFramePath() const
{
    const int row = _tableView->selectedRow();
    const ThumbnailList& list = selectedThumbnails();
    if (row < 0 || row >= list.size())
        return {};
    return list[row].path;
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
        const QSignalBlocker blocker(_tableView);
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
    switch (_commandForRow(popUpIndex)) {
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
    const int u = selectedUserCollection();
    return u < 0 ? QString() : _userCollections[u].name;
}

QString ThumbnailController::currentCollectionPath() const
{
    return _userFolderAt(_selectedCollection);
}

void ThumbnailController::_addCollection()
{
    const QString title = tr("Frame Set Not Created");
    if (_userFrameFolder.isEmpty()) {
        _message(title, tr("The folder for your own frame sets cannot be made."));
        _showRow(_selectedCollection);
        return;
    }
    const std::optional<QString> name = _addCollectionSheet->ask(_sheets(), QString());
    QString error;
    if (!name || !FrameLibrary::createCollection(_userFrameFolder, *name, _userNames(), &error)) {
        if (name)
            _message(title, error);
        // Nothing was made: the set and the frame on the photo stay as they were.
        _showRow(_selectedCollection);
        return;
    }
    _selectCollection(_insertUserCollection({*name, {}}));
}

int ThumbnailController::_insertUserCollection(const Collection& collection)
{
    // Where the next start lists the set (by name, or as "collections.plist" orders the
    // root), so that the stored pop-up index still names it then.
    const QStringList listing = FrameLibrary::collectionNamesForFolder(_userFrameFolder);
    const qsizetype rank = listing.indexOf(collection.name);
    int place = 0;
    for (const Collection& other : std::as_const(_userCollections)) {
        const qsizetype otherRank = listing.indexOf(other.name);
        if (rank < 0 || (otherRank >= 0 && otherRank < rank))
            ++place;
    }
    _userCollections.insert(place, collection);
    const int row = _rows().rowForUser(place);
    const QSignalBlocker blocker(_collectionPop);
    _collectionPop->insertItem(row, collection.name);
    return row;
}

void ThumbnailController::_removeCollection()
{
    const int u = selectedUserCollection();
    if (u < 0) {
        _showRow(_selectedCollection);
        return;
    }
    const int row = _rows().rowForUser(u);
    const QString name = _userCollections[u].name;
    const int answer =
        _prompt(tr("Remove Collection?"), tr("Are you sure you want to remove '%1'").arg(name),
                tr("Remove"), tr("Don't Remove"));
    if (answer == 1) {
        QString error;
        if (FrameLibrary::removeCollection(_userFrameFolder, name, &error)) {
            _userCollections.removeAt(u);
            {
                const QSignalBlocker blocker(_collectionPop);
                _collectionPop->removeItem(row);
            }
            _selectCollection(0);
            return;
        }
        _message(tr("Frame Set Not Removed"), error);
    }
    _showRow(row);
}

void ThumbnailController::_renameCollection()
{
    const int u = selectedUserCollection();
    if (u < 0) {
        _showRow(_selectedCollection);
        return;
    }
    int row = _rows().rowForUser(u);
    const QString oldName = _userCollections[u].name;
    const std::optional<QString> newName = _renameCollectionSheet->ask(_sheets(), oldName);
    QString error;
    if (newName && *newName != oldName) {
        if (FrameLibrary::renameCollection(_userFrameFolder, oldName, *newName, _userNames(),
                                           &error)) {
            Collection collection = _userCollections.takeAt(u);
            {
                const QSignalBlocker blocker(_collectionPop);
                _collectionPop->removeItem(row);
            }
            collection.name = *newName;
            const QString folder = QDir(_userFrameFolder).filePath(*newName);
            for (ThumbnailEntry& entry : collection.entries)
                entry.path = folder + QLatin1Char('/') + QFileInfo(entry.path).fileName();
            // The set stays selected under its new name and place; the table keeps its rows
            // and selection, so its items only need their new paths.
            row = _insertUserCollection(collection);
            _selectedCollection = row;
            _defaults.setInteger(row, DefSelectedCollection);
            for (int r = 0; r < _tableView->rowCount() && r < collection.entries.size(); ++r) {
                if (QTableWidgetItem* item = _tableView->item(r, 0))
                    item->setData(Qt::UserRole, collection.entries[r].path);
            }
        } else {
            _message(tr("Frame Set Not Renamed"), error);
        }
    }
    _showRow(row);
}

void ThumbnailController::_refreshCollection(int popUpIndex)
{
    const QString folder = _userFolderAt(popUpIndex);
    if (folder.isEmpty())
        return;
    _userCollections[_rows().userAt(popUpIndex)].entries =
        FrameLibrary::collectionForFolder(folder);
    _selectCollection(popUpIndex);
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
    if (row < 0 || row >= selectedThumbnails().size())
        return;
    if (selectedUserCollection() < 0) {
        _message(tr("Frame Not Deleted"), tr("Built-in frame sets cannot be modified."));
        return;
    }
    if (_prompt(tr("Confirm Delete"), tr("Deleting a frame cannot be undone."), tr("Delete"),
                tr("Don't Delete")) != 1)
        return;
    // The question ran an event loop; the set on show may have changed meanwhile.
    const int u = selectedUserCollection();
    if (u < 0 || row >= _userCollections[u].entries.size())
        return;
    ThumbnailList& entries = _userCollections[u].entries;
    QString error;
    if (!FrameLibrary::deleteFrame(entries[row].path, &error)) {
        _message(tr("Frame Not Deleted"), error);
        return;
    }
    entries.removeAt(row);
    _reloadTable();
    // The deleted frame may be the one on the photo; it is gone from disk now.
    emit frameChosen(QString());
}

bool ThumbnailController::validateDrop(const QMimeData* mime, bool fromThisApplication) const
{
    if (fromThisApplication || !mime || selectedUserCollection() < 0)
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
    if (!mime || !mime->hasUrls() || selectedUserCollection() >= 0 || _selectedCollection < 0)
        return {};
    return tr("Built-in frame sets cannot be changed. Choose one of your own frame sets, or "
              "make one with Create Frame Set, and drop the frames there.");
}

bool ThumbnailController::acceptDrop(const QMimeData* mime)
{
    if (!mime || selectedUserCollection() < 0 || !mime->hasUrls())
        return false;
    const int row = _selectedCollection;
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
        count = copyFiles(paths, row);
    else if (!remote.isEmpty())
        count = copyURL(remote, row);
    if (count < 1)
        return false;
    _refreshCollection(row);
    return true;
}

int ThumbnailController::copyFiles(const QStringList& paths, int popUpIndex)
{
    const QString folder = _userFolderAt(popUpIndex);
    return folder.isEmpty() ? 0 : FrameLibrary::copyFramesInto(folder, paths);
}

int ThumbnailController::copyURL(const QUrl& url, int popUpIndex)
{
    const QString folder = _userFolderAt(popUpIndex);
    return !folder.isEmpty() && _downloader->download(url, folder) ? 1 : 0;
}

void ThumbnailController::_downloadFinished(const QString& folder, const QString& savedPath)
{
    if (savedPath.isEmpty())
        return;
    const CollectionRows rows = _rows();
    for (int u = 0; u < userCount(); ++u) {
        if (_userFolderAt(rows.rowForUser(u)) != folder)
            continue;
        if (u == selectedUserCollection())
            _refreshCollection(rows.rowForUser(u));
        else
            _userCollections[u].entries = FrameLibrary::collectionForFolder(folder);
        return;
    }
}
