#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void init();
    void secondLaunchHandsOverFiles_data();
    void secondLaunchHandsOverFiles();
    void staleSocketIsTakenOver();
    void defaultNameIsPrivate();
    void decodeRejectsGarbage_data();
    void decodeRejectsGarbage();
    void launchArguments_data();
    void launchArguments();

private:
    QString socketPath() const { return _dir.filePath(QStringLiteral("velluma.socket")); }
    QTemporaryDir _dir;
};

void TestSingleInstance::init()
{
    QVERIFY(_dir.isValid());
    QFile::remove(socketPath());
}

void TestSingleInstance::secondLaunchHandsOverFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    const QString cwd = QDir::currentPath();
    QTest::newRow("absolute") << QStringList{QStringLiteral("/photos/Beach.jpg")}
                              << QStringList{QStringLiteral("/photos/Beach.jpg")};
    QTest::newRow("relative to the second launch")
        << QStringList{QStringLiteral("Beach.jpg")}
        << QStringList{cwd + QStringLiteral("/Beach.jpg")};
    QTest::newRow("two, with a space and non-ASCII")
        << QStringList{QStringLiteral("/a b/Ça.png"), QStringLiteral("/x/y.tiff")}
        << QStringList{QStringLiteral("/a b/Ça.png"), QStringLiteral("/x/y.tiff")};
    QTest::newRow("none: only bring the window up") << QStringList() << QStringList();
}

void TestSingleInstance::secondLaunchHandsOverFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);

    SingleInstance first(socketPath());
    QVERIFY(first.listen());
    QSignalSpy received(&first, &SingleInstance::filesReceived);

    SingleInstance second(socketPath());
    QVERIFY(!second.listen());
    QVERIFY(second.sendToRunningInstance(arguments));

    QVERIFY(received.wait(5000));
    QCOMPARE(received.at(0).at(0).toStringList(), expected);
    // The first one keeps listening for the next launch.
    QVERIFY(first.isListening());
}

void TestSingleInstance::staleSocketIsTakenOver()
{
    // What a crashed instance leaves behind: a socket path nobody answers on.
    QFile stale(socketPath());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    QVERIFY(!SingleInstance(socketPath()).sendToRunningInstance({QStringLiteral("/a.jpg")}, 200));

    SingleInstance instance(socketPath());
    QVERIFY(instance.listen());
    QSignalSpy received(&instance, &SingleInstance::filesReceived);
    QVERIFY(SingleInstance(socketPath()).sendToRunningInstance({QStringLiteral("/p.png")}));
    QVERIFY(received.wait(5000));
    QCOMPARE(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("/p.png")});
}

void TestSingleInstance::defaultNameIsPrivate()
{
    // The test runner gives every test its own runtime folder.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        QSKIP("no runtime folder");
    QCOMPARE(SingleInstance::defaultServerName(),
             QDir(runtime).filePath(QStringLiteral("velluma.socket")));
}

void TestSingleInstance::decodeRejectsGarbage_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray good = SingleInstance::encodeMessage({QStringLiteral("/a.jpg")});
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("/home/me/a.jpg\n");
    QTest::newRow("cut short") << good.left(good.size() - 3);
    QTest::newRow("wrong magic") << QByteArray(4, '\0') + good.mid(4);
}

void TestSingleInstance::decodeRejectsGarbage()
{
    QFETCH(QByteArray, data);
    QStringList paths{QStringLiteral("untouched")};
    QVERIFY(!SingleInstance::decodeMessage(data, &paths));
    QCOMPARE(paths, QStringList{QStringLiteral("untouched")});
}

void TestSingleInstance::launchArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("printed"); // pattern of all the standard output
    // Relative to the working folder; none means nothing may reach the running window.
    QTest::addColumn<QStringList>("handedOver");
    const QString usage =
        QStringLiteral("(?s)^Usage: velluma \\[PHOTO\\.\\.\\.\\]\n.*--version.*\n$");
    const QString version =
        '^' + QRegularExpression::escape(QStringLiteral("velluma " VELLUMA_VERSION "\n")) + '$';
    QTest::newRow("--help") << QStringList{"--help"} << usage << QStringList();
    QTest::newRow("-h") << QStringList{"-h"} << usage << QStringList();
    QTest::newRow("--version") << QStringList{"--version"} << version << QStringList();
    QTest::newRow("-v") << QStringList{"-v"} << version << QStringList();
    QTest::newRow("help after a photo") << QStringList{"a.jpg", "--help"} << usage << QStringList();
    QTest::newRow("-- ends the options")
        << QStringList{"--", "--help"} << "^$" << QStringList{"--help"};
    QTest::newRow("photos on both sides of --")
        << QStringList{"a.jpg", "--", "-v", "--"} << "^$" << QStringList{"a.jpg", "-v", "--"};
}

// The built program, with a stand-in for a running Velluma on its socket: a launch that
// takes its arguments for photos hands them over and ends instead of opening a window.
void TestSingleInstance::launchArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, printed);
    QFETCH(QStringList, handedOver);
    SingleInstance running(socketPath());
    QVERIFY(running.listen());
    QSignalSpy received(&running, &SingleInstance::filesReceived);

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), _dir.path());
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(_dir.path());
    program.start(QStringLiteral(VELLUMA_BINARY), arguments);
    const auto stop = qScopeGuard([&program] {
        program.kill();
        program.waitForFinished();
    });
    // A window opened by mistake would keep it running.
    QTRY_VERIFY_WITH_TIMEOUT(program.state() == QProcess::NotRunning, 20000);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
    QVERIFY2(QRegularExpression(printed).match(output).hasMatch(), qPrintable(output));

    if (handedOver.isEmpty()) {
        QTest::qWait(100);
        QCOMPARE(received.count(), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
    QStringList expected;
    for (const QString& name : handedOver)
        expected << _dir.filePath(name);
    QCOMPARE(received.at(0).at(0).toStringList(), expected);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
