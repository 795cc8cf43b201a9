#include "AppController.h"

// Beyond the window: the companion programs, the web links, the update check and the share
// prompt.

#include "app/CompanionPanel.h"
#include "app/OutputPanel.h"
#include "app/SUUpdater.h"
#include "app/SavePanel.h"
#include "app/WebLinks.h"
#include "compositing/PreviewView.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/FileFormat.h"
#include "output/OutputSettings.h"
#include "output/TmpFilePath.h"
#include "ui/ZTWindow.h"

#include <QUrl>

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
     QT_TRANSLATE_NOOP("AppController", "Trimlet crops photos.")},
    {"Shuttlebox", false, WebLinks::ProductShuttlebox, "shuttlebox/",
     QT_TRANSLATE_NOOP("AppController", "Shuttlebox sends files.")},
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

void AppController::sendToTrimlet()
{
    _sendToCompanion(QStringLiteral("Trimlet"));
}

void AppController::sendToShuttlebox()
{
    _sendToCompanion(QStringLiteral("Shuttlebox"));
}

CompanionPanel* AppController::companionPanel(const QString& name)
{
    const Companion* companion = companionNamed(name);
    if (!companion)
        return nullptr;
    QPointer<CompanionPanel>& panel = companion->alwaysTiff ? _trimletPanel : _shuttleboxPanel;
    if (!panel)
        panel = new CompanionPanel(name, tr(companion->purpose), mainWindow());
    return panel;
}

void AppController::_sendToCompanion(const QString& name)
{
    const Companion* companion = companionNamed(name);
    if (!companion || !previewView()->hasImage() || isBusy())
        return;
    QString why;
    QString path;
    if (companion->alwaysTiff) {
        outputPanel()->commitEditing();
        path =
            writeImageToFile(_tmpName(), FileFormat::Tiff, outputSettings()->jpegQuality(), &why);
    } else {
        path = writeTmpFile(&why);
    }
    if (path.isEmpty()) {
        const FileFormat format =
            companion->alwaysTiff ? FileFormat::Tiff : outputSettings()->fileFormat();
        SavePanel::reportFailure(mainWindow(), TmpFilePath::tmpPathForFormat(_tmpName(), format),
                                 why);
        return;
    }
    // Started with the file, so one program opens it; starting it first and handing the
    // file over afterwards would start a second one on desktops without a running
    // instance's hand-over.
    if (_launchApplication(name, path))
        return;
    // The file stays in the temporary folder, which goes at quitting.
    const int answer = mainWindow()->runPromptSheet(companionPanel(name));
    if (answer == 1)
        download(companion->product);
    else if (answer == -1 && !WebLinks::visitPage(QLatin1String(companion->productPage), &why))
        _linkFailed(why);
}

bool AppController::_launchApplication(const QString& name, const QString& file)
{
    return _companionLauncher.launchApplication(name,
                                                file.isEmpty() ? QStringList() : QStringList{file});
}

bool AppController::openURL(const QString& address)
{
    QString why;
    if (WebLinks::openURL(QUrl(address), &why))
        return true;
    _linkFailed(why);
    return false;
}

void AppController::_linkFailed(const QString& why)
{
    mainWindow()->runMessageSheetWithTitle(tr("Unable to Open Link"), why);
}

void AppController::visitWebsite()
{
    openURL(WebLinks::websiteUrl().toString());
}

void AppController::sendMail()
{
    openURL(WebLinks::contactUrl().toString());
}

void AppController::download(int product)
{
    QString why;
    if (!WebLinks::download(product, &why))
        _linkFailed(why);
}

void AppController::downloadTrimlet()
{
    download(WebLinks::ProductTrimlet);
}

void AppController::downloadShuttlebox()
{
    download(WebLinks::ProductShuttlebox);
}

void AppController::checkForUpdates()
{
    _updater->checkForUpdates();
}

void AppController::_checkForUpdatesSilently()
{
    if (_defaults.boolForKey(DefCheckForUpdatesAtStartup))
        _updater->checkForUpdatesInBackground();
}

void AppController::runShareOnFacebookSheet()
{
    if (!_defaults.boolForKey(DefAskToShareOnFacebook))
        return;
    // Not queued: the next launch asks again.
    if (mainWindow()->attachedSheet())
        return;
    const int answer = mainWindow()->runPromptSheetWithTitle(
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
