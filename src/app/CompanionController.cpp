#include "CompanionController.h"

#include "app/AboutWindow.h"
#include "app/CompanionPanel.h"
#include "app/MainInterface.h"
#include "app/MediaBrowser.h"
#include "app/OutputController.h"
#include "app/SUUpdater.h"
#include "app/SavePanel.h"
#include "app/WebLinks.h"
#include "foundation/CommandActions.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/Logging.h"
#include "foundation/UserDefaults.h"
#include "output/FileFormat.h"
#include "output/OutputSettings.h"
#include "output/TmpFilePath.h"
#include "ui/PreviewView.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QStandardPaths>
#include <QUrl>

#include <functional>

namespace {

struct Companion {
    const char* name;
    bool alwaysTiff; // else the output format
    int product;     // WebLinks::Product
    const char* productPage;
    const char* purpose;
};

const Companion kCompanions[] = {
    {"Trimlet", true, WebLinks::ProductTrimlet, "trimlet/",
     QT_TRANSLATE_NOOP("CompanionController", "Trimlet crops photos.")},
    {"Shuttlebox", false, WebLinks::ProductShuttlebox, "shuttlebox/",
     QT_TRANSLATE_NOOP("CompanionController", "Shuttlebox sends files.")},
};

const Companion* companionNamed(const QString& name)
{
    for (const Companion& companion : kCompanions) {
        if (name == QLatin1String(companion.name))
            return &companion;
    }
    return nullptr;
}

const QString kSharePage = QStringLiteral("velluma/fb/");

} // namespace

CompanionController::CompanionController(UserDefaults& defaults, MainInterface& window,
                                         OutputController& output, QObject* parent)
    : QObject(parent), _defaults(defaults), _window(window), _output(output)
{
    _updater = new SUUpdater(_defaults, _window.mainWindow(), this);
    const std::pair<const char*, std::function<void()>> runs[] = {
        {"photoBrowser", [this] { emit photoBrowserRequested(); }},
        {"website", [this] { openURL(WebLinks::websiteUrl().toString()); }},
        {"feedback", [this] { openURL(WebLinks::contactUrl().toString()); }},
        {"downloadTrimlet", [this] { download(WebLinks::ProductTrimlet); }},
        {"downloadShuttlebox", [this] { download(WebLinks::ProductShuttlebox); }},
        {"checkForUpdates", [this] { _updater->checkForUpdates(); }},
        {"about", [this] { _showAboutWindow(); }},
    };
    for (const auto& [identifier, run] : runs) {
        QAction* action = CommandActions::make(identifier, this);
        connect(action, &QAction::triggered, this, run);
        _commands << action;
    }
    connect(this, &CompanionController::photoBrowserRequested, this,
            &CompanionController::openPhotoBrowser);
}

CompanionController::~CompanionController()
{
    // It tells the user through the window, which may go before us.
    delete _updater;
}

void CompanionController::sendToTrimlet()
{
    _sendToCompanion(QStringLiteral("Trimlet"));
}

void CompanionController::sendToShuttlebox()
{
    _sendToCompanion(QStringLiteral("Shuttlebox"));
}

CompanionPanel* CompanionController::companionPanel(const QString& name)
{
    const Companion* companion = companionNamed(name);
    if (!companion)
        return nullptr;
    QPointer<CompanionPanel>& panel = companion->alwaysTiff ? _trimletPanel : _shuttleboxPanel;
    if (!panel)
        panel = new CompanionPanel(name, tr(companion->purpose), _window.mainWindow());
    return panel;
}

void CompanionController::_sendToCompanion(const QString& name)
{
    const Companion* companion = companionNamed(name);
    if (!companion || !_window.previewView()->hasImage() || _output.isBusy())
        return;
    const OutputSettings& settings = _window.outputSettings();
    QString why;
    QString path;
    if (companion->alwaysTiff)
        path = _output.writeImageToFile(_output.tmpName(), FileFormat::Tiff, settings.jpegQuality(),
                                        &why);
    else
        path = _output.writeTmpFile(&why);
    if (path.isEmpty()) {
        const FileFormat format = companion->alwaysTiff ? FileFormat::Tiff : settings.fileFormat();
        SavePanel::reportFailure(_window.mainWindow(),
                                 TmpFilePath::tmpPathForFormat(_output.tmpName(), format), why);
        return;
    }
    // Started with the file, so one program opens it; starting it first and handing the
    // file over afterwards would start a second one on desktops without a running
    // instance's hand-over.
    if (_companionLauncher.launchApplication(name, {path}))
        return;
    // The file stays in the temporary folder, which goes at quitting.
    const int answer = _window.mainWindow()->runPromptSheet(companionPanel(name));
    if (answer == 1)
        download(companion->product);
    else if (answer == -1 && !WebLinks::visitPage(QLatin1String(companion->productPage), &why))
        _linkFailed(why);
}

bool CompanionController::openURL(const QString& address)
{
    QString why;
    if (WebLinks::openURL(QUrl(address), &why))
        return true;
    _linkFailed(why);
    return false;
}

void CompanionController::_linkFailed(const QString& why)
{
    _window.mainWindow()->runMessageSheetWithTitle(tr("Unable to Open Link"), why);
}

void CompanionController::download(int product)
{
    QString why;
    if (!WebLinks::download(product, &why))
        _linkFailed(why);
}

void CompanionController::checkForUpdatesSilently()
{
    if (_defaults.boolForKey(DefCheckForUpdatesAtStartup))
        _updater->checkForUpdatesInBackground();
}

void CompanionController::runShareOnFacebookSheet()
{
    if (!_defaults.boolForKey(DefAskToShareOnFacebook))
        return;
    ZTWindow* window = _window.mainWindow();
    // Not queued: the next launch asks again.
    if (window->attachedSheet())
        return;
    const int answer = window->runPromptSheetWithTitle(
        tr("Share on Facebook"),
        tr("As an independent developer, our single greatest challenge is getting the word "
           "out.  Please consider taking a minute to share Velluma on your Facebook and help "
           "spread the word.\n\nThank you!"),
        tr("Share on Facebook"), tr("Maybe next time"), tr("Don't ask again"));
    if (answer == 1) {
        QString why;
        if (!WebLinks::visitPage(kSharePage, &why))
            _linkFailed(why);
        _defaults.setBool(false, DefAskToShareOnFacebook);
    } else if (answer == -1) {
        _defaults.setBool(false, DefAskToShareOnFacebook);
    }
}

void CompanionController::_showAboutWindow()
{
    if (!_aboutWindow)
        _aboutWindow = new AboutWindow(_window.mainWindow());
    _aboutWindow->showCentred();
}

void CompanionController::openPhotoBrowser()
{
    QString error;
    ZTWindow* window = _window.mainWindow();
    if (!_mediaBrowser) {
        const QString support =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/Velluma/1");
        _mediaBrowser =
            MediaBrowser::initWithAppSupportPath(support, tr("Velluma - Photo Browser"), &error);
        if (!_mediaBrowser) {
            qCWarning(lcVelluma) << "photo browser not installed:" << error;
            window->runMessageSheetWithTitle(
                tr("Unable to open Photo Browser"),
                tr("For the Photo Browser to work, Velluma needs permission to write into the "
                   "Applications Support folder. Try running Velluma from a different user "
                   "account."));
            return;
        }
    }
    if (!_mediaBrowser->open(&error))
        window->runMessageSheetWithTitle(
            tr("Unable to open Photo Browser"),
            tr("The Photo Browser could not be started: %1").arg(error));
}

void CompanionController::closePhotoBrowser()
{
    _mediaBrowser.reset();
}
