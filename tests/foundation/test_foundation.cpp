#include "TestSupport.h"
#include "foundation/DictionaryAccess.h"
#include "foundation/FileManagerExtras.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "foundation/ZTUtility.h"
#include "output/TestFiles.h"

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestFoundation : public QObject {
    Q_OBJECT
private slots:
    void integerForKey_data();
    void integerForKey();
    void createDirectory();
    void systemVersion();
    void propertyListRoundTrip_data();
    void propertyListRoundTrip();
    void registeredBehindStored();
    void typedReadsOfWrongTypes();
    void changeNotification();
    void incrementCounter();
    void fileOnDisk_data();
    void fileOnDisk();
};

void TestFoundation::integerForKey_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("missing") << QVariant() << 0;
    QTest::newRow("int") << QVariant(42) << 42;
    QTest::newRow("negative") << QVariant(-7) << -7;
    QTest::newRow("int64 from plist") << QVariant(qint64(101)) << 101;
    QTest::newRow("string 12") << QVariant(QString("12")) << 12;
    QTest::newRow("string with tail") << QVariant(QString(" 12abc")) << 12;
    QTest::newRow("string no digits") << QVariant(QString("abc")) << 0;
    QTest::newRow("bool") << QVariant(true) << 1;
    QTest::newRow("double") << QVariant(2.9) << 2;
    QTest::newRow("date") << QVariant(QDateTime::currentDateTime()) << 0;
    QTest::newRow("array") << QVariant(QVariantList{1, 2}) << 0;
}

void TestFoundation::integerForKey()
{
    QFETCH(QVariant, value);
    QFETCH(int, expected);
    QVariantMap dict;
    if (value.isValid())
        dict.insert(QString("k"), value);
    QCOMPARE(DictionaryAccess::integerForKey(dict, QString("k")), expected);
}

void TestFoundation::createDirectory()
{
    QTemporaryDir tmp;
    const auto create = [&tmp](const QString& path, bool recursive) {
        return FileManagerExtras::createDirectoryAtPath(tmp.filePath(path), std::nullopt,
                                                        recursive);
    };
    QVERIFY(create("a/b/c", true));
    // An existing folder is success and untouched when recursive, failure when not.
    QVERIFY(writeBytes(tmp.filePath("a/b/c/keep"), ""));
    QVERIFY(create("a/b/c", true));
    QVERIFY(QFile::exists(tmp.filePath("a/b/c/keep")));
    QVERIFY(!create("a/b/c", false));
    QVERIFY(!create("x/y", false));
    QVERIFY(!QFileInfo::exists(tmp.filePath("x")));
    QVERIFY(create("x", false));
    // An existing file is failure, and so is a path beneath it.
    QVERIFY(writeBytes(tmp.filePath("plain"), ""));
    QVERIFY(!create("plain", true));
    QVERIFY(!create("plain/x/y", true));
    QVERIFY(QFileInfo(tmp.filePath("plain")).isFile());

    // Permissions apply to every folder made, not only the last.
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QVERIFY(FileManagerExtras::createDirectoryAtPath(tmp.filePath("p/q"), owner, true));
    for (const QString& p : {tmp.filePath("p"), tmp.filePath("p/q")})
        QCOMPARE(QFileInfo(p).permissions() & ~(owner | QFileDevice::ReadUser |
                                                QFileDevice::WriteUser | QFileDevice::ExeUser),
                 QFileDevice::Permissions());
}

void TestFoundation::systemVersion()
{
    int asked = 0;
    ZTUtility::setVersionQuery([&asked](uint32_t* v) {
        ++asked;
        *v = ZTUtility::packVersion(10, 5, 8);
        return true;
    });
    QCOMPARE(GetSystemVersion(), 0x1058u);
    QCOMPARE(ZTUtility::systemVersion(), 0x1058);
    QCOMPARE(asked, 1); // asked once, then cached
    // A failed query is not cached: it is asked again.
    ZTUtility::setVersionQuery([&asked](uint32_t*) {
        ++asked;
        return false;
    });
    QCOMPARE(GetSystemVersion(), 0u);
    QCOMPARE(GetSystemVersion(), 0u);
    QCOMPARE(asked, 3);
    ZTUtility::setVersionQuery({});
}

void TestFoundation::propertyListRoundTrip_data()
{
    QTest::addColumn<bool>("binary");
    QTest::newRow("xml") << false;
    QTest::newRow("binary") << true;
}

void TestFoundation::propertyListRoundTrip()
{
    QFETCH(bool, binary);
    QVariantMap record{{QString("destination"), QString("/home/ü/Pictures")},
                       {QString("targetType"), 1}};
    QVariantMap root{{QString("Destinations"), QVariantList{record, record}},
                     {QString("Negative"), -3},
                     {QString("Flag"), false},
                     {QString("Real"), 0.5},
                     {QString("Data"), QByteArray("\0\1\2", 3)}};
    const QVariant back = PropertyList::fromData(PropertyList::toData(root, binary));
    QCOMPARE(back.typeId(), int(QMetaType::QVariantMap));
    const QVariantMap m = back.toMap();
    const QVariantList dests = m.value(QString("Destinations")).toList();
    QCOMPARE(dests.size(), 2);
    QCOMPARE(dests[1].toMap().value(QString("destination")).toString(),
             QString("/home/ü/Pictures"));
    QCOMPARE(m.value(QString("Negative")).toLongLong(), -3);
    QCOMPARE(m.value(QString("Flag")).typeId(), int(QMetaType::Bool));
    QCOMPARE(m.value(QString("Real")).toDouble(), 0.5);
    QCOMPARE(m.value(QString("Data")).toByteArray(), QByteArray("\0\1\2", 3));
}

void TestFoundation::registeredBehindStored()
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

void TestFoundation::typedReadsOfWrongTypes()
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

void TestFoundation::changeNotification()
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

void TestFoundation::incrementCounter()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("s.plist");
    UserDefaults d(path);
    QCOMPARE(d.incrementIntegerForKey("LaunchCount"), 1);
    QCOMPARE(d.incrementIntegerForKey("LaunchCount"), 2);
    // Written at once: a plain read of the file sees it.
    QCOMPARE(PropertyList::fromFile(path).toMap().value("LaunchCount").toInt(), 2);
}

void TestFoundation::fileOnDisk_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("quality"); // 90: the registered value, the file was set aside
    const QByteArray good = PropertyList::toData(QVariantMap{{"JpegQuality", 42}});
    QTest::newRow("binary") << PropertyList::toData(QVariantMap{{"JpegQuality", 55}}, true) << 55;
    QTest::newRow("garbage") << QByteArray("\x01\x02 not a settings file") << 90;
    QTest::newRow("truncated") << good.left(good.size() - 20) << 90;
    QTest::newRow("array root") << PropertyList::toData(QVariantList{1, 2}) << 90;
    QTest::newRow("binary header only") << QByteArray("bplist00\x01") << 90;
    // Hostile shapes (nesting, shared arrays) are rows of test_hostile.
}

void TestFoundation::fileOnDisk()
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

QTEST_GUILESS_MAIN(TestFoundation)
#include "test_foundation.moc"
