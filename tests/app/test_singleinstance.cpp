// A second launch hands its photos to the running one, through the socket and through the
// built program.
#include "RawArguments.h"
#include "app/SingleInstance.h"

#include <QtTest>

using Bytes = QList<QByteArray>;

class TestSingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir _dir;
    QString socketPath() const { return _dir.filePath(QStringLiteral("velluma.socket")); }

private slots:
    void init()
    {
        QVERIFY(_dir.isValid());
        QFile::remove(socketPath());
    }
    void staleSocketIsTakenOver()
    {
        // What a crashed instance leaves behind: a socket path nobody answers on.
        QVERIFY(writeNamed(QFile::encodeName(socketPath()), QByteArray()));
        QVERIFY(!SingleInstance(socketPath()).sendToRunningInstance({"/a.jpg"}, 200));
        SingleInstance first(socketPath());
        QVERIFY(first.listen());
        QSignalSpy received(&first, &SingleInstance::filesReceived);
        SingleInstance second(socketPath());
        QVERIFY(!second.listen());
        // No files: only bring the window up.
        for (const Bytes& names : {Bytes{"/p.png"}, Bytes()}) {
            QVERIFY(second.sendToRunningInstance(names));
            QVERIFY(received.wait(5000));
            QCOMPARE(received.takeFirst().at(0).value<Bytes>(), names);
        }
        QVERIFY(first.isListening());
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
        Bytes names{"untouched"};
        QVERIFY(!SingleInstance::decodeMessage(data, &names));
        QCOMPARE(names, Bytes{"untouched"});
    }
    void launchArguments_data()
    {
        QTest::addColumn<Bytes>("arguments");
        QTest::addColumn<QString>("printed"); // pattern of all the standard output
        // Relative to the working folder; none means nothing may reach the running window.
        QTest::addColumn<Bytes>("handedOver");
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
    // takes its arguments for photos hands them over, made absolute, and ends instead of
    // opening a window.
    void launchArguments()
    {
        QFETCH(Bytes, arguments);
        QFETCH(QString, printed);
        QFETCH(Bytes, handedOver);
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
        QCOMPARE(std::pair(program.exitStatus(), program.exitCode()),
                 std::pair(QProcess::NormalExit, 0));
        const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
        QVERIFY2(QRegularExpression(printed).match(output).hasMatch(), qPrintable(output));

        // A launch hands over before it ends: a message sent after it is received after its.
        QVERIFY(SingleInstance(socketPath()).sendToRunningInstance({"/marker"}));
        QTRY_VERIFY(!received.isEmpty() &&
                    received.last().at(0).value<Bytes>() == Bytes{"/marker"});
        Bytes expected;
        for (const QByteArray& name : handedOver)
            expected << QFile::encodeName(_dir.path()) + '/' + name;
        QCOMPARE(received.count(), handedOver.isEmpty() ? 1 : 2);
        QCOMPARE(received.count() == 2 ? received.at(0).at(0).value<Bytes>() : Bytes(), expected);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_singleinstance.moc"
