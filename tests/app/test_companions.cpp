// The program beyond its window: the companion programs, the share prompt and the web links.
#include "TestSupport.h"
#include "app/AppController.h"
#include "app/CompanionController.h"
#include "app/CompanionLauncher.h"
#include "app/CompanionPanel.h"
#include "app/MainInterface.h"
#include "app/SUUpdater.h"
#include "app/WebLinks.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/FileFormat.h"
#include "output/OutputSettings.h"
#include "ui/ModalAnswer.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Every scheme a link could have, our companion's own among them.
const QStringList kSchemes = {"http",       "https", "mailto", "file",   "ftp",
                              "javascript", "data",  "smb",    "trimlet"};

bool writeScript(const QString& path, const QString& log)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(log) + "'\n");
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestCompanions : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(_dir.isValid());
        for (const char* folder : {"home/Applications", "apps", "bin", "system"})
            QVERIFY(QDir().mkpath(path(QLatin1String(folder))));
        QFile::remove(path(QStringLiteral("prefs.plist")));
        _defaults = std::make_unique<UserDefaults>(path(QStringLiteral("prefs.plist")));
        _app = std::make_unique<AppController>(*_defaults);
        _app->companions()->companionLauncher().setEnvironment(environment());
    }
    void cleanup()
    {
        _app.reset();
        _defaults.reset();
        for (const char* folder : {"home", "apps", "bin", "system"})
            QDir(path(QLatin1String(folder))).removeRecursively();
    }
    void launchOrder()
    {
        using Kind = CompanionLauncher::Kind;
        const QString log = path(QStringLiteral("log"));
        const QString bundle = path(QStringLiteral("home/Applications/Trimlet.app/Contents/MacOS"));
        QVERIFY(QDir().mkpath(bundle));
        // Put everywhere, in the order of the places; a file without the execute bit is no
        // program and a name in another case still counts.
        const QStringList programs = {"system/Trimlet", "home/Applications/trimlet",
                                      "home/Applications/Trimlet.AppImage", "bin/TRIMLET",
                                      "home/Applications/Trimlet.app/Contents/MacOS/Trimlet"};
        for (const QString& program : programs)
            QVERIFY(writeScript(path(program), log));
        QVERIFY(writeBytes(path(QStringLiteral("bin/trimlet")), ""));
        for (const char* name : {"apps/trimlet.desktop", "apps/com.example.Trimlet.desktop"})
            QVERIFY(writeBytes(path(QLatin1String(name)),
                               "[Desktop Entry]\nType=Application\nName=Trimlet\nExec=" +
                                   QFile::encodeName(path(QStringLiteral("bin/TRIMLET"))) +
                                   " %F\n"));

        const QList<CompanionLauncher::Candidate> expected = {
            {Kind::DesktopEntry, path(QStringLiteral("apps/trimlet.desktop"))},
            {Kind::DesktopEntry, path(QStringLiteral("apps/com.example.Trimlet.desktop"))},
            {Kind::Executable, path(QStringLiteral("bin/TRIMLET"))},
            {Kind::Executable, path(QStringLiteral("home/Applications/trimlet"))},
            {Kind::Executable, path(QStringLiteral("home/Applications/Trimlet.AppImage"))},
            {Kind::Executable,
             path(QStringLiteral("home/Applications/Trimlet.app/Contents/MacOS/Trimlet"))},
            {Kind::Executable, path(QStringLiteral("system/Trimlet"))},
        };
        QCOMPARE(CompanionLauncher::candidates(QStringLiteral("Trimlet"), environment()), expected);
        // A name is never a way out of the folders.
        for (const char* name : {"../Trimlet", "Applications/trimlet", "", ".."})
            QVERIFY(CompanionLauncher::candidates(QLatin1String(name), environment()).isEmpty());
        QVERIFY(!_app->companions()->companionLauncher().launchApplication(
            QStringLiteral("Shuttlebox"), {}));

        // Found only in ~/Applications: the earlier places are tried and passed over.
        for (const char* gone : {"apps/trimlet.desktop", "apps/com.example.Trimlet.desktop",
                                 "bin/TRIMLET", "system/Trimlet"})
            QVERIFY(QFile::remove(path(QLatin1String(gone))));
        QString launched;
        QVERIFY(_app->companions()->companionLauncher().launchApplication(
            QStringLiteral("Trimlet"), {QStringLiteral("a b.tiff")}, &launched));
        QCOMPARE(launched, path(QStringLiteral("home/Applications/trimlet")));
        QTRY_COMPARE(readLines(log), QStringList{"a b.tiff"});
    }
    void companionGetsItsFormat_data()
    {
        QTest::addColumn<QString>("companion");
        QTest::addColumn<QString>("where"); // the one place it is found
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<QString>("suffix");
        const auto row = [](const char* companion, const char* where, FileFormat format,
                            const char* suffix) {
            QTest::newRow(where) << QString(companion) << QString(where) << format
                                 << QString(suffix);
        };
        // Trimlet always gets a TIFF; the places themselves are the launch order's business.
        row("Trimlet", "apps/Trimlet.desktop", FileFormat::Jpeg, "tiff");
        row("Shuttlebox", "bin/shuttlebox", FileFormat::Png, "png");
        row("Shuttlebox", "system/Shuttlebox", FileFormat::Jpeg, "jpg");
    }
    void companionGetsItsFormat()
    {
        QFETCH(QString, companion);
        QFETCH(QString, where);
        QFETCH(FileFormat, format);
        QFETCH(QString, suffix);
        const QString log = path(QStringLiteral("log"));
        QFile::remove(log);
        if (where.endsWith(QLatin1String(".desktop"))) {
            const QString program = path(QStringLiteral("program"));
            QVERIFY(writeScript(program, log));
            QVERIFY(writeBytes(path(where),
                               "[Desktop Entry]\nType=Application\nName=" + companion.toUtf8() +
                                   "\nExec=" + QFile::encodeName(program) + " %f\n"));
        } else {
            QVERIFY(writeScript(path(where), log));
        }
        openPhoto();
        _app->outputSettings()->setFileFormat(format);
        companion == QLatin1String("Trimlet") ? _app->companions()->sendToTrimlet()
                                              : _app->companions()->sendToShuttlebox();
        QTRY_COMPARE(readLines(log).size(), 1);
        const QString sent = readLines(log).constFirst();
        QCOMPARE(QFileInfo(sent).suffix(), suffix);
        QCOMPARE(QImage(sent).size(), QSize(30, 20));
        QVERIFY(!_app->mainWindow()->findChild<CompanionPanel*>());
    }
    void missingCompanionOffersItsPages_data()
    {
        QTest::addColumn<QString>("companion");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("opened");
        QTest::newRow("download") << QString("Trimlet") << QString("downloadButton")
                                  << QString("https://velluma.app/download/Trimlet.dmg");
        QTest::newRow("product page") << QString("Shuttlebox") << QString("productPageButton")
                                      << QString("https://velluma.app/shuttlebox/");
        QTest::newRow("nothing") << QString("Trimlet") << QString("cancelButton") << QString();
    }
    void missingCompanionOffersItsPages()
    {
        QFETCH(QString, companion);
        QFETCH(QString, button);
        QFETCH(QString, opened);
        LinkCatcher desktop(kSchemes);
        // Not sent without a photo, so no panel either.
        _app->companions()->sendToTrimlet();
        QVERIFY(!_app->mainWindow()->findChild<CompanionPanel*>());

        openPhoto();
        QString panelName;
        whenModalShown([&panelName, button](QWidget* modal) {
            panelName = modal->objectName();
            modal->findChild<QPushButton*>(button)->click();
        });
        companion == QLatin1String("Trimlet") ? _app->companions()->sendToTrimlet()
                                              : _app->companions()->sendToShuttlebox();
        QCOMPARE(panelName, companion.toLower() + QStringLiteral("Panel"));
        QList<QUrl> expected;
        if (!opened.isEmpty())
            expected << QUrl(opened);
        QCOMPARE(desktop.opened, expected);

        // The help menu's download of the same companion.
        _app->interface()->action(QStringLiteral("download") + companion)->trigger();
        expected << QUrl(QStringLiteral("https://velluma.app/download/%1.dmg").arg(companion));
        QCOMPARE(desktop.opened, expected);
    }
    void sharePromptAcrossLaunches_data()
    {
        QTest::addColumn<int>("earlierLaunches"); // -1: the prompt's turn comes without a launch
        QTest::addColumn<bool>("ask");            // "AskToShareOnFacebook" before
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("askAfter");
        QTest::addColumn<QString>("opened");
        QTest::newRow("sixth launch") << 5 << true << QString() << true << QString();
        QTest::newRow("seventh, maybe next time")
            << 6 << true << "Maybe next time" << true << QString();
        QTest::newRow("share") << -1 << true << "Share on Facebook" << false
                               << "https://velluma.app/velluma/fb/";
        QTest::newRow("don't ask again") << -1 << true << "Don't ask again" << false << QString();
        QTest::newRow("answered for good before") << -1 << false << QString() << false << QString();
    }
    void sharePromptAcrossLaunches()
    {
        QFETCH(int, earlierLaunches);
        QFETCH(bool, ask);
        QFETCH(QString, answer);
        QFETCH(bool, askAfter);
        QFETCH(QString, opened);
        LinkCatcher desktop(kSchemes);
        _defaults->setInteger(earlierLaunches, DefLaunchCount);
        _defaults->setBool(ask, DefAskToShareOnFacebook);
        _defaults->setBool(false, DefCheckForUpdatesAtStartup);
        SheetCatcher prompts(answer, _app->mainWindow());
        const bool shown = !answer.isEmpty();

        QElapsedTimer clock;
        clock.start();
        if (earlierLaunches < 0) {
            _app->companions()->runShareOnFacebookSheet();
        } else {
            _app->applicationDidFinishLaunching();
            QCOMPARE(_defaults->integerForKey(DefLaunchCount), earlierLaunches + 1);
            // A prompt that must not come sends no signal: the second it would wait is waited.
            if (!shown)
                QTest::qWait(1200);
            QTRY_COMPARE(prompts.seen.size(), int(shown));
            QVERIFY2(!shown || clock.elapsed() >= 900, "the prompt came before the window settled");
        }
        QCOMPARE(prompts.seen.size(), int(shown));
        if (shown)
            QCOMPARE(prompts.last().buttons.size(), 3);
        // "Maybe next time" asks again at the next launch; the other answers are for good.
        QCOMPARE(_defaults->boolForKey(DefAskToShareOnFacebook), askAfter);
        QCOMPARE(desktop.opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    }
    void onlyWebAndMailLeave_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens");
        QTest::newRow("https") << "https://velluma.app/velluma/" << true;
        QTest::newRow("http, capitals") << "HTTP://example.org/a?b=c" << true;
        QTest::newRow("mailto") << "mailto:support@velluma.app?subject=Hi" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("custom handler") << "trimlet://open" << false;
        QTest::newRow("web without host") << "https:///etc/passwd" << false;
        QTest::newRow("empty mail") << "mailto:" << false;
    }
    void onlyWebAndMailLeave()
    {
        QFETCH(QString, address);
        QFETCH(bool, opens);
        LinkCatcher desktop(kSchemes);
        QString why;
        QCOMPARE(WebLinks::openURL(QUrl(address), &why), opens);
        QCOMPARE(why.isEmpty(), opens);
        QCOMPARE(desktop.opened.size(), opens ? 1 : 0);
        // The controller says why nothing opened instead of staying mute.
        SheetCatcher told;
        QCOMPARE(_app->companions()->openURL(address), opens);
        QCOMPARE(told.shown(), !opens);

        // Pages stay on the web site.
        QCOMPARE(WebLinks::pageUrl(QStringLiteral("velluma/fb/")),
                 QUrl(QStringLiteral("https://velluma.app/velluma/fb/")));
        for (const char* path : {"//elsewhere.example/", "https://elsewhere.example/", "../up",
                                 "/root", "javascript:alert(1)"})
            QVERIFY2(WebLinks::pageUrl(QLatin1String(path)).isEmpty(), path);
        QVERIFY(!WebLinks::download(0, &why) && !why.isEmpty());
    }
    void answerWaitsForNoSheet_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("share prompt") << "share";
        QTest::newRow("help menu") << "menu";
        QTest::newRow("preferences, Check Now") << "preferences";
    }
    void answerWaitsForNoSheet()
    {
        QFETCH(QString, from);
        _defaults->setBool(true, DefAskToShareOnFacebook);
        _defaults->setString(QString(), DefSUFeedURL); // the answer is ready at once
        QSignalSpy finished(_app->companions()->updater(), &SUUpdater::checkFinished);
        // Another sheet that is up holds the answer back until it goes; the share prompt is not
        // queued but asked again at the next launch.
        QDialog sheet(_app->mainWindow());
        sheet.setWindowModality(Qt::WindowModal);
        sheet.show();
        QTRY_COMPARE(_app->mainWindow()->attachedSheet(), &sheet);
        SheetCatcher prompts(QStringLiteral("Don't ask again"), _app->mainWindow());
        if (from == QLatin1String("share")) {
            _app->companions()->runShareOnFacebookSheet();
            QVERIFY(_defaults->boolForKey(DefAskToShareOnFacebook));
        } else if (from == QLatin1String("menu")) {
            _app->interface()->action(QStringLiteral("checkForUpdates"))->trigger();
        } else {
            whenModalShown(
                [](QWidget* preferences) {
                    preferences->findChild<QPushButton*>(QStringLiteral("checkNowButton"))->click();
                },
                &sheet);
            _app->interface()->action(QStringLiteral("preferences"))->trigger();
        }
        QCoreApplication::processEvents();
        QCOMPARE(_app->companions()->updater()->isChecking(), from != QLatin1String("share"));
        QCOMPARE(prompts.seen.size(), 0);
        QCOMPARE(finished.size(), 0);
        sheet.close();
        QTRY_VERIFY(!_app->mainWindow()->attachedSheet());
        if (from == QLatin1String("share")) {
            _app->companions()->runShareOnFacebookSheet();
            QVERIFY(!_defaults->boolForKey(DefAskToShareOnFacebook));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 3000);
            QCOMPARE(prompts.last().windowTitle, QStringLiteral("Update Error"));
        }
        QCOMPARE(prompts.seen.size(), 1);
    }

private:
    QString path(const QString& name) const { return _dir.filePath(name); }
    // Empty places to look in; a test puts companions where it needs them.
    CompanionLauncher::Environment environment() const
    {
        CompanionLauncher::Environment environment;
        environment.home = path(QStringLiteral("home"));
        environment.applicationFolders = {path(QStringLiteral("apps"))};
        environment.pathFolders = {path(QStringLiteral("bin"))};
        environment.systemApplications = path(QStringLiteral("system"));
        return environment;
    }
    void openPhoto()
    {
        QVERIFY(_app->applicationOpenFile(writePhoto(path("beach.png"), QSize(30, 20))));
    }

    QTemporaryDir _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
};

QTEST_MAIN(TestCompanions)
#include "moc_TestSupport.cpp"
#include "test_companions.moc"
