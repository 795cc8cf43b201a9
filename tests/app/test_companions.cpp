// The program beyond its window: the companion programs, the share prompt, the web links and
// the update check against local feeds.
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "app/AppController.h"
#include "app/CompanionController.h"
#include "app/CompanionLauncher.h"
#include "app/MainInterface.h"
#include "app/SUUpdater.h"
#include "app/WebLinks.h"
#include "foundation/Appcast.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "output/FileFormat.h"
#include "output/OutputSettings.h"
#include "ui/ZTWindow.h"

#include <QAction>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// Every scheme a link could have, our companion's own among them.
const QStringList kSchemes = {"http",       "https", "mailto", "file",   "ftp",
                              "javascript", "data",  "smb",    "trimlet"};

// A companion that writes the files it was given into the log.
bool writeScript(const QString& path, const QString& log)
{
    return writeBytes(path,
                      "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(log) + "'\n") &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool writeDesktopEntry(const QString& path, const QString& name, const QString& program)
{
    return writeBytes(path, "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() +
                                "\nExec=" + QFile::encodeName(program) + " %F\n");
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray feed(const QByteArray& items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "<channel><title>Velluma</title>\n" +
           items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& url = "https://velluma.app/v.tgz")
{
    return "<item><title>Velluma " + version + "</title><enclosure url=\"" + url +
           "\" sparkle:version=\"" + version + "\" length=\"10\" type=\"application/x-gzip\"/>" +
           "</item>\n";
}

// Serves the feeds by path, as the update server would.
class FeedServer : public LocalHttpServer {
protected:
    void respond(QTcpSocket* socket, const QByteArray& path) override
    {
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n";
        QByteArray body;
        if (path == "/newer")
            body = feed(item("0.9") + item("2.0.1", "https://velluma.app/Velluma-2.0.1.tgz") +
                        item("1.5"));
        else if (path == "/same")
            body = feed(item("1.0") + item("0.8"));
        else if (path == "/broken")
            body = feed(item("3.0")).left(150);
        else if (path == "/huge") // claims its size and is too large
            body = feed(QByteArray(2 * 1024 * 1024, ' ') + item("3.0"));
        else if (path == "/stream") // says nothing of its size and never ends
            return (void)socket->write(head + "\r\n" + feed(QByteArray(2 * 1024 * 1024, ' ')));
        else if (path == "/slow")
            return;
        else
            head = "HTTP/1.1 404 Not Found\r\n", body = feed(item("3.0"));
        socket->write(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                      body);
        socket->disconnectFromHost();
    }
};

} // namespace

class TestCompanions : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> _dir;
    std::unique_ptr<UserDefaults> _defaults;
    std::unique_ptr<AppController> _app;
    QString path(const QString& name) const { return _dir->filePath(name); }
    // Empty places to look in; a test puts companions where it needs them.
    CompanionLauncher::Environment environment() const
    {
        CompanionLauncher::Environment environment;
        environment.home = path("home");
        environment.applicationFolders = {path("apps")};
        environment.pathFolders = {path("bin")};
        environment.systemApplications = path("system");
        return environment;
    }

private slots:
    void init()
    {
        _dir = std::make_unique<QTemporaryDir>();
        for (const char* folder : {"home/Applications", "apps", "bin", "system"})
            QVERIFY(QDir().mkpath(path(folder)));
        _defaults = std::make_unique<UserDefaults>(path("prefs.plist"));
        _app = std::make_unique<AppController>(*_defaults);
        _app->companions()->companionLauncher().setEnvironment(environment());
    }
    void cleanup()
    {
        _app.reset();
        _defaults.reset();
        _dir.reset();
    }
    void launchOrder()
    {
        using Kind = CompanionLauncher::Kind;
        const QString log = path("log");
        QVERIFY(QDir().mkpath(path("home/Applications/Trimlet.app/Contents/MacOS")));
        // Put everywhere; a file without the execute bit is no program and a name in another
        // case still counts. In the order they are tried:
        const QStringList entries = {"apps/trimlet.desktop", "apps/com.example.Trimlet.desktop"};
        const QStringList programs = {
            "bin/TRIMLET", "home/Applications/trimlet", "home/Applications/Trimlet.AppImage",
            "home/Applications/Trimlet.app/Contents/MacOS/Trimlet", "system/Trimlet"};
        QList<CompanionLauncher::Candidate> expected;
        for (const QString& entry : entries) {
            QVERIFY(writeDesktopEntry(path(entry), "Trimlet", path("bin/TRIMLET")));
            expected.append({Kind::DesktopEntry, path(entry)});
        }
        for (const QString& program : programs) {
            QVERIFY(writeScript(path(program), log));
            expected.append({Kind::Executable, path(program)});
        }
        QVERIFY(writeBytes(path("bin/trimlet"), ""));
        QCOMPARE(CompanionLauncher::candidates(QStringLiteral("Trimlet"), environment()), expected);
        // A name is never a way out of the folders.
        for (const char* name : {"../Trimlet", "Applications/trimlet", "", ".."})
            QVERIFY(CompanionLauncher::candidates(QLatin1String(name), environment()).isEmpty());
        CompanionLauncher& launcher = _app->companions()->companionLauncher();
        QVERIFY(!launcher.launchApplication(QStringLiteral("Shuttlebox"), {}));

        // Found only in ~/Applications: the earlier places are tried and passed over.
        for (const QString& gone : entries + QStringList{"bin/TRIMLET", "system/Trimlet"})
            QVERIFY(QFile::remove(path(gone)));
        QString launched;
        QVERIFY(launcher.launchApplication(QStringLiteral("Trimlet"), {"a b.tiff"}, &launched));
        QCOMPARE(launched, path("home/Applications/trimlet"));
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
        const QString log = path("log");
        QFile::remove(log);
        const bool entry = where.endsWith(QLatin1String(".desktop"));
        QVERIFY(writeScript(entry ? path("program") : path(where), log));
        QVERIFY(!entry || writeDesktopEntry(path(where), companion, path("program")));
        QVERIFY(_app->applicationOpenFile(writePhoto(path("beach.png"), {30, 20})));
        _app->outputSettings()->setFileFormat(format);
        companion == QLatin1String("Trimlet") ? _app->companions()->sendToTrimlet()
                                              : _app->companions()->sendToShuttlebox();
        QTRY_COMPARE(readLines(log).size(), 1);
        const QString sent = readLines(log).constFirst();
        QCOMPARE(QFileInfo(sent).suffix(), suffix);
        QCOMPARE(QImage(sent).size(), QSize(30, 20));
    }
    void sharePromptAcrossLaunches_data()
    {
        QTest::addColumn<int>("earlierLaunches"); // -1: the prompt's turn comes without a launch
        QTest::addColumn<bool>("ask");            // "AskToShareOnFacebook" before
        QTest::addColumn<QString>("answer");      // empty: no prompt may come
        QTest::addColumn<bool>("askAfter");
        QTest::addColumn<bool>("opens");
        const auto row = [](const char* name, int launches, bool ask, const QString& answer,
                            bool askAfter, bool opens) {
            QTest::newRow(name) << launches << ask << answer << askAfter << opens;
        };
        row("sixth launch", 5, true, QString(), true, false);
        // "Maybe next time" asks again at the next launch; the other answers are for good.
        row("seventh, maybe next time", 6, true, SheetCatcher::Escape, true, false);
        row("share", -1, true, QStringLiteral("Share on Facebook"), false, true);
        row("don't ask again", -1, true, QStringLiteral("Don't ask again"), false, false);
        row("answered for good before", -1, false, QString(), false, false);
    }
    void sharePromptAcrossLaunches()
    {
        QFETCH(int, earlierLaunches);
        QFETCH(bool, ask);
        QFETCH(QString, answer);
        QFETCH(bool, askAfter);
        QFETCH(bool, opens);
        LinkCatcher desktop(kSchemes);
        _defaults->setInteger(earlierLaunches, DefLaunchCount);
        _defaults->setBool(ask, DefAskToShareOnFacebook);
        _defaults->setBool(false, DefCheckForUpdatesAtStartup);
        SheetCatcher prompts(answer, _app->mainWindow());
        const bool shown = !answer.isEmpty();
        if (earlierLaunches < 0) {
            _app->companions()->runShareOnFacebookSheet();
        } else {
            _app->applicationDidFinishLaunching();
            QCOMPARE(_defaults->integerForKey(DefLaunchCount), earlierLaunches + 1);
            // A prompt that must not come sends no signal: the second it would wait is waited.
            if (!shown)
                QTest::qWait(1200);
            QTRY_COMPARE(prompts.seen.size(), int(shown));
        }
        QCOMPARE(prompts.seen.size(), int(shown));
        QCOMPARE(_defaults->boolForKey(DefAskToShareOnFacebook), askAfter);
        QCOMPARE(desktop.opened.size(), int(opens));
    }
    void onlyWebAndMailLeave_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opens");
        for (const char* address : {"https://velluma.app/velluma/", "HTTP://example.org/a?b=c",
                                    "mailto:support@velluma.app?subject=Hi"})
            QTest::newRow(address) << QString(address) << true;
        for (const char* address : {"file:///etc/passwd", "javascript:alert(1)", "trimlet://open",
                                    "https:///etc/passwd", "mailto:"})
            QTest::newRow(address) << QString(address) << false;
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
        for (const char* path : {"//elsewhere.example/", "https://elsewhere.example/", "../up",
                                 "/root", "javascript:alert(1)"})
            QVERIFY2(WebLinks::pageUrl(QLatin1String(path)).isEmpty(), path);
        QVERIFY(!WebLinks::download(0, &why) && !why.isEmpty());
    }
    void answerWaitsForNoSheet_data()
    {
        QTest::addColumn<QString>("from");
        for (const char* from : {"share prompt", "help menu"})
            QTest::newRow(from) << QString(from);
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
        const bool share = from.startsWith("share");
        if (share) {
            _app->companions()->runShareOnFacebookSheet();
            QVERIFY(_defaults->boolForKey(DefAskToShareOnFacebook));
        } else {
            _app->interface()->action(QStringLiteral("checkForUpdates"))->trigger();
        }
        QCoreApplication::processEvents();
        QCOMPARE(_app->companions()->updater()->isChecking(), !share);
        QCOMPARE(std::tuple(prompts.seen.size(), finished.size()), std::tuple(0, 0));
        sheet.close();
        QTRY_VERIFY(!_app->mainWindow()->attachedSheet());
        if (share)
            _app->companions()->runShareOnFacebookSheet();
        else
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 3000);
        QCOMPARE(_defaults->boolForKey(DefAskToShareOnFacebook), !share);
        QCOMPARE(prompts.seen.size(), 1);
    }
    void versionsCompare()
    {
        // a, b, and how a compares with b: numbers, not text; trailing zeros; betas before the
        // release; beyond any integer.
        const std::tuple<const char*, const char*, int> cases[] = {
            {"0.1.0", "0.1.0", 0},
            {"1.0", "1.0.0", 0},
            {"1.10", "1.9", 1},
            {"2", "10", -1},
            {"1.007", "1.7", 0},
            {"1.0b2", "1.0", -1},
            {"1.0rc1", "1.0b5", 1},
            {"", "0.0.1", -1},
            {"99999999999999999999999", "99999999999999999998", 1}};
        for (const auto& [a, b, order] : cases)
            QVERIFY2(Appcast::compareVersions(a, b) == order &&
                         Appcast::compareVersions(b, a) == -order,
                     qPrintable(QStringLiteral("%1 vs %2").arg(a, b)));
    }
    void feedIsRead_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("items"); // "version shown url" each; empty: refused
        QTest::newRow("enclosure attributes")
            << feed("<item><enclosure url=\"https://velluma.app/a.tgz\" sparkle:version=\"12\" "
                    "sparkle:shortVersionString=\"1.2\"/></item>")
            << QStringList{"12 1.2 https://velluma.app/a.tgz"};
        QTest::newRow("only web downloads")
            << feed(item("5.0", "file:///bin/sh") + item("6.0", "javascript:x") + item("4.0"))
            << QStringList{"4.0 4.0 https://velluma.app/v.tgz"};
        QTest::newRow("web page") << QByteArray("<html><body>Not here</body></html>")
                                  << QStringList();
        QTest::newRow("cut short") << feed(item("3.0")).left(120) << QStringList();
        QByteArray bomb = "<!ENTITY a \"aaaaaaaaaa\">";
        for (const char* name : {"b", "c", "d", "e"})
            bomb += "<!ENTITY " + QByteArray(name) + " \"" +
                    ("&" + QByteArray(1, char(name[0] - 1)) + ";").repeated(10) + "\">";
        QTest::newRow("entity bomb")
            << "<?xml version=\"1.0\"?><!DOCTYPE rss [" + bomb +
                   "]><rss><channel><item><title>&e;&e;&e;</title></item></channel></rss>"
            << QStringList();
        // Each entity within the reader's own bound, the whole far beyond any feed.
        QTest::newRow("one entity used far too often")
            << "<!DOCTYPE rss [<!ENTITY a \"" + QByteArray(4000, 'a') +
                   "\">]><rss><channel><item><title>" + QByteArray("&a;").repeated(2000) +
                   "</title></item></channel></rss>"
            << QStringList();
    }
    void feedIsRead()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, items);
        QList<Appcast::Item> read;
        QString error;
        QCOMPARE(Appcast::parse(data, &read, &error), !items.isEmpty());
        QCOMPARE(error.isEmpty(), !items.isEmpty());
        QStringList got;
        for (const Appcast::Item& i : read)
            got << QStringList{i.version, i.shortVersion, i.downloadUrl.toString()}.join(' ');
        QCOMPARE(got, items);
    }
    void checkTellsWhatItFound_data()
    {
        QTest::addColumn<QString>("feed"); // a path of the server, or an address
        QTest::addColumn<bool>("asked");   // by the user, or at launch
        QTest::addColumn<int>("answer");   // to a newer version: 1 download, 0 later
        QTest::addColumn<SUUpdater::Result>("result");
        using R = SUUpdater::Result;
        for (const bool asked : {false, true}) {
            const char* who = asked ? "asked" : "launch";
            QTest::addRow("newer, %s", who) << "/newer" << asked << 0 << R::UpdateAvailable;
            QTest::addRow("same, %s", who) << "/same" << asked << 0 << R::UpToDate;
            QTest::addRow("broken, %s", who) << "/broken" << asked << 0 << R::FeedUnreadable;
        }
        QTest::newRow("newer, download") << "/newer" << true << 1 << R::UpdateAvailable;
        for (const char* feed : {"/stream", "/slow", "/nothing", "/huge",
                                 "http://127.0.0.1:1/appcast.xml", "", "file:///etc/hosts"})
            QTest::addRow("feed '%s'", feed) << QString(feed) << true << 0 << R::FeedUnreadable;
    }
    void checkTellsWhatItFound()
    {
        QFETCH(QString, feed);
        QFETCH(bool, asked);
        QFETCH(int, answer);
        QFETCH(SUUpdater::Result, result);
        FeedServer server;
        _defaults->setString(feed.startsWith(QLatin1Char('/')) ? server.url(feed).toString() : feed,
                             DefSUFeedURL);
        SheetCatcher told(answer == 1 ? QString() : SheetCatcher::Escape, _app->mainWindow());
        LinkCatcher desktop;
        SUUpdater& updater = *_app->companions()->updater();
        updater.setCurrentVersion(QStringLiteral("1.0"));
        updater.setLimits(1024 * 1024, 1500);
        QSignalSpy finished(&updater, &SUUpdater::checkFinished);
        QElapsedTimer clock;
        clock.start();
        asked ? updater.checkForUpdates() : updater.checkForUpdatesInBackground();
        // The window goes on meanwhile; only the local "no feed" answer may come at once.
        QVERIFY(clock.elapsed() < 500);
        QVERIFY(updater.isChecking() || !feed.startsWith(QLatin1Char('/')));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
        QCOMPARE(finished.constFirst().constFirst().value<SUUpdater::Result>(), result);
        QVERIFY(!updater.isChecking());
        // At launch only a newer version is told; asked, every answer is.
        const bool newer = result == SUUpdater::Result::UpdateAvailable;
        QCOMPARE(told.seen.size(), int(asked || newer));
        QVERIFY2(!newer || told.last().informative.contains(QStringLiteral("2.0.1")),
                 qPrintable(told.last().informative));
        QCOMPARE(desktop.opened,
                 answer == 1
                     ? QList<QUrl>{QUrl(QStringLiteral("https://velluma.app/Velluma-2.0.1.tgz"))}
                     : QList<QUrl>());
    }
};

QTEST_MAIN(TestCompanions)
#include "moc_TestSupport.cpp"
#include "test_companions.moc"
