#include "TargetController.h"

#include "foundation/CommandActions.h"
#include "foundation/DictionaryAccess.h"
#include "foundation/UserDefaults.h"
#include "targets/ApplicationLauncher.h"
#include "targets/Destination.h"
#include "ui/SheetHost.h"
#include "ui/targets/DestinationSetupSheet.h"
#include "ui/targets/DestinationTableModel.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kNumberedItems = 10;
const char* const kIndexProperty = "destinationIndex";

QKeySequence keyForPosition(int position)
{
    // Ctrl+Alt and the digit of the 1-based position; the tenth takes 0, the key after 9,
    // since a key equivalent of two digits could never be typed.
    if (position < 1 || position > kNumberedItems)
        return {};
    const auto digit = Qt::Key(Qt::Key_0 + position % kNumberedItems);
    return QKeySequence(Qt::CTRL | Qt::ALT | digit);
}

} // namespace

TargetController::TargetController(UserDefaults& defaults, QWidget* previewView,
                                   QWidget* mainWindow, SheetHost* host, QObject* parent)
    : QObject(parent), _defaults(defaults), _previewView(previewView), _mainWindow(mainWindow),
      _host(host)
{
    _contextMenu = new QMenu(previewView ? previewView : mainWindow);
    _contextMenu->setObjectName(QStringLiteral("contextMenu"));
    if (previewView) {
        previewView->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(previewView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
            if (_contextMenu && _previewView && !_contextMenu->isEmpty())
                _contextMenu->popup(_previewView->mapToGlobal(at));
        });
    }
    QAction* trimlet = CommandActions::make("sendToTrimlet", this);
    connect(trimlet, &QAction::triggered, this, &TargetController::sendToTrimletRequested);
    QAction* shuttlebox = CommandActions::make("sendToShuttlebox", this);
    connect(shuttlebox, &QAction::triggered, this, &TargetController::sendToShuttleboxRequested);
    _commands = {trimlet, shuttlebox};
    QTimer::singleShot(kFirstBuildDelayMs, this, &TargetController::destinationsDidChange);
}

TargetController::~TargetController()
{
    delete _setupSheet;
}

void TargetController::setSendToMenu(QMenu* menu)
{
    _sendToMenu = menu;
}

void TargetController::destinationsDidChange()
{
    setupMenu(_contextMenu);
    setupMenu(_sendToMenu);
    validateCommands(_state);
    emit menusRebuilt();
}

void TargetController::setupMenu(QMenu* menu)
{
    if (!menu)
        return;
    // The items are the menu's own, so clearing deletes them too.
    menu->clear();

    const QVariantList records = DestinationList::storedRecords(_defaults);
    const int shown = int(std::min<qsizetype>(records.size(), DestinationList::kMaxMenuItems));
    for (int i = 0; i < shown; ++i) {
        const QVariantMap record = records.at(i).toMap();
        QAction* item = menu->addAction(DestinationTableModel::iconForRecord(record),
                                        Destination::labelForDestination(record));
        item->setShortcut(keyForPosition(i + 1));
        item->setProperty(kIndexProperty, i);
        item->setProperty("tag", DictionaryAccess::integerForKey(record, Destination::KEY_TAG));
        connect(item, &QAction::triggered, this, [this, item] { _sendTo(item); });
    }
    if (shown > 0)
        menu->addSeparator();
    QAction* trimlet = menu->addAction(tr("Open in Trimlet"));
    trimlet->setObjectName(QStringLiteral("openInTrimlet"));
    trimlet->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C));
    connect(trimlet, &QAction::triggered, this, &TargetController::sendToTrimletRequested);
    QAction* shuttlebox = menu->addAction(tr("Open in Shuttlebox"));
    shuttlebox->setObjectName(QStringLiteral("openInShuttlebox"));
    shuttlebox->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
    connect(shuttlebox, &QAction::triggered, this, &TargetController::sendToShuttleboxRequested);
    menu->addSeparator();
    QAction* setupItem = menu->addAction(tr("Setup Destinations"));
    setupItem->setObjectName(QStringLiteral("setupDestinations"));
    setupItem->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Comma));
    connect(setupItem, &QAction::triggered, this, [this] { setup(); });
}

void TargetController::validateCommands(const CommandTable::State& state)
{
    _state = state;
    const bool enabled = CommandTable::isEnabled(CommandTable::Rule::NeedsPhoto, state);
    for (QMenu* menu : {_contextMenu.data(), _sendToMenu.data()}) {
        if (!menu)
            continue;
        for (QAction* item : menu->actions()) {
            const bool needsPhoto = item->property(kIndexProperty).isValid() ||
                                    item->objectName() == QLatin1String("openInTrimlet") ||
                                    item->objectName() == QLatin1String("openInShuttlebox");
            if (needsPhoto)
                item->setEnabled(enabled);
        }
    }
}

void TargetController::_sendTo(QAction* item)
{
    // The destination items come first in their menu, so the position is the item's.
    const QMenu* menu = qobject_cast<QMenu*>(item->parent());
    const int index =
        menu ? int(menu->actions().indexOf(item)) : item->property(kIndexProperty).toInt();
    sendToDestinationAtIndex(index);
}

void TargetController::sendToDestinationAtIndex(int index)
{
    // The photo as validateCommands last reported it: the view draws the document, it does
    // not hold it.
    if (!_state.hasPhoto || _state.busy || _state.customizing)
        return;
    const QVariantList records = DestinationList::storedRecords(_defaults);
    if (index < 0 || index >= records.size())
        return;
    const QVariantMap record = records.at(index).toMap();
    const QString label = record.value(Destination::KEY_LABEL).toString();
    if (!Destination::isAvailable(record)) {
        // Kept in its place so that the positions after it still mean what they did.
        _tellUser(label.isEmpty() ? tr("Destination Unavailable")
                                  : tr("“%1” Is Unavailable").arg(label),
                  tr("Destination %1 of the list has no location to send to. Choose Setup "
                     "Destinations to remove it or to add the folder or application again.")
                      .arg(index + 1));
        return;
    }
    const QString destination =
        Destination::expandedPath(record.value(Destination::KEY_DESTINATION).toString());
    switch (Destination::targetType(record)) {
    case Destination::Folder:
        // The destination may have gone since it was set up; saving into it would fail
        // later with a less helpful message.
        if (!QFileInfo(destination).isDir()) {
            _tellUser(tr("Unable to Save in “%1”").arg(label),
                      tr("The folder “%1” no longer exists. Choose Setup Destinations to "
                         "change the list.")
                          .arg(destination));
            return;
        }
        emit saveDocumentInFolderRequested(destination);
        return;
    case Destination::Application: {
        const QString title = tr("Unable to Open in “%1”").arg(label);
        // Before rendering: a missing application should not cost a full-size export.
        if (QFileInfo(destination).isAbsolute() && !QFileInfo::exists(destination)) {
            _tellUser(title, tr("The application “%1” no longer exists. Choose Setup "
                                "Destinations to change the list.")
                                 .arg(destination));
            return;
        }
        QString error;
        const QString file = _writeTmpFile ? _writeTmpFile(&error) : QString();
        if (file.isEmpty()) {
            _tellUser(title,
                      error.isEmpty() ? tr("The framed photo could not be written.") : error);
            return;
        }
        if (!ApplicationLauncher::openFile(file, destination, &error))
            _tellUser(title, error);
        return;
    }
    default:
        return;
    }
}

void TargetController::sendToDefaultDestination()
{
    sendToDestinationAtIndex(DestinationList::storedDefault(_defaults));
}

int TargetController::setup()
{
    if (!_setupSheet)
        _setupSheet = new DestinationSetupSheet(_defaults, _destinations, _mainWindow);
    _setupSheet->prepare();
    const int result = _host ? _host->runPromptSheet(_setupSheet) : _setupSheet->exec();
    if (result != 0) {
        _destinations.store(_defaults);
        destinationsDidChange();
    }
    return result;
}

void TargetController::_tellUser(const QString& title, const QString& message)
{
    if (_host)
        _host->runMessageSheetWithTitle(title, message);
}
