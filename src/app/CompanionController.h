#pragma once

#include "app/CompanionLauncher.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class AboutWindow;
class CompanionPanel;
class MainInterface;
class MediaBrowser;
class OutputController;
class QAction;
class SUUpdater;
class UserDefaults;

// Beyond the window: the companion programs the framed photo is handed to, the photo
// browser, the web links, the update check, the about window and the share prompt. It runs
// their commands.
class CompanionController : public QObject {
    Q_OBJECT
public:
    CompanionController(UserDefaults& defaults, MainInterface& window, OutputController& output,
                        QObject* parent = nullptr);
    ~CompanionController() override;

    QList<QAction*> commands() const { return _commands; }

    // Hand the framed photo to a companion: Trimlet always gets a TIFF file, Shuttlebox one
    // in the output format. A companion that cannot be started offers its download.
    void sendToTrimlet();
    void sendToShuttlebox();
    CompanionLauncher& companionLauncher() { return _companionLauncher; }
    // The panel shown when the companion of that name cannot be started; made on first use.
    CompanionPanel* companionPanel(const QString& name);

    // Web and mail addresses only (WebLinks); false, after telling the user, otherwise.
    bool openURL(const QString& address);
    // The maker's product of that number (WebLinks::Product) from the web site.
    void download(int product);

    SUUpdater* updater() const { return _updater; }
    // At launch: the silent update check when the user wants it.
    void checkForUpdatesSilently();
    // Asks the user to tell others about the program, unless they answered for good or
    // another sheet is up.
    void runShareOnFacebookSheet();
    // Installs the photo browser on first use and (re)starts it; says so when it cannot.
    void openPhotoBrowser();
    // The browser is the program's child and leaves with it.
    void closePhotoBrowser();

signals:
    // The photo browser's menu item; the browser answers it.
    void photoBrowserRequested();

private:
    void _sendToCompanion(const QString& name);
    void _linkFailed(const QString& why);
    void _showAboutWindow();

    UserDefaults& _defaults;
    MainInterface& _window;
    OutputController& _output;
    QList<QAction*> _commands;
    SUUpdater* _updater = nullptr;
    AboutWindow* _aboutWindow = nullptr;
    std::unique_ptr<MediaBrowser> _mediaBrowser;
    CompanionLauncher _companionLauncher;
    QPointer<CompanionPanel> _trimletPanel;
    QPointer<CompanionPanel> _shuttleboxPanel;
};
