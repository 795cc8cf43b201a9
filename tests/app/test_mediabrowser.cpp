// The photo browser's installation and process, with a stand-in browser.
#include "TestSupport.h"
#include "app/AppController.h"
#include "app/CompanionController.h"
#include "app/MediaBrowser.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "output/TestFiles.h"
#include "ui/ZTWindow.h"

#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>

namespace {

// With the folders it lies in.
bool place(const QString& path, const QByteArray& data)
{
    return QDir().mkpath(QFileInfo(path).path()) && writeBytes(path, data);
}

QString program(const QString& bundle)
{
    return bundle + QLatin1Char('/') + MediaBrowser::ExecutablePath;
}

// The process ids of the stand-in browser, which notes each beside itself and waits to be
// ended.
QList<qint64> startedPids(const QString& bundle)
{
    QList<qint64> pids;
    for (const QByteArray& line : readAll(program(bundle) + ".pids").split('\n'))
        if (!line.isEmpty())
            pids << line.toLongLong();
    return pids;
}

bool alive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}

} // namespace

class TestMediaBrowser : public QObject {
    Q_OBJECT
    QTemporaryDir _dir;
    QString path(const QString& name) const { return _dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(_dir.isValid());
        const QString shipped = program(path("shipped/MediaBrowser.app"));
        QVERIFY(place(shipped, "#!/bin/sh\necho $$ >> \"$0.pids\"\nexec sleep 60\n"));
        QVERIFY(
            QFile::setPermissions(shipped, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(place(path("resources/document_wflow_template"),
                      "Title=ZT_WINDOW_TITLE\nApp=ZT_APPLICATION_PATH\nAgain=ZT_WINDOW_TITLE\n"));
        Resources::setPathOverride(path("resources"));
        MediaBrowser::setResourceBundleOverride(path("shipped/MediaBrowser.app"));
        MediaBrowser::setApplicationPathOverride(QStringLiteral("/opt/Velluma & Co/velluma"));
    }
    void installation_data()
    {
        // What lies in the support folder's place before, as "relative path=content"; whether
        // the installation succeeds; the executable after it.
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QByteArray>("executable"); // empty: the shipped one
        QTest::newRow("fresh") << QStringList() << true << QByteArray();
        QTest::newRow("already installed: kept, document rewritten")
            << QStringList{"1/MediaBrowser.app/Contents/MacOS/vOdavuRevadiz=old browser",
                           "1/MediaBrowser.app/Contents/document.wflow=Title=Old"}
            << true << QByteArray("old browser");
        QTest::newRow("copy broken off before")
            << QStringList{"1/.MediaBrowser.app.partial/x=half"} << true << QByteArray();
        QTest::newRow("support folder is a file") << QStringList{"1=file"} << false << QByteArray();
        QTest::newRow("a file where the bundle goes")
            << QStringList{"1/MediaBrowser.app=file"} << false << QByteArray();
        QTest::newRow("template missing") << QStringList{"notemplate"} << false << QByteArray();
    }
    void installation()
    {
        QFETCH(QStringList, before);
        QFETCH(bool, installed);
        QFETCH(QByteArray, executable);
        const QString root = path(QString::fromLatin1(QTest::currentDataTag()));
        const QString support = root + QStringLiteral("/1");
        for (const QString& entry : before) {
            if (entry == QLatin1String("notemplate"))
                Resources::setPathOverride(path("nowhere"));
            else
                QVERIFY(
                    place(root + '/' + entry.section('=', 0, 0), entry.section('=', 1).toUtf8()));
        }
        const auto restore = qScopeGuard([this] { Resources::setPathOverride(path("resources")); });

        QString error;
        std::unique_ptr<MediaBrowser> browser = MediaBrowser::initWithAppSupportPath(
            support, QStringLiteral("Photos & <More>"), &error);
        QCOMPARE(std::tuple(bool(browser), error.isEmpty()), std::tuple(installed, installed));
        if (!installed)
            return;
        QVERIFY(!QFileInfo::exists(support + QStringLiteral("/.MediaBrowser.app.partial")));
        const QString bundle = support + QStringLiteral("/MediaBrowser.app");
        QCOMPARE(browser->appPath(), bundle);
        QCOMPARE(readAll(program(bundle)), executable.isEmpty()
                                               ? readAll(program(path("shipped/MediaBrowser.app")))
                                               : executable);
        QVERIFY(!executable.isEmpty() || QFileInfo(program(bundle)).isExecutable());
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(support).constData(), &status), 0);
        QVERIFY(!before.isEmpty() || (status.st_mode & 0777) == 0700u);
        // Every placeholder replaced, as given: the document is no markup to be escaped.
        QCOMPARE(readAll(bundle + QStringLiteral("/Contents/document.wflow")),
                 QByteArray("Title=Photos & <More>\nApp=/opt/Velluma & Co/velluma\n"
                            "Again=Photos & <More>\n"));
    }
    void secondOpenRestartsTheBrowser()
    {
        const QString support = path("running/1");
        std::unique_ptr<MediaBrowser> browser =
            MediaBrowser::initWithAppSupportPath(support, QStringLiteral("Browser"));
        QVERIFY(browser && !browser->isOpen());
        const QString bundle = browser->appPath();
        QVERIFY(browser->open());
        QTRY_COMPARE(startedPids(bundle).size(), 1);
        QVERIFY(browser->isOpen());
        QVERIFY(browser->open());
        QTRY_COMPARE(startedPids(bundle).size(), 2);
        QCOMPARE(std::pair(alive(startedPids(bundle).at(0)), alive(startedPids(bundle).at(1))),
                 std::pair(false, true));

        // Ended from outside: the launcher lets go of it and can start another.
        QVERIFY(::kill(pid_t(startedPids(bundle).at(1)), SIGKILL) == 0);
        QTRY_VERIFY(!browser->isOpen());
        QVERIFY(browser->open());
        QTRY_COMPARE(startedPids(bundle).size(), 3);
        browser.reset();
        QVERIFY(!alive(startedPids(bundle).at(2)));

        // A bundle whose program cannot run says so.
        QFile::setPermissions(program(bundle), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        browser = MediaBrowser::initWithAppSupportPath(support, QStringLiteral("Browser"));
        QString error;
        QVERIFY(browser && !browser->open(&error) && !error.isEmpty() && !browser->isOpen());
    }
    // The File menu's command: the failure sheet while the support folder cannot be had, the
    // installation tried again at the next use, the browser ended with the program.
    void photoBrowserCommand()
    {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        const QString blocker = data + QStringLiteral("/Velluma");
        QVERIFY(place(blocker, "in the way"));
        UserDefaults defaults(path("prefs.plist"));
        AppController app(defaults);
        SheetCatcher sheets(QString(), app.mainWindow());
        emit app.companions()->photoBrowserRequested();
        emit app.companions()->photoBrowserRequested();
        QCOMPARE(sheets.seen.size(), 2);
        QVERIFY(!sheets.last().informative.isEmpty());

        QVERIFY(QFile::remove(blocker));
        emit app.companions()->photoBrowserRequested();
        QCOMPARE(sheets.seen.size(), 2);
        const QString bundle = data + QStringLiteral("/Velluma/1/MediaBrowser.app");
        QTRY_COMPARE(startedPids(bundle).size(), 1);
        const qint64 pid = startedPids(bundle).at(0);
        QVERIFY(alive(pid));
        app.applicationShouldTerminate();
        QVERIFY(!alive(pid));
    }
};

QTEST_MAIN(TestMediaBrowser)
#include "test_mediabrowser.moc"
