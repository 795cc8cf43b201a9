#include "MainInterface.h"

#include "app/AppController.h"
#include "app/CommandTable.h"
#include "app/OutputPanel.h"
#include "compositing/PreviewView.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "foundation/ZTUtility.h"
#include "frames/ThumbnailController.h"
#include "output/OutputSettings.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDockWidget>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const QString kWindowFrameKey = QStringLiteral("mainWindow");
const QString kToolbarIdentifier = QStringLiteral("VellumaToolbar202");

QString translated(const char* text)
{
    return text ? QCoreApplication::translate("CommandTable", text) : QString();
}

QList<QKeySequence> shortcutsFor(const CommandTable::Command& command)
{
    QList<QKeySequence> keys;
    if (command.standardKey != QKeySequence::UnknownKey)
        keys = QKeySequence::keyBindings(command.standardKey);
    if (!command.fallbackKey.isEmpty() && !keys.contains(command.fallbackKey))
        keys.append(command.fallbackKey);
    return keys;
}

} // namespace

MainInterface::MainInterface(UserDefaults& defaults, OutputSettings& settings,
                             AppController& controller)
    : QObject(&controller), _defaults(defaults), _settings(settings)
{
    buildWindow(controller);
    buildActions(controller);
    buildToolbar();
}

MainInterface::~MainInterface()
{
    // The frame panel's controller keeps plain pointers into the window's dock, and the
    // window's widgets refer to the settings: controller first, then window.
    delete _thumbnailController;
    _thumbnailController = nullptr;
    delete _mainWindow;
}

void MainInterface::buildWindow(AppController& controller)
{
    _mainWindow = new ZTWindow;
    _mainWindow->setObjectName(QStringLiteral("mainWindow"));
    _mainWindow->setTitle(QStringLiteral("Velluma"));
    _mainWindow->setWindowIcon(QIcon(Resources::pathFor(QStringLiteral("velluma.svg"))));

    auto* central = new QWidget(_mainWindow);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->setSpacing(4);
    _previewView = new PreviewView(_defaults, central);
    _previewView->setObjectName(QStringLiteral("previewView"));
    _outputPanel = new OutputPanel(_settings, central);
    _outputPanel->setObjectName(QStringLiteral("outputPanel"));
    layout->addWidget(_previewView, 1);
    layout->addWidget(_outputPanel, 0);
    _mainWindow->setCentralWidget(central);
    // The window opens with the picture focused, not the name field's text cursor.
    _previewView->setFocusPolicy(Qt::StrongFocus);
    _previewView->setFocus();

    _thumbnailController = new ThumbnailController(_defaults, _mainWindow, &controller);
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
    _colorPanel->setWindowTitle(tr("Frame Colour"));
    _colorPanel->setModal(false);
    _colorPanel->setWindowModality(Qt::NonModal);
}

void MainInterface::buildActions(AppController& controller)
{
    for (const CommandTable::Menu& menu : CommandTable::menus()) {
        QMenu* added = _mainWindow->menuBar()->addMenu(translated(menu.title));
        added->setObjectName(QLatin1String(menu.name) + QLatin1String("Menu"));
        // The photo browser's item says why it is off.
        added->setToolTipsVisible(true);
        _menus.insert(QLatin1String(menu.name), added);
    }

    for (const CommandTable::Command& command : CommandTable::commands()) {
        auto* action = new QAction(translated(command.text), _mainWindow);
        action->setObjectName(QLatin1String(command.identifier));
        action->setShortcuts(shortcutsFor(command));
        if (command.icon)
            action->setIcon(
                QIcon(Resources::pathFor(QStringLiteral("toolbar/%1.svg").arg(command.icon))));
        if (command.iconText)
            action->setIconText(translated(command.iconText));
        if (command.toolTip)
            action->setToolTip(translated(command.toolTip));
        connect(action, &QAction::triggered, &controller, command.slot);
        _actions.insert(QLatin1String(command.identifier), action);
        if (QMenu* menu = command.menu ? this->menu(QLatin1String(command.menu)) : nullptr) {
            if (command.separatorBefore)
                menu->addSeparator();
            menu->addAction(action);
        } else {
            // Shortcuts of commands outside the menus still work while the window is up.
            _mainWindow->addAction(action);
        }
    }
}

void MainInterface::buildToolbar()
{
    _toolBar = new QToolBar(tr("Toolbar"), _mainWindow);
    _toolBar->setObjectName(kToolbarIdentifier);
    _toolBar->setMovable(false);
    _toolBar->setIconSize(QSize(28, 28));
    _toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const QString& item : CommandTable::defaultToolbarItems()) {
        if (item == QLatin1String(CommandTable::kFlexibleSpace)) {
            auto* spacer = new QWidget(_toolBar);
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            _toolBar->addWidget(spacer);
        } else if (QAction* a = action(item)) {
            _toolBar->addAction(a);
        }
    }
    _mainWindow->addToolBar(Qt::TopToolBarArea, _toolBar);
}

void MainInterface::validateCommands(bool hasPhoto, bool busy)
{
    _lastHasPhoto = hasPhoto;
    _lastBusy = busy;
    const bool browserSystem =
        ZTUtility::systemVersion() >= CommandTable::kPhotoBrowserSystemVersion;
    for (const CommandTable::Command& command : CommandTable::commands()) {
        QAction* a = action(QLatin1String(command.identifier));
        if (!a)
            continue;
        bool allowed = command.rule == CommandTable::Rule::Always || hasPhoto;
        if (command.rule == CommandTable::Rule::PhotoBrowser) {
            allowed = browserSystem && _photoBrowserAvailable;
            // Said only where the system is the reason.
            a->setToolTip(browserSystem ? QString()
                                        : translated(CommandTable::kPhotoBrowserVersionToolTip));
        }
        a->setEnabled(!busy && allowed);
    }
    if (QMenu* sendTo = menu(QStringLiteral("SendTo")))
        sendTo->setEnabled(!sendTo->isEmpty());
}

void MainInterface::setPhotoBrowserAvailable(bool available)
{
    _photoBrowserAvailable = available;
    validateCommands(_lastHasPhoto, _lastBusy);
}

void MainInterface::restoreGeometry()
{
    const QByteArray stored =
        QByteArray::fromBase64(_defaults.stringForKey(kWindowFrameKey).toLatin1());
    if (!stored.isEmpty() && _mainWindow->restoreGeometry(stored))
        return;
    _mainWindow->resize(1120, 780);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), _mainWindow->size());
        frame.moveCenter(screen->availableGeometry().center());
        _mainWindow->move(frame.topLeft());
    }
}

void MainInterface::saveGeometry()
{
    if (_mainWindow)
        _defaults.setString(QString::fromLatin1(_mainWindow->saveGeometry().toBase64()),
                            kWindowFrameKey);
}
