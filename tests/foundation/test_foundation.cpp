#include "TestSupport.h"
#include "foundation/DictionaryAccess.h"
#include "foundation/FileManagerExtras.h"
#include "foundation/PropertyList.h"
#include "foundation/ZTUtility.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestFoundation : public QObject {
    Q_OBJECT
private slots:
    void integerForKey_data();
    void integerForKey();
    void isDirectory();
    void createDirectory();
    void systemVersion();
    void propertyListRoundTrip_data();
    void propertyListRoundTrip();
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

void TestFoundation::isDirectory()
{
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("Preview.app");
    QVERIFY(QDir().mkpath(dir + "/Contents"));
    QVERIFY(writeBytes(tmp.filePath("file.txt"), ""));
    QVERIFY(QFile::link(dir, tmp.filePath("link")));
    QVERIFY(FileManagerExtras::isDirectory(dir)); // a bundle is a folder
    QVERIFY(FileManagerExtras::isDirectory(tmp.filePath("link")));
    QVERIFY(!FileManagerExtras::isDirectory(tmp.filePath("file.txt")));
    QVERIFY(!FileManagerExtras::isDirectory(tmp.filePath("missing")));
    QVERIFY(!FileManagerExtras::isDirectory(QString()));
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
    // A two-digit update would carry into the minor version: it stops at 9.
    QCOMPARE(ZTUtility::packVersion(10, 4, 11), 0x1049u);
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

QTEST_GUILESS_MAIN(TestFoundation)
#include "test_foundation.moc"
