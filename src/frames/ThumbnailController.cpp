#include "ThumbnailController.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameDownloader.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "frames/ThumbnailTableView.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableWidgetItem>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const ThumbnailList& emptyList()
{
    static const ThumbnailList empty;
    return empty;
}

QString nameProblemMessage(FrameLibrary::NameProblem problem, const QString& name)
{
    using P = FrameLibrary::NameProblem;
    switch (problem) {
    case P::Empty:
        return ThumbnailController::tr("Please type a name for the frame set.");
    case P::Separator:
        return ThumbnailController::tr("A frame set name cannot contain \"/\" or \"\\\".");
    case P::Hidden:
        return ThumbnailController::tr("A frame set name cannot begin with \".\".");
    case P::TooLong:
        return ThumbnailController::tr("The name is too long.");
    case P::Exists:
        return ThumbnailController::tr("A frame set named '%1' already exists.").arg(name);
    case P::None:
        break;
    }
    return {};
}

} // namespace

ThumbnailController::ThumbnailController(UserDefaults& defaults, ZTWindow* window, QObject* parent)
    : QObject(parent), _defaults(defaults), _mainWindow(window)
{
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

    _buildPanel();
    _addCollectionSheet = _makeNameSheet(QStringLiteral("addCollectionSheet"),
                                         tr("Name of the new frame set:"), &_addCollectionTF);
    _renameCollectionSheet = _makeNameSheet(QStringLiteral("renameCollectionSheet"),
                                            tr("New name of the frame set:"), &_renameCollectionTF);
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
    _panel = new QWidget;
    _panel->setObjectName(QStringLiteral("framePanel"));
    auto* layout = new QVBoxLayout(_panel);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    _collectionPop = new QComboBox(_panel);
    _collectionPop->setObjectName(QStringLiteral("collectionPopUp"));
    _collectionPop->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    _collectionPop->setMinimumContentsLength(12);
    connect(_collectionPop, &QComboBox::activated, this, &ThumbnailController::selectCollection);
    _collectionPop->installEventFilter(this);
    layout->addWidget(_collectionPop);

    _tableView = new ThumbnailTableView(_panel);
    _tableView->setObjectName(QStringLiteral("thumbnailTable"));
    _tableView->setMinimumWidth(170);
    _tableView->setContextMenuPolicy(Qt::ActionsContextMenu);
    _tableView->addAction(_deleteAction);
    _tableView->addAction(_refreshAction);
    _tableView->addAction(_revealAction);
    layout->addWidget(_tableView, 1);
    connect(_tableView, &ThumbnailTableView::deleteRequested, this,
            &ThumbnailController::deleteSelected);
    connect(_tableView, &QTableWidget::itemSelectionChanged, this,
            &ThumbnailController::_tableSelectionChanged);
    _tableView->setDropHandlers([this](const QMimeData* mime) { return validateDrop(mime, false); },
                                [this](const QMimeData* mime) { return acceptDrop(mime); });

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    for (QAction* action : {_refreshAction, _revealAction}) {
        auto* button = new QToolButton(_panel);
        button->setDefaultAction(action);
        button->setToolButtonStyle(action->icon().isNull() ? Qt::ToolButtonTextOnly
                                                           : Qt::ToolButtonIconOnly);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
}

bool ThumbnailController::eventFilter(QObject* watched, QEvent* event)
{
    // Scrolling the panel over the pop-up would step through its items and run the
    // collection commands at the end of the list.
    if (watched == _collectionPop && event->type() == QEvent::Wheel)
        return true;
    return QObject::eventFilter(watched, event);
}

QDialog* ThumbnailController::_makeNameSheet(const QString& objectName, const QString& prompt,
                                             QLineEdit** field)
{
    auto* sheet = new QDialog;
    sheet->setObjectName(objectName);
    auto* layout = new QVBoxLayout(sheet);
    layout->addWidget(new QLabel(prompt, sheet));
    *field = new QLineEdit(sheet);
    (*field)->setObjectName(QStringLiteral("nameField"));
    (*field)->setMinimumWidth(260);
    layout->addWidget(*field);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(tr("Cancel"), sheet);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setProperty("tag", 0);
    cancel->setAutoDefault(false);
    const bool adding = objectName == QLatin1String("addCollectionSheet");
    auto* confirm = new QPushButton(adding ? tr("Create") : tr("Rename"), sheet);
    confirm->setObjectName(QStringLiteral("confirmButton"));
    confirm->setProperty("tag", 1);
    confirm->setDefault(true);
    row->addWidget(cancel);
    row->addWidget(confirm);
    layout->addLayout(row);
    return sheet;
}

void ThumbnailController::_initCollections()
{
    _collectionPop->blockSignals(true);
    _collectionPop->clear();
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
    for (int i = 0; i < builtinNames.size(); ++i) {
        _builtinCollections.append({builtinNames[i], lists.value(i)});
        _collectionPop->addItem(builtinNames[i]);
    }
    _collectionPop->insertSeparator(_collectionPop->count());
    for (int i = 0; i < userNames.size(); ++i) {
        _userCollections.append({userNames[i], lists.value(builtinNames.size() + i)});
        _collectionPop->addItem(userNames[i]);
    }
    _collectionPop->insertSeparator(_collectionPop->count());
    _collectionPop->addItem(tr("Create Frame Set"), int(CreateFrameSetTag));
    _collectionPop->addItem(tr("Remove Frame Set"), int(RemoveFrameSetTag));
    _collectionPop->addItem(tr("Rename Frame Set"), int(RenameFrameSetTag));
    _collectionPop->blockSignals(false);

    _selectedUserCollection = -1;
    _selectedCollection = -1;
    _selectCollection(_defaults.integerForKey(DefSelectedCollection));
}

int ThumbnailController::_fallbackIndex() const
{
    const int b = builtinCount();
    if (b > 0)
        return 0;
    // Without built-in collections index 0 is the separator; the first user set stands in.
    return userCount() > 0 ? b + 1 : -1;
}

void ThumbnailController::_updateCommandStates()
{
    auto* model = qobject_cast<QStandardItemModel*>(_collectionPop->model());
    if (!model)
        return;
    const bool user = _selectedUserCollection >= 0;
    for (int i = 0; i < _collectionPop->count(); ++i) {
        QStandardItem* item = model->item(i);
        if (!item)
            continue;
        const QVariant tag = _collectionPop->itemData(i);
        const bool separator = i == builtinCount() || i == builtinCount() + userCount() + 1;
        if (separator)
            item->setEnabled(false);
        else if (tag.isValid() &&
                 (tag.toInt() == RemoveFrameSetTag || tag.toInt() == RenameFrameSetTag))
            item->setEnabled(user);
        else
            item->setEnabled(true);
    }
}

int ThumbnailController::_selectCollection(int index)
{
    const int b = builtinCount();
    const int u = userCount();
    if (index == b || index > b + u || index < 0)
        index = _fallbackIndex();

    _collectionPop->blockSignals(true);
    _collectionPop->setCurrentIndex(index);
    _collectionPop->blockSignals(false);
    _selectedCollection = index;
    _selectedUserCollection = (index > b) ? index - b - 1 : -1;
    _updateCommandStates();

    _reloadTable();
    // What the application controller's refresh did: no frame is chosen after a switch.
    emit frameChosen(QString());

    _defaults.setInteger(index < 0 ? 0 : index, DefSelectedCollection);
    return index;
}

const ThumbnailList& ThumbnailController::selectedThumbnails() const
{
    if (_selectedUserCollection >= 0 && _selectedUserCollection < _userCollections.size())
        return _userCollections[_selectedUserCollection].entries;
    if (_selectedCollection >= 0 && _selectedCollection < _builtinCollections.size())
        return _builtinCollections[_selectedCollection].entries;
    return emptyList();
}

void ThumbnailController::_reloadTable()
{
    _reloading = true;
    _tableView->clearSelection();
    const ThumbnailList& list = selectedThumbnails();
    _tableView->clearContents();
    _tableView->setRowCount(int(list.size()));
    for (int row = 0; row < list.size(); ++row) {
        auto* item = new QTableWidgetItem;
        item->setData(Qt::DecorationRole, QPixmap::fromImage(list[row].image));
        item->setData(Qt::UserRole, list[row].path);
        const QString name = QFileInfo(list[row].path).completeBaseName();
        item->setToolTip(name);
        item->setData(Qt::AccessibleTextRole, name);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(Qt::AlignCenter);
        _tableView->setItem(row, 0, item);
    }
    _tableView->setCurrentItem(nullptr);
    _reloading = false;
}

void ThumbnailController::_tableSelectionChanged()
{
    if (_reloading)
        return;
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

void ThumbnailController::deselectAll()
{
    _reloading = true;
    _tableView->clearSelection();
    _reloading = false;
    emit frameChosen(QString());
}

void ThumbnailController::refreshThumbnails()
{
    _initCollections();
}

void ThumbnailController::selectCollection(int popUpIndex)
{
    const QVariant tag = _collectionPop->itemData(popUpIndex);
    if (tag.isValid()) {
        switch (tag.toInt()) {
        case CreateFrameSetTag:
            _addCollection();
            return;
        case RemoveFrameSetTag:
            _removeCollection();
            return;
        case RenameFrameSetTag:
            _renameCollection();
            return;
        default:
            break;
        }
    }
    _selectCollection(popUpIndex);
}

QString ThumbnailController::currentCollectionName() const
{
    if (_selectedUserCollection < 0 || _selectedUserCollection >= _userCollections.size())
        return {};
    return _userCollections[_selectedUserCollection].name;
}

QString ThumbnailController::currentCollectionPath() const
{
    const QString name = currentCollectionName();
    if (name.isEmpty() || _userFrameFolder.isEmpty())
        return {};
    return QDir(_userFrameFolder).filePath(name);
}

namespace {

int runPanel(ZTWindow* window, QDialog* panel)
{
    return window ? window->runPromptSheet(panel) : 0;
}

int runPrompt(ZTWindow* window, const QString& title, const QString& message,
              const QString& defaultButton, const QString& alternateButton)
{
    return window ? window->runPromptSheetWithTitle(title, message, defaultButton, alternateButton)
                  : 0;
}

void runMessage(ZTWindow* window, const QString& title, const QString& message)
{
    if (window)
        window->runMessageSheetWithTitle(title, message);
}

} // namespace

bool ThumbnailController::_refuseName(const QString& name, const QString& title,
                                      const QString& exceptName)
{
    QStringList names;
    for (const Collection& c : std::as_const(_userCollections)) {
        if (c.name != exceptName)
            names.append(c.name);
    }
    const FrameLibrary::NameProblem problem =
        FrameLibrary::checkCollectionName(name, names, _userFrameFolder);
    if (problem == FrameLibrary::NameProblem::None)
        return false;
    runMessage(_mainWindow, title, nameProblemMessage(problem, name));
    return true;
}

void ThumbnailController::_addCollection()
{
    const QString title = tr("Frame Set Not Created");
    if (_userFrameFolder.isEmpty()) {
        runMessage(_mainWindow, title, tr("The folder for your own frame sets cannot be made."));
        _selectCollection(_selectedCollection);
        return;
    }
    _addCollectionTF->clear();
    if (runPanel(_mainWindow, _addCollectionSheet) == 0) {
        _selectCollection(_selectedCollection);
        return;
    }
    const QString name = _addCollectionTF->text().trimmed();
    if (_refuseName(name, title, QString())) {
        _selectCollection(_selectedCollection);
        return;
    }
    if (!QDir(_userFrameFolder).mkdir(name)) {
        runMessage(_mainWindow, title, tr("The folder '%1' could not be made.").arg(name));
        _selectCollection(_selectedCollection);
        return;
    }
    FrameLibrary::updateCollectionOrder(_userFrameFolder, QString(), name);
    const int index = builtinCount() + userCount() + 1;
    _userCollections.append({name, {}});
    _collectionPop->blockSignals(true);
    _collectionPop->insertItem(index, name);
    _collectionPop->blockSignals(false);
    _selectCollection(index);
}

namespace {

// Moves the folder out of sight first, so that a removal failing half-way never leaves a
// half-emptied collection on show.
bool removeCollectionFolder(const QString& root, const QString& name)
{
    const QString path = QDir(root).filePath(name);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    QString hidden;
    for (int i = 0; i < 1000; ++i) {
        const QString candidate =
            QDir(root).filePath(QStringLiteral(".removing-%1-%2").arg(name).arg(i));
        if (!QFileInfo::exists(candidate)) {
            hidden = candidate;
            break;
        }
    }
    if (hidden.isEmpty() || !QDir(root).rename(name, QFileInfo(hidden).fileName()))
        return false;
    QDir(hidden).removeRecursively();
    return true;
}

} // namespace

void ThumbnailController::_removeCollection()
{
    if (_selectedUserCollection < 0) {
        _selectCollection(_selectedCollection);
        return;
    }
    const int p = builtinCount() + 1 + _selectedUserCollection;
    const QString name = _collectionPop->itemText(p);
    const int answer = runPrompt(_mainWindow, tr("Remove Collection?"),
                                 tr("Are you sure you want to remove '%1'").arg(name), tr("Remove"),
                                 tr("Don't Remove"));
    if (answer == 1) {
        if (!_userFrameFolder.isEmpty() && removeCollectionFolder(_userFrameFolder, name)) {
            FrameLibrary::updateCollectionOrder(_userFrameFolder, name, QString());
            _userCollections.removeAt(_selectedUserCollection);
            _collectionPop->blockSignals(true);
            _collectionPop->removeItem(p);
            _collectionPop->blockSignals(false);
            _selectedUserCollection = -1;
            _selectCollection(0);
            return;
        }
        runMessage(_mainWindow, tr("Frame Set Not Removed"),
                   tr("The folder of '%1' could not be removed.").arg(name));
    }
    _collectionPop->blockSignals(true);
    _collectionPop->setCurrentIndex(p);
    _collectionPop->blockSignals(false);
}

void ThumbnailController::_renameCollection()
{
    if (_selectedUserCollection < 0) {
        _selectCollection(_selectedCollection);
        return;
    }
    const int p = builtinCount() + 1 + _selectedUserCollection;
    const QString oldName = _collectionPop->itemText(p);
    _renameCollectionTF->setText(oldName);
    _renameCollectionTF->selectAll();
    const int answer = runPanel(_mainWindow, _renameCollectionSheet);
    const QString newName = _renameCollectionTF->text().trimmed();
    if (answer != 0 && newName != oldName &&
        !_refuseName(newName, tr("Frame Set Not Renamed"), oldName)) {
        QDir root(_userFrameFolder);
        if (!_userFrameFolder.isEmpty() && root.rename(oldName, newName)) {
            FrameLibrary::updateCollectionOrder(_userFrameFolder, oldName, newName);
            _collectionPop->setItemText(p, newName);
            Collection& collection = _userCollections[_selectedUserCollection];
            collection.name = newName;
            const QString folder = root.filePath(newName);
            for (ThumbnailEntry& entry : collection.entries)
                entry.path = folder + QLatin1Char('/') + QFileInfo(entry.path).fileName();
            // Rows keep their order, so the table's items only need their new paths.
            for (int row = 0; row < _tableView->rowCount() && row < collection.entries.size();
                 ++row) {
                if (QTableWidgetItem* item = _tableView->item(row, 0))
                    item->setData(Qt::UserRole, collection.entries[row].path);
            }
        } else {
            runMessage(_mainWindow, tr("Frame Set Not Renamed"),
                       tr("'%1' could not be renamed.").arg(oldName));
        }
    }
    _collectionPop->blockSignals(true);
    _collectionPop->setCurrentIndex(p);
    _collectionPop->blockSignals(false);
}

void ThumbnailController::_refreshCollection(int popUpIndex)
{
    const int u = popUpIndex - builtinCount() - 1;
    if (u < 0 || u >= userCount())
        return;
    const QString folder = QDir(_userFrameFolder).filePath(_userCollections[u].name);
    _userCollections[u].entries = FrameLibrary::collectionForFolder(folder);
    _selectCollection(popUpIndex);
}

void ThumbnailController::revealUserFolder()
{
    const QString folder = FrameLibrary::userFrameFolder();
    if (folder.isEmpty()) {
        runMessage(_mainWindow, tr("Folder Not Available"),
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
    if (_selectedUserCollection < 0) {
        runMessage(_mainWindow, tr("Frame Not Deleted"),
                   tr("Built-in frame sets cannot be modified."));
        return;
    }
    const int answer =
        runPrompt(_mainWindow, tr("Confirm Delete"), tr("Deleting a frame cannot be undone."),
                  tr("Delete"), tr("Don't Delete"));
    if (answer != 1)
        return;
    ThumbnailList& entries = _userCollections[_selectedUserCollection].entries;
    if (row >= entries.size())
        return;
    const QString path = entries[row].path;
    if (!QFile::remove(path) && QFileInfo::exists(path)) {
        runMessage(_mainWindow, tr("Frame Not Deleted"),
                   tr("'%1' could not be deleted.").arg(QFileInfo(path).fileName()));
        return;
    }
    entries.removeAt(row);
    _reloadTable();
    // The deleted frame may be the one on the photo; it is gone from disk now.
    emit frameChosen(QString());
}

bool ThumbnailController::validateDrop(const QMimeData* mime, bool fromThisApplication) const
{
    if (fromThisApplication || !mime || _selectedUserCollection < 0)
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

bool ThumbnailController::acceptDrop(const QMimeData* mime)
{
    if (!mime || _selectedUserCollection < 0 || !mime->hasUrls())
        return false;
    const int p = builtinCount() + 1 + _selectedUserCollection;
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
        count = copyFiles(paths, p);
    else if (!remote.isEmpty())
        count = copyURL(remote, p);
    if (count < 1)
        return false;
    _refreshCollection(p);
    return true;
}

int ThumbnailController::copyFiles(const QStringList& paths, int popUpIndex)
{
    const int u = popUpIndex - builtinCount() - 1;
    if (u < 0 || u >= userCount() || _userFrameFolder.isEmpty())
        return 0;
    const QString folder = QDir(_userFrameFolder).filePath(_userCollections[u].name);
    if (!QFileInfo(folder).isDir())
        return 0;
    int count = 0;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        // A hidden name would be copied and never shown.
        if (name.isEmpty() || name.startsWith(QLatin1Char('.')) ||
            !ThumbnailCache::isImageFile(path))
            continue;
        const QString destination = QDir(folder).filePath(name);
        const bool taken = QFileInfo::exists(destination) || QFileInfo(destination).isSymLink();
        // An existing file of that name stays; only its thumbnail is made afresh.
        if (!taken && !QFile::copy(path, destination))
            continue;
        QFile::remove(ThumbnailCache::cachePathForPath(destination));
        ++count;
    }
    return count;
}

int ThumbnailController::copyURL(const QUrl& url, int popUpIndex)
{
    const int u = popUpIndex - builtinCount() - 1;
    if (u < 0 || u >= userCount() || _userFrameFolder.isEmpty())
        return 0;
    const QString folder = QDir(_userFrameFolder).filePath(_userCollections[u].name);
    return _downloader->download(url, folder) ? 1 : 0;
}

void ThumbnailController::_downloadFinished(const QString& folder, const QString& savedPath)
{
    if (savedPath.isEmpty() || _userFrameFolder.isEmpty())
        return;
    for (int u = 0; u < userCount(); ++u) {
        if (QDir(_userFrameFolder).filePath(_userCollections[u].name) != folder)
            continue;
        if (u == _selectedUserCollection)
            _refreshCollection(builtinCount() + 1 + u);
        else
            _userCollections[u].entries = FrameLibrary::collectionForFolder(folder);
        return;
    }
}
