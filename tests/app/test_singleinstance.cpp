#include "RawArguments.h"
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
    void init()
    {
        QVERIFY(_dir.isValid());
        QFile::remove(socketPath());
    }
    void secondLaunchHandsOverFiles_data()
    {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<QList<QByteArray>>("expected");
        const QByteArray cwd = QFile::encodeName(QDir::currentPath());
        QTest::newRow("relative to the second launch")
            << QList<QByteArray>{"Beach.jpg"} << QList<QByteArray>{cwd + "/Beach.jpg"};
        QTest::newRow("bytes that are no UTF-8")
            << QList<QByteArray>{"\xff\xfe.jpg", "/\xe9t\xe9.png"}
            << QList<QByteArray>{cwd + "/\xff\xfe.jpg", "/\xe9t\xe9.png"};
        QTest::newRow("none: only bring the window up")
            << QList<QByteArray>() << QList<QByteArray>();
    }
    void secondLaunchHandsOverFiles()
    {
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(QList<QByteArray>, expected);

        SingleInstance first(socketPath());
        QVERIFY(first.listen());
        QSignalSpy received(&first, &SingleInstance::filesReceived);

        SingleInstance second(socketPath());
        QVERIFY(!second.listen());
        QVERIFY(second.sendToRunningInstance(arguments));

        QVERIFY(received.wait(5000));
        QCOMPARE(received.at(0).at(0).value<QList<QByteArray>>(), expected);
        // The first one keeps listening for the next launch.
        QVERIFY(first.isListening());
    }
    void staleSocketIsTakenOver()
    {
        // What a crashed instance leaves behind: a socket path nobody answers on.
        QFile stale(socketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QVERIFY(!SingleInstance(socketPath()).sendToRunningInstance({"/a.jpg"}, 200));

        SingleInstance instance(socketPath());
        QVERIFY(instance.listen());
        QSignalSpy received(&instance, &SingleInstance::filesReceived);
        QVERIFY(SingleInstance(socketPath()).sendToRunningInstance({"/p.png"}));
        QVERIFY(received.wait(5000));
        QCOMPARE(received.at(0).at(0).value<QList<QByteArray>>(), QList<QByteArray>{"/p.png"});
    }
    void decodeRejectsGarbage_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray good = SingleInstance::encodeMessage({"/a.jpg"});
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("cut short") << good.left(good.size() - 3);
        QTest::newRow("wrong magic") << QByteArray(4, '\0') + good.mid(4);
    }
    void decodeRejectsGarbage()
    {
        QFETCH(QByteArray, data);
        QList<QByteArray> names{"untouched"};
        QVERIFY(!SingleInstance::decodeMessage(data, &names));
        QCOMPARE(names, QList<QByteArray>{"untouched"});
    }
    void launchArguments_data()
    {
        QTest::addColumn<QList<QByteArray>>("arguments");
        QTest::addColumn<QString>("printed"); // pattern of all the standard output
        // Relative to the working folder; none means nothing may reach the running window.
        QTest::addColumn<QList<QByteArray>>("handedOver");
        using Bytes = QList<QByteArray>;
        const QString usage =
            QStringLiteral("(?s)^Usage: velluma \\[PHOTO\\.\\.\\.\\]\n.*--version.*\n$");
        const QString version =
            '^' + QRegularExpression::escape(QStringLiteral("velluma " VELLUMA_VERSION "\n")) + '$';
        QTest::newRow("--help") << Bytes{"--help"} << usage << Bytes();
        QTest::newRow("--version") << Bytes{"--version"} << version << Bytes();
        QTest::newRow("help after a photo") << Bytes{"a.jpg", "--help"} << usage << Bytes();
        QTest::newRow("-- ends the options") << Bytes{"--", "--help"} << "^$" << Bytes{"--help"};
        QTest::newRow("photos on both sides of --")
            << Bytes{"a.jpg", "--", "-v", "--"} << "^$" << Bytes{"a.jpg", "-v", "--"};
        // Linux names are bytes; Qt's decoding would name no file.
        QTest::newRow("a name that is no UTF-8")
            << Bytes{"\xff\xfe.jpg", "b.jpg"} << "^$" << Bytes{"\xff\xfe.jpg", "b.jpg"};
    }
    // The built program, with a stand-in for a running Velluma on its socket: a launch that
    // takes its arguments for photos hands them over and ends instead of opening a window.
    void launchArguments()
    {
        QFETCH(QList<QByteArray>, arguments);
        QFETCH(QString, printed);
        QFETCH(QList<QByteArray>, handedOver);
        SingleInstance running(socketPath());
        QVERIFY(running.listen());
        QSignalSpy received(&running, &SingleInstance::filesReceived);

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), _dir.path());
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(_dir.path());
        startWithArguments(program, QStringLiteral(VELLUMA_BINARY), arguments);
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

        // A launch hands over before it ends: a message sent after it is received after its.
        const QList<QByteArray> marker{"/marker"};
        QVERIFY(SingleInstance(socketPath()).sendToRunningInstance(marker));
        QTRY_VERIFY(!received.isEmpty() &&
                    received.last().at(0).value<QList<QByteArray>>() == marker);
        QCOMPARE(received.count(), handedOver.isEmpty() ? 1 : 2);
        if (handedOver.isEmpty())
            return;
        QList<QByteArray> expected;
        for (const QByteArray& name : handedOver)
            expected << QFile::encodeName(_dir.path()) + '/' + name;
        QCOMPARE(received.at(0).at(0).value<QList<QByteArray>>(), expected);
    }

private:
    QString socketPath() const { return _dir.filePath(QStringLiteral("velluma.socket")); }
    QTemporaryDir _dir;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
