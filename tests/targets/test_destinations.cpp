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
    void classification()
    {
        // made under the temporary folder as a folder, a plain or an executable file, or a
        // file with the given text; what it is to the program (-1: no destination), its label
        const std::tuple<const char*, const char*, int, QString> rows[] = {
            {"Preview.app", "dir", 1, "Preview"},
            {"bin/convert.sh", "exec", 1, "convert"},
            {"photo.jpg", "file", -1, ""},
            {"Photos.2009", "dir", 0, "Photos"},
            {"a.b.c", "dir", 0, "a.b"},
            {"viewer.desktop",
             "[Desktop Entry]\nType=Application\nName=Photo Viewer\nExec=true %f\n", 1,
             "Photo Viewer"},
            {"link.desktop", "[Desktop Entry]\nType=Link\nName=Web\nURL=http://example.com\n", -1,
             ""},
            {"gone.desktop",
             "[Desktop Entry]\nType=Application\nName=Gone\nTryExec=/nonexistent/gone\nExec=gone\n",
             -1, ""},
            {"broken.desktop", "exec", -1, ""}}; // executable, but no entry
        for (const auto& [name, kind, type, label] : rows) {
            const QString path = _tmp.filePath(QStringLiteral("classify/") + name);
            const bool exec = !qstrcmp(kind, "exec"), dir = !qstrcmp(kind, "dir");
            QVERIFY(QDir().mkpath(dir ? path : QFileInfo(path).absolutePath()));
            if (!dir)
                QVERIFY(TestReceiver::writeFile(path, exec ? "#!/bin/sh\n" : kind, exec));
            QVERIFY2(std::tuple(Destination::isApp(path), Destination::isFolder(path),
                                Destination::isFile(path)) ==
                         std::tuple(type == 1, type == 0, !dir),
                     name);
            QCOMPARE(Destination::configForPath(path),
                     type < 0 ? QVariantMap()
                              : Destination::configWithDestination(path, label, type));
        }
    }
    void moves()
    {
        // from, to, the order after, the row selected after (-1: none)
        const std::tuple<int, int, QString, int> rows[] = {{0, 3, "BCA", 2},  {2, 0, "CAB", 0},
                                                           {1, 2, "ABC", 1},  {2, 1, "ACB", 1},
                                                           {3, 0, "ABC", -1}, {-1, 0, "ABC", -1}};
        for (const auto& [from, to, expected, selected] : rows) {
            UserDefaults defaults(_tmp.filePath(QStringLiteral("moves.plist")));
            DestinationList list = abc(defaults);
            QCOMPARE(list.moveTarget(from, to), selected);
            QCOMPARE(order(list), expected);
            QCOMPARE(list.defaultDestination(), 1); // a position: moves leave it
        }
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
    void storedData()
    {
        const QVariantMap a = record("A");
        QVariantList many;
        QString all;
        for (int i = 0; i < 5000; ++i) {
            many << record(QString::number(i % 10));
            all += QString::number(i % 10);
        }
        const auto entry = [](const QVariant& path, const QVariant& label) {
            return QVariantMap{{"destination", path}, {"label", label}};
        };
        // what is stored, the default's position, the list read back, the default's label
        // (empty: none). Entries that send nowhere keep their places, or the default would name
        // another.
        const std::tuple<const char*, QVariant, QVariant, QString, QString> rows[] = {
            {"absent", QVariant(), QVariant(), "", ""},
            {"a string", "A", 0, "", ""},
            {"entries not dictionaries", QVariantList{1, "B", QVariantList{a}, a}, 3, "???A", "A"},
            {"path of the wrong type", QVariantList{entry(5, "X"), a}, 0, "?A", "X"},
            {"empty path", QVariantList{entry("", "X"), a}, 1, "?A", "A"},
            {"label of the wrong type", QVariantList{entry("/p/Shots", 3)}, 0, "Shots", "Shots"},
            {"thousands", many, 4203, all, "3"},
            {"default past the end", QVariantList{a}, 1, "A", ""},
            {"default as text", QVariantList{a, record("B")}, "1", "AB", "B"},
            {"default not a number", QVariantList{a, record("B")}, QVariantMap{}, "AB", "A"}};
        for (const auto& [tag, stored, defaultPosition, expected, defaultLabel] : rows) {
            const QString path = _tmp.filePath(QStringLiteral("stored-%1.plist").arg(tag));
            {
                UserDefaults writer(path);
                writer.setObject(stored, DefDestinations);
                writer.setObject(defaultPosition, DefDefaultDestination);
            }
            // Read back from the file, as the next start would.
            UserDefaults defaults(path);
            DestinationList list;
            list.load(defaults);
            const QVariantMap chosen = DestinationList::destinationAtIndex(
                defaults, DestinationList::storedDefault(defaults));
            QCOMPARE(std::pair(order(list), chosen.value("label").toString()),
                     std::pair(expected, defaultLabel));
        }
    }
    void applicationSend_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("path"); // PATH while sending, when not empty
        for (const char* how : {"entry", "script", "package", "id", "gone", "inbox", "no-such-x"})
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
                                    : how == "gone"    ? _tmp.filePath("gone.desktop")
                                    : how == "inbox"   ? _receiver.inbox
                                                       : how;
        const bool sends = QStringList{"entry", "script", "package", "id"}.contains(how);
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
        QCOMPARE(ApplicationLauncher::openFile(sent, application, &error), sends);
        QCOMPARE(error.isEmpty(), sends);
        if (!sends)
            return;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(_receiver.received(sent)), 10000);
        QFile received(_receiver.received(sent));
        QTRY_COMPARE(QFileInfo(received).size(), QFileInfo(sent).size());
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), "framed photo " + how.toUtf8());
    }

private:
    QTemporaryDir _tmp;
    TestReceiver _receiver;
};

QTEST_GUILESS_MAIN(TestDestinations)
#include "test_destinations.moc"
