// The update check: versions, the feed, and what the user is told for each kind of answer.
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "app/SUUpdater.h"
#include "foundation/Appcast.h"
#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "ui/SheetHost.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QByteArray feed(const QByteArray& items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
           "sparkle\">\n<channel><title>Velluma</title>\n" +
           items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& url = "https://velluma.app/v.tgz")
{
    return "<item><title>Velluma " + version + "</title><enclosure url=\"" + url +
           "\" sparkle:version=\"" + version +
           "\" length=\"10\" type=\"application/x-gzip\"/>"
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
        if (path != "/stream")
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        socket->write(head + "\r\n" + body);
        socket->disconnectFromHost();
    }
};

// The window's sheets: what the user was told, answered as a test says.
class RecordingHost : public SheetHost {
public:
    int answer = 0;
    QStringList told;
    int runPromptSheet(QDialog*) override { return 0; }
    int runPromptSheetWithTitle(const QString& title, const QString& message, const QString&,
                                const QString&, const QString&) override
    {
        told << title + QLatin1String(": ") + message;
        return answer;
    }
    void runMessageSheetWithTitle(const QString& title, const QString& message) override
    {
        told << title + QLatin1String(": ") + message;
    }
};

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT
private slots:
    void versionsCompare_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        const auto row = [](const char* a, const char* b, int order) {
            QTest::addRow("%s vs %s", a, b) << QString(a) << QString(b) << order;
        };
        row("0.1.0", "0.1.0", 0);
        row("1.0", "1.0.0", 0); // trailing zeros
        row("1.10", "1.9", 1);  // numbers, not text
        row("2", "10", -1);
        row("1.007", "1.7", 0);
        row("1.0b2", "1.0", -1); // beta before release
        row("1.0rc1", "1.0b5", 1);
        row("99999999999999999999999", "99999999999999999998", 1); // beyond any integer
        row("", "0.0.1", -1);
    }
    void versionsCompare()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(Appcast::compareVersions(a, b), order);
        QCOMPARE(Appcast::compareVersions(b, a), -order);
    }
    void feedIsRead_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("items"); // "version shown url" each
        QTest::newRow("enclosure attributes")
            << feed("<item><enclosure url=\"https://velluma.app/a.tgz\" sparkle:version=\"12\" "
                    "sparkle:shortVersionString=\"1.2\"/></item>")
            << true << QStringList{"12 1.2 https://velluma.app/a.tgz"};
        QTest::newRow("elements, link, another prefix")
            << QByteArray("<rss xmlns:su=\"x\"><channel><item><su:version>2.0</su:version>"
                          "<link> http://velluma.app/2/ </link></item></channel></rss>")
            << true << QStringList{"2.0 2.0 http://velluma.app/2/"};
        QTest::newRow("only web downloads")
            << feed(item("5.0", "file:///bin/sh") + item("6.0", "javascript:x") + item("4.0"))
            << true << QStringList{"4.0 4.0 https://velluma.app/v.tgz"};
        QTest::newRow("web page") << QByteArray("<html><body>Not here</body></html>") << false
                                  << QStringList();
        QTest::newRow("cut short") << feed(item("3.0")).left(120) << false << QStringList();
        QTest::newRow("entity bomb")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\">"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                          "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                          "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                          "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
                          "<rss><channel><item><title>&e;&e;&e;</title></item></channel></rss>")
            << false << QStringList();
        // Each entity within the reader's own bound, the whole far beyond any feed.
        QTest::newRow("one entity used far too often")
            << "<!DOCTYPE rss [<!ENTITY a \"" + QByteArray(4000, 'a') +
                   "\">]><rss><channel><item><title>" + QByteArray("&a;").repeated(2000) +
                   "</title></item></channel></rss>"
            << false << QStringList();
        QTest::newRow("entity for a version")
            << QByteArray("<!DOCTYPE rss [<!ENTITY v \"2.0\">]><rss><channel><item><s:version>&v;"
                          "</s:version><link>http://velluma.app/2/</link></item></channel></rss>")
            << true << QStringList{"2.0 2.0 http://velluma.app/2/"};
    }
    void feedIsRead()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, ok);
        QFETCH(QStringList, items);
        QList<Appcast::Item> read;
        QString error;
        QCOMPARE(Appcast::parse(data, &read, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        QStringList got;
        for (const Appcast::Item& i : read)
            got << i.version + QLatin1Char(' ') + i.shortVersion + QLatin1Char(' ') +
                       i.downloadUrl.toString();
        QCOMPARE(got, items);
    }
    void checkTellsWhatItFound_data()
    {
        QTest::addColumn<QString>("feed"); // a path of the server, or an address
        QTest::addColumn<bool>("asked");   // by the user, or at launch
        QTest::addColumn<int>("answer");   // to a newer version: 1 download, 0 later
        QTest::addColumn<SUUpdater::Result>("result");
        QTest::addColumn<QString>("told"); // the start of what the user was told, or nothing
        using R = SUUpdater::Result;
        const QString newer =
            QStringLiteral("A new version of Velluma is available!: Velluma 2.0.1 is "
                           "now available; you have 1.0.");
        const QString error = QStringLiteral("Update Error: ");
        for (const bool asked : {false, true}) {
            const char* who = asked ? "asked" : "launch";
            QTest::addRow("newer, %s", who)
                << "/newer" << asked << 0 << R::UpdateAvailable << newer;
            QTest::addRow("same, %s", who)
                << "/same" << asked << 0 << R::UpToDate
                << (asked ? QStringLiteral("You're up to date!: Velluma 1.0 is") : QString());
            QTest::addRow("broken, %s", who)
                << "/broken" << asked << 0 << R::FeedUnreadable << (asked ? error : QString());
        }
        QTest::newRow("newer, download") << "/newer" << true << 1 << R::UpdateAvailable << newer;
        QTest::newRow("endless") << "/stream" << true << 0 << R::FeedUnreadable << error;
        QTest::newRow("silent server") << "/slow" << true << 0 << R::FeedUnreadable << error;
        QTest::newRow("not found") << "/nothing" << true << 0 << R::FeedUnreadable << error;
        QTest::newRow("huge") << "/huge" << true << 0 << R::FeedUnreadable << error;
        QTest::newRow("unreachable")
            << "http://127.0.0.1:1/appcast.xml" << true << 0 << R::FeedUnreadable << error;
        QTest::newRow("no feed set") << "" << true << 0 << R::FeedUnreadable << error;
        QTest::newRow("feed on disk")
            << "file:///etc/hosts" << true << 0 << R::FeedUnreadable << error;
    }
    void checkTellsWhatItFound()
    {
        QFETCH(QString, feed);
        QFETCH(bool, asked);
        QFETCH(int, answer);
        QFETCH(SUUpdater::Result, result);
        QFETCH(QString, told);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("prefs.plist")));
        FeedServer server;
        defaults.setString(feed.startsWith(QLatin1Char('/')) ? server.url(feed).toString() : feed,
                           DefSUFeedURL);
        RecordingHost host;
        host.answer = answer;
        LinkCatcher desktop;

        SUUpdater updater(defaults, &host);
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
        if (told.isEmpty()) {
            QCOMPARE(host.told, QStringList());
        } else {
            QCOMPARE(host.told.size(), 1);
            QVERIFY2(host.told.constFirst().startsWith(told), qPrintable(host.told.constFirst()));
        }
        QCOMPARE(desktop.opened,
                 answer == 1
                     ? QList<QUrl>{QUrl(QStringLiteral("https://velluma.app/Velluma-2.0.1.tgz"))}
                     : QList<QUrl>());
    }
};

QTEST_MAIN(TestUpdater)
#include "moc_TestSupport.cpp"
#include "test_updater.moc"
