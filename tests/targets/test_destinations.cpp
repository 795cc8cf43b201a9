#include "TestReceiver.h"

#include "foundation/DefaultsKeys.h"
#include "foundation/UserDefaults.h"
#include "targets/ApplicationLauncher.h"
#include "targets/Destination.h"
#include "targets/DestinationList.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QVariantMap record(const QString& label, int type = Destination::Folder)
{
    return Destination::configWithDestination(QStringLiteral("/x/") + label, label, type);
}

QString order(const DestinationList& list)
{
    QString text;
    for (const QVariant& r : list.records())
        text += Destination::isAvailable(r.toMap())
                    ? r.toMap().value(Destination::KEY_LABEL).toString()
                    : QStringLiteral("?");
    return text;
}

DestinationList abc(UserDefaults& defaults)
{
    defaults.setObject(QVariantList{record("A"), record("B"), record("C")}, DefDestinations);
    defaults.setInteger(1, DefDefaultDestination);
    DestinationList list;
    list.load(defaults);
    return list;
}

} // namespace

class TestDestinations : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid());
        // Before GLib first reads the data folders, so its list of applications has the entry.
        QVERIFY(_receiver.make(_tmp.path()));
    }
    void classification_data()
    {
        QTest::addColumn<QString>("name"); // made under the temporary folder
        QTest::addColumn<QString>("kind"); // dir, file, exec, or the entry's text
        QTest::addColumn<int>("type");     // -1: no record
        QTest::addColumn<QString>("label");

        const auto row = [](const char* name, const char* kind, int type, const char* label) {
            QTest::newRow(name) << QString(name) << QString(kind) << type << QString(label);
        };
        row("Preview.app", "dir", 1, "Preview");
        row("bin/convert.sh", "exec", 1, "convert");
        row("photo.jpg", "file", -1, "");
        row("Photos.2009", "dir", 0, "Photos");
        row("a.b.c", "dir", 0, "a.b");
        row("viewer.desktop",
            "[Desktop Entry]\nType=Application\nName=Photo Viewer\nExec=true %f\n", 1,
            "Photo Viewer");
        row("link.desktop", "[Desktop Entry]\nType=Link\nName=Web\nURL=http://example.com\n", -1,
            "");
        row("gone.desktop",
            "[Desktop Entry]\nType=Application\nName=Gone\nTryExec=/nonexistent/gone\nExec=gone\n",
            -1, "");
        row("broken.desktop", "exec", -1, ""); // executable, but no entry
    }
    void classification()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(int, type);
        QFETCH(QString, label);
        const QString path = _tmp.filePath(QStringLiteral("classify/") + name);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (kind == QLatin1String("dir"))
            QVERIFY(QDir().mkpath(path));
        else if (!kind.isEmpty())
            QVERIFY(TestReceiver::writeFile(
                path, kind == QLatin1String("exec") ? "#!/bin/sh\n" : kind.toUtf8(),
                kind == QLatin1String("exec")));

        const QVariantMap config = Destination::configForPath(path);
        QCOMPARE(Destination::isApp(path), type == 1);
        QCOMPARE(Destination::isFolder(path), type == 0);
        QCOMPARE(Destination::isFile(path), !kind.isEmpty() && kind != QLatin1String("dir"));
        if (type < 0) {
            QVERIFY(config.isEmpty());
            return;
        }
        QCOMPARE(config.keys(), (QStringList{"destination", "label", "targetType"}));
        QCOMPARE(config.value("destination").toString(), path);
        QCOMPARE(config.value("label").toString(), label);
        QCOMPARE(Destination::targetType(config), type);
    }
    void labels_data()
    {
        QTest::addColumn<QVariant>("type");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("typeName");

        const auto row = [](const char* name, const QVariant& type, const char* label,
                            const char* title, const char* typeName) {
            QTest::newRow(name) << type << QString(label) << QString(title) << QString(typeName);
        };
        row("Desktop", 0, "Desktop", "Save on Desktop", "Folder");
        row("application", 1, "Desktop", "Open in Desktop", "App");
        row("other type", 7, "Pictures", "Unknown", "Unknown");
        row("type as text", "1", "Viewer", "Open in Viewer", "App");
        row("type missing", QVariant(), "Pictures", "Save in Pictures", "Folder");
    }
    void labels()
    {
        QFETCH(QVariant, type);
        QFETCH(QString, label);
        QFETCH(QString, title);
        QFETCH(QString, typeName);
        QVariantMap r{{"destination", "/somewhere"}, {"label", label}};
        if (type.isValid())
            r.insert("targetType", type);
        QCOMPARE(Destination::labelForDestination(r), title);
        QCOMPARE(Destination::nameForType(Destination::targetType(r)), typeName);
    }
    void moves_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("selected");

        QTest::newRow("first to the end") << 0 << 3 << "BCA" << 2;
        QTest::newRow("last to the top") << 2 << 0 << "CAB" << 0;
        QTest::newRow("below itself") << 1 << 2 << "ABC" << 1;
        QTest::newRow("last above the second") << 2 << 1 << "ACB" << 1;
        QTest::newRow("no such row") << 3 << 0 << "ABC" << -1;
        QTest::newRow("negative row") << -1 << 0 << "ABC" << -1;
    }
    void moves()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, expected);
        QFETCH(int, selected);
        UserDefaults defaults(_tmp.filePath(QStringLiteral("moves.plist")));
        DestinationList list = abc(defaults);
        QCOMPARE(list.moveTarget(from, to), selected);
        QCOMPARE(order(list), expected);
        QCOMPARE(list.defaultDestination(), 1); // a position: moves leave it
    }
    void removeKeepsDefaultPosition()
    {
        UserDefaults defaults(_tmp.filePath(QStringLiteral("remove.plist")));
        DestinationList list = abc(defaults);
        QVERIFY(list.removeAt(0));
        QVERIFY(!list.removeAt(2));
        QCOMPARE(order(list), QString("BC"));
        QCOMPARE(list.defaultDestination(), 1);
        QCOMPARE(list.recordAt(list.defaultDestination()).value("label").toString(), QString("C"));
        // Until stored, the menus still see A, B, C with B the default.
        QCOMPARE(DestinationList::destinationAtIndex(defaults, 1).value("label").toString(),
                 QString("B"));
        list.store(defaults);
        QCOMPARE(DestinationList::destinationAtIndex(defaults, 1).value("label").toString(),
                 QString("C"));
        // Loading again is the revert: the stored order and default come back.
        list.insert(record("D"), 0);
        list.setDefaultDestination(0);
        list.load(defaults);
        QCOMPARE(order(list), QString("BC"));
        QCOMPARE(list.defaultDestination(), 1);
    }
    void storedData_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("defaultPosition");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("defaultLabel"); // of the default's record, empty: none

        const QVariantMap a = record("A");
        QVariantList many;
        QString all;
        for (int i = 0; i < 5000; ++i) {
            many << record(QString::number(i % 10));
            all += QString::number(i % 10);
        }

        const auto row = [](const char* name, const QVariant& stored, const QVariant& position,
                            const QString& expected, const char* defaultLabel) {
            QTest::newRow(name) << stored << position << expected << QString(defaultLabel);
        };
        const auto entry = [](const QVariant& path, const QVariant& label) {
            return QVariantMap{{"destination", path}, {"label", label}};
        };
        row("absent", QVariant(), QVariant(), "", "");
        row("a string", "A", 0, "", "");
        // Entries that send nowhere keep their places, or the default would name another.
        row("entries not dictionaries", QVariantList{1, "B", QVariantList{a}, a}, 3, "???A", "A");
        row("path of the wrong type", QVariantList{entry(5, "X"), a}, 0, "?A", "X");
        row("empty path", QVariantList{entry("", "X"), a}, 1, "?A", "A");
        row("label of the wrong type", QVariantList{entry("/p/Shots", 3)}, 0, "Shots", "Shots");
        row("thousands", many, 4203, all, "3");
        row("default past the end", QVariantList{a}, 1, "A", "");
        row("default as text", QVariantList{a, record("B")}, "1", "AB", "B");
        row("default not a number", QVariantList{a, record("B")}, QVariantMap{}, "AB", "A");
    }
    void storedData()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, defaultPosition);
        QFETCH(QString, expected);
        QFETCH(QString, defaultLabel);
        const QString path =
            _tmp.filePath(QStringLiteral("stored-%1.plist").arg(QTest::currentDataTag()));
        {
            UserDefaults writer(path);
            writer.setObject(stored, DefDestinations);
            writer.setObject(defaultPosition, DefDefaultDestination);
        }
        // Read back from the file, as the next start would.
        UserDefaults defaults(path);
        DestinationList list;
        list.load(defaults);
        QCOMPARE(order(list), expected);
        const QVariantMap chosen =
            DestinationList::destinationAtIndex(defaults, DestinationList::storedDefault(defaults));
        QCOMPARE(chosen.value("label").toString(), defaultLabel);
    }
    void applicationSend_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("path"); // PATH while sending, when not empty
        for (const char* how : {"entry", "script", "package", "id"})
            QTest::newRow(how) << QString(how) << QString();
        // A bare name is never looked up in the folder Velluma happens to be started from.
        QTest::newRow("name in the working folder, PATH holds .") << "receive.sh"
                                                                  << ".:/usr/bin";
        QTest::newRow("name in a relative PATH entry") << "receive.sh"
                                                       << "/usr/bin::bin";
    }
    void applicationSend()
    {
        QFETCH(QString, how);
        QFETCH(QString, path);
        const QString application = how == "entry"     ? _receiver.entry
                                    : how == "script"  ? _receiver.script
                                    : how == "package" ? _receiver.package
                                    : how == "id"      ? QStringLiteral("velluma-test-receiver")
                                                       : how;
        const QString oldFolder = QDir::currentPath();
        const QByteArray oldPath = qgetenv("PATH");
        const auto restore = qScopeGuard([&] {
            QDir::setCurrent(oldFolder);
            qputenv("PATH", oldPath);
        });
        if (!path.isEmpty()) {
            // The receiver lies in the working folder and in its "bin".
            QVERIFY(QDir().mkpath(_tmp.filePath("bin")));
            QFile::copy(_receiver.script, _tmp.filePath("bin/receive.sh"));
            QVERIFY(QDir::setCurrent(_tmp.path()));
            qputenv("PATH", path.toLocal8Bit());
        }
        // A name with a space and a quote: it must arrive as one argument, never through a shell.
        const QString sent = _tmp.filePath(QStringLiteral("framed %1 'x'.jpg").arg(how));
        QVERIFY(TestReceiver::writeFile(sent, "framed photo " + how.toUtf8(), false));
        QString error;
        if (!path.isEmpty()) {
            QVERIFY(!ApplicationLauncher::openFile(sent, application, &error));
            QVERIFY(!error.isEmpty());
            return;
        }
        QVERIFY2(ApplicationLauncher::openFile(sent, application, &error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(_receiver.received(sent)), 10000);
        QFile received(_receiver.received(sent));
        QTRY_COMPARE(QFileInfo(received).size(), QFileInfo(sent).size());
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), "framed photo " + how.toUtf8());
    }
    void applicationsForPhotos()
    {
        bool listed = false;
        for (const ApplicationLauncher::Entry& entry :
             ApplicationLauncher::applicationsForType(QStringLiteral("image/jpeg")))
            listed = listed || (entry.path == _receiver.entry && entry.name == "Test Receiver");
        QVERIFY(listed);
        QString error;
        QVERIFY(!ApplicationLauncher::openFile(_receiver.script, _tmp.filePath("gone.desktop"),
                                               &error));
        QVERIFY(error.contains("no longer exists"));
        QVERIFY(!ApplicationLauncher::openFile(_receiver.script, _receiver.inbox, &error));
        QVERIFY(!ApplicationLauncher::openFile(_receiver.script,
                                               QStringLiteral("no-such-program-x"), &error));
    }

private:
    QTemporaryDir _tmp;
    TestReceiver _receiver;
};

QTEST_GUILESS_MAIN(TestDestinations)
#include "test_destinations.moc"
