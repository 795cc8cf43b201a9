#include "HostileInputs.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestUserDefaults : public QObject {
    Q_OBJECT
private slots:
    void registeredBehindStored();
    void typedReadsOfWrongTypes();
    void changeNotification();
    void incrementCounter();
    void fileOnDisk_data();
    void fileOnDisk();
};

void TestUserDefaults::registeredBehindStored()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("s.plist");
    const QVariantList destinations{
        QVariantMap{{"destination", "/home/u/Pictures"}, {"targetType", 0}},
        QVariantMap{{"destination", "/usr/bin/gimp"}, {"targetType", 1}, {"tag", 7}}};
    {
        UserDefaults d(path);
        d.registerDefaults({{"JpegQuality", 90}});
        QCOMPARE(d.integerForKey("JpegQuality"), 90);
        QVERIFY(!d.hasStoredValue("JpegQuality"));
        d.setInteger(75, "JpegQuality");
        d.setObject(destinations, "Destinations");
    }
    // Stored values persist, registered ones do not.
    UserDefaults again(path);
    QCOMPARE(again.integerForKey("JpegQuality"), 75);
    QCOMPARE(again.arrayForKey("Destinations"), destinations);
    again.removeObjectForKey("JpegQuality");
    QCOMPARE(again.integerForKey("JpegQuality"), 0);
}

void TestUserDefaults::typedReadsOfWrongTypes()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("s.plist");
    QVERIFY(PropertyList::toFile(QVariantMap{{"FileFormat", "abc"},
                                             {"JpegQuality", "80"},
                                             {"LimitFilesize", QVariantList{1}},
                                             {"Destinations", "not a list"},
                                             {"HideExtension", 1}},
                                 path));
    UserDefaults d(path);
    QCOMPARE(d.integerForKey("FileFormat"), 0);
    QCOMPARE(d.integerForKey("JpegQuality"), 80);
    QCOMPARE(d.boolForKey("LimitFilesize"), false);
    QVERIFY(d.arrayForKey("Destinations").isEmpty());
    QCOMPARE(d.boolForKey("HideExtension"), true);
    QVERIFY(d.backupPath().isEmpty());
    QCOMPARE(d.stringForKey("Nothing"), QString());
    QVERIFY(!d.objectForKey("Nothing").isValid());
}

void TestUserDefaults::changeNotification()
{
    QTemporaryDir tmp;
    UserDefaults d(tmp.filePath("s.plist"));
    d.registerDefaults({{"FilesizeLimit", 500}});
    QSignalSpy spy(&d, &UserDefaults::valueChanged);
    QObject context;
    QStringList seen, none;
    d.addObserver({"FilesizeLimit", "LimitFilesize"}, &context,
                  [&seen](const QString& key, const QVariant&) { seen << key; });
    // An empty list observes nothing.
    d.addObserver({}, &context, [&none](const QString& key, const QVariant&) { none << key; });
    d.setInteger(500, "FilesizeLimit"); // same value read: no change
    QCOMPARE(spy.count(), 0);
    d.setInteger(600, "FilesizeLimit");
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), QString("FilesizeLimit"));
    QCOMPARE(spy[0][1].toInt(), 600);
    d.removeObjectForKey("FilesizeLimit");
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy[1][1].toInt(), 500);
    d.setBool(true, "LimitFilesize");
    d.setInteger(95, "JpegQuality");
    QCOMPARE(seen, (QStringList{"FilesizeLimit", "FilesizeLimit", "LimitFilesize"}));
    QVERIFY(none.isEmpty());
}

void TestUserDefaults::incrementCounter()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("s.plist");
    UserDefaults d(path);
    QCOMPARE(d.incrementIntegerForKey("LaunchCount"), 1);
    QCOMPARE(d.incrementIntegerForKey("LaunchCount"), 2);
    // Written at once: a plain read of the file sees it.
    QCOMPARE(PropertyList::fromFile(path).toMap().value("LaunchCount").toInt(), 2);
}

void TestUserDefaults::fileOnDisk_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("quality"); // 90: the registered value, the file was set aside
    const QByteArray good = PropertyList::toData(QVariantMap{{"JpegQuality", 42}});
    QTest::newRow("binary") << PropertyList::toData(QVariantMap{{"JpegQuality", 55}}, true) << 55;
    QTest::newRow("garbage") << QByteArray("\x01\x02 not a settings file") << 90;
    QTest::newRow("truncated") << good.left(good.size() - 20) << 90;
    QTest::newRow("array root") << PropertyList::toData(QVariantList{1, 2}) << 90;
    QTest::newRow("binary header only") << QByteArray("bplist00\x01") << 90;
    // Hostile shapes that used to crash the parser or exhaust memory at start.
    const int deep = 200000;
    QTest::newRow("nested 200000 deep")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>JpegQuality</key>"
           "<integer>55</integer><key>Deep</key>" +
               QByteArray("<array>").repeated(deep) + QByteArray("</array>").repeated(deep) +
               "</dict></plist>"
        << 90;
    QTest::newRow("arrays sharing their contents") << sharedArrays() << 90;
}

void TestUserDefaults::fileOnDisk()
{
    QFETCH(QByteArray, content);
    QFETCH(int, quality);
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Velluma.plist");
    QVERIFY(writeBytes(path, content));

    UserDefaults d(path);
    d.registerDefaults({{"JpegQuality", 90}});
    QCOMPARE(d.integerForKey("JpegQuality"), quality);
    QCOMPARE(d.backupPath().isEmpty(), quality != 90);
    if (quality != 90) {
        // Storing what is stored already leaves the file as it is.
        d.setInteger(quality, "JpegQuality");
        QVERIFY(d.synchronize());
        QCOMPARE(readAll(path), content);
        return;
    }
    QCOMPARE(readAll(d.backupPath()), content);
    // Writing afterwards gives a good file and leaves the backup alone.
    d.setInteger(70, "JpegQuality");
    QVERIFY(d.synchronize());
    QCOMPARE(PropertyList::fromFile(path).toMap().value("JpegQuality").toInt(), 70);
    QVERIFY(QFile::exists(d.backupPath()));
}

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "test_userdefaults.moc"
