#include "MainInterface.h"

#include "app/OutputPanel.h"
#include "foundation/CommandActions.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "output/OutputSettings.h"
#include "ui/PreviewView.h"
#include "ui/ProxyView.h"
#include "ui/ToolbarCustomizer.h"
#include "ui/ZTWindow.h"
#include "ui/frames/ThumbnailController.h"
#include "ui/targets/TargetController.h"

#include <QAction>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <functional>

namespace {

const QString kWindowFrameKey = QStringLiteral("mainWindow");
const QString kToolbarIdentifier = QLatin1String(CommandTable::kToolbarIdentifier);

QString translated(const char* text)
{
    return text ? QCoreApplication::translate("CommandTable", text) : QString();
}

} // namespace

MainInterface::MainInterface(UserDefaults& defaults, OutputSettings& settings, QObject* parent)
    : QObject(parent), _defaults(defaults), _settings(settings)
{
    buildWindow();
    buildMenus();
    buildSendTo();
    const std::pair<const char*, std::function<void()>> runs[] = {
        {"quit", [this] { _mainWindow->close(); }},
        // The panel can only be brought back, never put away.
        {"showFrames",
         [this] {
             _drawer->show();
             _drawer->raise();
         }},
        {"zoom", [this] { _mainWindow->zoom(); }},
        {"customizeToolbar", [this] { runToolbarCustomization(); }},
    };
    QList<QAction*> own;
    for (const auto& [identifier, run] : runs) {
        QAction* action = CommandActions::make(identifier, this);
        connect(action, &QAction::triggered, this, run);
        own << action;
    }
    addCommands(own);
    addCommands(_targetController->commands());
    addCommands(_thumbnailController->commands());
}

MainInterface::~MainInterface()
{
    // The frame panel's controller keeps plain pointers into the window's dock, and the
    // window's widgets refer to the settings: controllers first, then window.
    delete _targetController;
    _targetController = nullptr;
    delete _thumbnailController;
    _thumbnailController = nullptr;
    delete _mainWindow;
}

void MainInterface::buildWindow()
{
    _mainWindow = new ZTWindow;
    _mainWindow->setObjectName(QStringLiteral("mainWindow"));
    _mainWindow->setTitle(QStringLiteral("Velluma"));
    _mainWindow->setWindowIcon(QIcon(Resources::pathFor(QStringLiteral("velluma.svg"))));

    auto* central = new QWidget(_mainWindow);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->setSpacing(4);
    _previewView = new PreviewView(central);
    _previewView->setObjectName(QStringLiteral("previewView"));
    _previewView->setAccessibleName(tr("Framed photo"));
    _previewView->setAccessibleDescription(
        tr("The photo in its frame; the arrow keys move the photo, with Shift ten times as far"));
    _outputPanel = new OutputPanel(_settings, central);
    _outputPanel->setObjectName(QStringLiteral("outputPanel"));
    _proxyView = new ProxyView(central);
    _proxyView->setObjectName(QStringLiteral("proxyView"));
    _proxyView->setAccessibleName(tr("Framed photo file"));
    _proxyView->setAccessibleDescription(
        tr("Drag this icon to a folder or another program to hand over the framed photo"));
    _proxyView->setEnabledToolTip(
        tr("Drag this icon to a folder or another program to hand over the framed photo"));
    _proxyView->setFileFormat(_settings.fileFormat());
    connect(&_settings, &OutputSettings::fileFormatChanged, _proxyView, &ProxyView::setFileFormat);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(_outputPanel, 1);
    outputRow->addWidget(_proxyView, 0, Qt::AlignVCenter);
    layout->addWidget(_previewView, 1);
    layout->addLayout(outputRow, 0);
    _mainWindow->setCentralWidget(central);
    // The window opens with the picture focused, not the name field's text cursor.
    _previewView->setFocusPolicy(Qt::StrongFocus);
    _previewView->setFocus();

    _thumbnailController = new ThumbnailController(_defaults, _mainWindow, this);
    _drawer = new QDockWidget(tr("Frames"), _mainWindow);
    _drawer->setObjectName(QStringLiteral("drawer"));
    // The frame library is always at hand: it can move but never close.
    _drawer->setFeatures(QDockWidget::DockWidgetMovable);
    _drawer->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    _drawer->setWidget(_thumbnailController->panel());
    _mainWindow->addDockWidget(Qt::RightDockWidgetArea, _drawer);
    _drawer->hide();
    // Says what the last export did differently from what was asked.
    _mainWindow->statusBar()->setSizeGripEnabled(false);
    // The window's own context menu would offer to hide the panel.
    _mainWindow->setContextMenuPolicy(Qt::PreventContextMenu);

    // One colour dialog for the whole run; its choice counts once the user confirms it.
    _colorPanel = new QColorDialog(Qt::white, _mainWindow);
    _colorPanel->setObjectName(QStringLiteral("colorPanel"));
    _colorPanel->setWindowTitle(tr("Frame Color"));
    _colorPanel->setModal(false);
    _colorPanel->setWindowModality(Qt::NonModal);
}

void MainInterface::buildMenus()
{
    for (const CommandTable::Menu& menu : CommandTable::menus()) {
        QMenu* added = _mainWindow->menuBar()->addMenu(translated(menu.title));
        added->setObjectName(QLatin1String(menu.name) + QLatin1String("Menu"));
        added->setToolTipsVisible(true);
        _menus.insert(QLatin1String(menu.name), added);
    }
}

void MainInterface::addCommands(const QList<QAction*>& actions)
{
    for (QAction* action : actions) {
        if (action)
            _actions.insert(action->objectName(), action);
    }
}

void MainInterface::assembleCommands()
{
    for (const CommandTable::Command& command : CommandTable::commands()) {
        QAction* a = action(QLatin1String(command.identifier));
        if (!a)
            continue;
        if (QMenu* menu = command.menu ? this->menu(QLatin1String(command.menu)) : nullptr) {
            if (command.separatorBefore)
                menu->addSeparator();
            menu->addAction(a);
        } else {
            // Shortcuts of commands outside the menus still work while the window is up.
            _mainWindow->addAction(a);
        }
    }
    buildToolbar();
    validateCommands(_hasPhoto, _busy);
}

void MainInterface::buildToolbar()
{
    _toolBar = new QToolBar(tr("Toolbar"), _mainWindow);
    _toolBar->setObjectName(kToolbarIdentifier);
    _toolBar->setMovable(false);
    _toolBar->setIconSize(QSize(28, 28));
    _toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    _mainWindow->addToolBar(Qt::TopToolBarArea, _toolBar);
    QStringList stored;
    for (const QVariant& identifier : _defaults.arrayForKey(kToolbarIdentifier))
        stored << identifier.toString();
    setToolbarItems(stored.isEmpty() ? CommandTable::defaultToolbarItems() : stored);
}

void MainInterface::buildSendTo()
{
    // The preview's context menu and the Send To menu; their items come 0.1 s later.
    _targetController = new TargetController(_defaults, _previewView, _mainWindow, _mainWindow);
    _targetController->setSendToMenu(menu(QStringLiteral("SendTo")));
    connect(_previewView, &PreviewView::doubleClicked, _targetController,
            &TargetController::sendToDefaultDestination);
    connect(_targetController, &TargetController::menusRebuilt, this,
            [this] { validateCommands(_hasPhoto, _busy); });
}

void MainInterface::setToolbarItems(const QStringList& identifiers)
{
    _toolBar->clear();
    qDeleteAll(_toolbarExtras);
    _toolbarExtras.clear();
    QStringList shown;
    for (const QString& identifier : identifiers) {
        const CommandTable::ToolbarItem* item = CommandTable::toolbarItem(identifier);
        // Second copies are dropped; spaces and separators may repeat.
        if ((!item || item->command) && shown.contains(identifier))
            continue;
        shown << identifier;
        if (!item) {
            // A name from another version of the program: kept in its place, so that the
            // user's toolbar comes back whole there, as an item that does nothing.
            auto* bare = new QAction(_toolBar);
            bare->setObjectName(identifier);
            bare->setEnabled(false);
            _toolBar->addAction(bare);
            _toolbarExtras << bare;
        } else if (identifier == QLatin1String(CommandTable::kSeparator)) {
            _toolbarExtras << _toolBar->addSeparator();
        } else if (identifier == QLatin1String(CommandTable::kFlexibleSpace)) {
            auto* spacer = new QWidget(_toolBar);
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            _toolbarExtras << _toolBar->addWidget(spacer);
        } else if (QAction* a = action(QLatin1String(item->command))) {
            _toolBar->addAction(a);
        }
    }
    if (shown == _toolbarItems)
        return;
    _toolbarItems = shown;
    if (shown == CommandTable::defaultToolbarItems())
        _defaults.removeObjectForKey(kToolbarIdentifier);
    else
        _defaults.setObject(QVariant(QVariantList(shown.cbegin(), shown.cend())),
                            kToolbarIdentifier);
}

ToolbarCustomizer* MainInterface::toolbarCustomizer() const
{
    return _customizer;
}

void MainInterface::runToolbarCustomization()
{
    if (_customizer) {
        _customizer->raise();
        return;
    }
    QList<ToolbarCustomizer::Item> allowed;
    for (const CommandTable::ToolbarItem& item : CommandTable::toolbarItems()) {
        QAction* a = item.command ? action(QLatin1String(item.command)) : nullptr;
        allowed.append({QLatin1String(item.identifier), translated(item.paletteLabel),
                        a ? a->icon() : QIcon(), !item.command});
    }
    _customizer = new ToolbarCustomizer(allowed, CommandTable::defaultToolbarItems(), _toolbarItems,
                                        _mainWindow);
    _customizer->setObjectName(QStringLiteral("toolbarCustomizer"));
    _customizer->setAttribute(Qt::WA_DeleteOnClose);
    _customizer->setWindowModality(Qt::WindowModal);
    connect(_customizer, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted)
            setToolbarItems(_customizer->items());
        _customizer = nullptr;
        validateCommands(_hasPhoto, _busy);
    });
    _customizer->open();
    validateCommands(_hasPhoto, _busy);
}

CommandTable::State MainInterface::commandState() const
{
    return {_hasPhoto, _busy, _photoBrowserAvailable, _customizer != nullptr};
}

void MainInterface::validateCommands(bool hasPhoto, bool busy)
{
    _hasPhoto = hasPhoto;
    _busy = busy;
    const CommandTable::State state = commandState();
    for (const CommandTable::Command& command : CommandTable::commands()) {
        if (QAction* a = action(QLatin1String(command.identifier)))
            a->setEnabled(CommandTable::isEnabled(command.rule, state));
    }
    _proxyView->setEnabled(hasPhoto);
    if (_targetController)
        _targetController->validateCommands(state);
    if (QMenu* sendTo = menu(QStringLiteral("SendTo")))
        sendTo->setEnabled(!sendTo->isEmpty());
}

void MainInterface::setPhotoBrowserAvailable(bool available)
{
    _photoBrowserAvailable = available;
    validateCommands(_hasPhoto, _busy);
}

void MainInterface::restoreGeometry()
{
    const QByteArray stored =
        QByteArray::fromBase64(_defaults.stringForKey(kWindowFrameKey).toLatin1());
    if (!stored.isEmpty() && _mainWindow->restoreGeometry(stored)) {
        _mainWindow->keepOnScreen();
        return;
    }
    _mainWindow->placeCentred(QSize(1120, 780));
}

void MainInterface::saveGeometry()
{
    if (_mainWindow)
        _defaults.setString(QString::fromLatin1(_mainWindow->saveGeometry().toBase64()),
                            kWindowFrameKey);
}
