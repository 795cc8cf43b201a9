#include "foundation/DictionaryAccess.h"
#include "foundation/FileManagerExtras.h"
#include "foundation/PropertyList.h"
#include "foundation/StringExtras.h"
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
    void setters();
    void isDirectory();
    void createDirectoryRecursive();
    void createDirectoryNotRecursive();
    void createDirectoryPermissions();
    void replaceOccurrences();
    void systemVersionCachedAndInjected();
    void systemVersionFailedQueryRepeats();
    void packVersion_data();
    void packVersion();
    void propertyListRoundTrip_data();
    void propertyListRoundTrip();
    void propertyListRejectsGarbage_data();
    void propertyListRejectsGarbage();
};

void TestFoundation::integerForKey_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("missing") << QVariant() << 0;
    QTest::newRow("int") << QVariant(42) << 42;
    QTest::newRow("negative") << QVariant(-7) << -7;
    QTest::newRow("int64 from plist") << QVariant(qint64(101)) << 101;
    QTest::newRow("string 3") << QVariant(QStringLiteral("3")) << 3;
    QTest::newRow("string 12") << QVariant(QStringLiteral("12")) << 12;
    QTest::newRow("string with tail") << QVariant(QStringLiteral(" 12abc")) << 12;
    QTest::newRow("string no digits") << QVariant(QStringLiteral("abc")) << 0;
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
        dict.insert(QStringLiteral("k"), value);
    QCOMPARE(DictionaryAccess::integerForKey(dict, QStringLiteral("k")), expected);
}

void TestFoundation::setters()
{
    QVariantMap dict;
    DictionaryAccess::setIntegerForKey(dict, 1, QStringLiteral("targetType"));
    DictionaryAccess::setBoolForKey(dict, true, QStringLiteral("flag"));
    QCOMPARE(dict.value(QStringLiteral("targetType")).typeId(), int(QMetaType::Int));
    QCOMPARE(dict.value(QStringLiteral("flag")).typeId(), int(QMetaType::Bool));
    // Records must survive a trip through a property list.
    const QVariantMap back = PropertyList::fromData(PropertyList::toData(dict)).toMap();
    QCOMPARE(DictionaryAccess::integerForKey(back, QStringLiteral("targetType")), 1);
    QCOMPARE(back.value(QStringLiteral("flag")).toBool(), true);
}

void TestFoundation::isDirectory()
{
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("Preview.app"));
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/Contents")));
    const QString file = tmp.filePath(QStringLiteral("file.txt"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(QFile::link(dir, tmp.filePath(QStringLiteral("link"))));

    QVERIFY(FileManagerExtras::isDirectory(dir)); // a bundle is a folder
    QVERIFY(FileManagerExtras::isDirectory(tmp.filePath(QStringLiteral("link"))));
    QVERIFY(!FileManagerExtras::isDirectory(file));
    QVERIFY(!FileManagerExtras::isDirectory(tmp.filePath(QStringLiteral("missing"))));
    QVERIFY(!FileManagerExtras::isDirectory(QString()));
}

void TestFoundation::createDirectoryRecursive()
{
    QTemporaryDir tmp;
    const QString deep = tmp.filePath(QStringLiteral("a/b/c"));
    QVERIFY(FileManagerExtras::createDirectoryAtPath(deep, std::nullopt, true));
    QVERIFY(QFileInfo(deep).isDir());

    // An existing folder is success and untouched.
    QFile marker(deep + QStringLiteral("/keep"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QVERIFY(FileManagerExtras::createDirectoryAtPath(deep, std::nullopt, true));
    QVERIFY(QFile::exists(deep + QStringLiteral("/keep")));

    // An existing file is failure, and so is a path beneath it.
    const QString file = tmp.filePath(QStringLiteral("plain"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(!FileManagerExtras::createDirectoryAtPath(file, std::nullopt, true));
    QVERIFY(!FileManagerExtras::createDirectoryAtPath(file + QStringLiteral("/x/y"), std::nullopt,
                                                      true));
    QVERIFY(QFileInfo(file).isFile());
}

void TestFoundation::createDirectoryNotRecursive()
{
    QTemporaryDir tmp;
    QVERIFY(!FileManagerExtras::createDirectoryAtPath(tmp.filePath(QStringLiteral("x/y")),
                                                      std::nullopt, false));
    QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("x"))));
    QVERIFY(FileManagerExtras::createDirectoryAtPath(tmp.filePath(QStringLiteral("x")),
                                                     std::nullopt, false));
    // The path exists now: a second plain creation fails.
    QVERIFY(!FileManagerExtras::createDirectoryAtPath(tmp.filePath(QStringLiteral("x")),
                                                      std::nullopt, false));
}

void TestFoundation::createDirectoryPermissions()
{
    QTemporaryDir tmp;
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QString deep = tmp.filePath(QStringLiteral("p/q"));
    QVERIFY(FileManagerExtras::createDirectoryAtPath(deep, perms, true));
    for (const QString& p : {tmp.filePath(QStringLiteral("p")), deep}) {
        const auto got = QFileInfo(p).permissions() &
                         (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                          QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
        QCOMPARE(int(got), 0);
    }
}

void TestFoundation::replaceOccurrences()
{
    const QString original = QStringLiteral("Open %FILE% with %file%");
    QCOMPARE(StringExtras::stringByReplacingOccurrencesOfString(original, QStringLiteral("%FILE%"),
                                                                QStringLiteral("a.jpg")),
             QStringLiteral("Open a.jpg with %file%"));
    QCOMPARE(StringExtras::stringByReplacingOccurrencesOfString(
                 original, QStringLiteral("%FILE%"), QStringLiteral("a.jpg"), Qt::CaseInsensitive),
             QStringLiteral("Open a.jpg with a.jpg"));
    QCOMPARE(original, QStringLiteral("Open %FILE% with %file%"));
    QCOMPARE(StringExtras::stringByReplacingOccurrencesOfString(original, QString(),
                                                                QStringLiteral("x")),
             original);
}

void TestFoundation::systemVersionCachedAndInjected()
{
    int asked = 0;
    ZTUtility::setVersionQuery([&asked](uint32_t* v) {
        ++asked;
        *v = ZTUtility::packVersion(10, 5, 8);
        return true;
    });
    QCOMPARE(GetSystemVersion(), 0x1058u);
    QCOMPARE(ZTUtility::systemVersion(), 0x1058);
    QCOMPARE(GetSystemVersion(), 0x1058u);
    QCOMPARE(asked, 1);

    ZTUtility::setVersionQuery([](uint32_t* v) {
        *v = ZTUtility::packVersion(10, 4, 11);
        return true;
    });
    QVERIFY(ZTUtility::systemVersion() < 0x1050);
    QVERIFY(ZTUtility::systemVersion() > 0x1040);

    ZTUtility::setVersionQuery({});
    QVERIFY(ZTUtility::systemVersion() >= 0x1050);
}

void TestFoundation::systemVersionFailedQueryRepeats()
{
    int asked = 0;
    ZTUtility::setVersionQuery([&asked](uint32_t*) {
        ++asked;
        return false;
    });
    QCOMPARE(GetSystemVersion(), 0u);
    QCOMPARE(GetSystemVersion(), 0u);
    QCOMPARE(asked, 2);
    ZTUtility::setVersionQuery({});
}

void TestFoundation::packVersion_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("update");
    QTest::addColumn<uint>("packed");
    QTest::newRow("10.5.0") << 10 << 5 << 0 << 0x1050u;
    QTest::newRow("10.5.8") << 10 << 5 << 8 << 0x1058u;
    QTest::newRow("10.4.11") << 10 << 4 << 11 << 0x1049u;
    QTest::newRow("10.3.9") << 10 << 3 << 9 << 0x1039u;
}

void TestFoundation::packVersion()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, update);
    QFETCH(uint, packed);
    QCOMPARE(ZTUtility::packVersion(major, minor, update), packed);
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
    QVariantMap record{{QStringLiteral("destination"), QStringLiteral("/home/ü/Pictures")},
                       {QStringLiteral("targetType"), 1}};
    QVariantMap root{{QStringLiteral("Destinations"), QVariantList{record, record}},
                     {QStringLiteral("Negative"), -3},
                     {QStringLiteral("Flag"), false},
                     {QStringLiteral("Real"), 0.5},
                     {QStringLiteral("Data"), QByteArray("\0\1\2", 3)}};
    const QVariant back = PropertyList::fromData(PropertyList::toData(root, binary));
    QCOMPARE(back.typeId(), int(QMetaType::QVariantMap));
    const QVariantMap m = back.toMap();
    const QVariantList dests = m.value(QStringLiteral("Destinations")).toList();
    QCOMPARE(dests.size(), 2);
    QCOMPARE(dests[1].toMap().value(QStringLiteral("destination")).toString(),
             QStringLiteral("/home/ü/Pictures"));
    QCOMPARE(m.value(QStringLiteral("Negative")).toLongLong(), -3);
    QCOMPARE(m.value(QStringLiteral("Flag")).typeId(), int(QMetaType::Bool));
    QCOMPARE(m.value(QStringLiteral("Real")).toDouble(), 0.5);
    QCOMPARE(m.value(QStringLiteral("Data")).toByteArray(), QByteArray("\0\1\2", 3));
}

void TestFoundation::propertyListRejectsGarbage_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray good = PropertyList::toData(QVariantMap{{QStringLiteral("a"), 1}});
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("hello world");
    QTest::newRow("truncated xml") << good.left(good.size() / 2);
    QTest::newRow("bplist header only") << QByteArray("bplist00");
    QTest::newRow("truncated binary")
        << PropertyList::toData(QVariantMap{{QStringLiteral("a"), 1}}, true).left(20);
    QTest::newRow("random") << QByteArray(4096, '\xa5');
}

void TestFoundation::propertyListRejectsGarbage()
{
    QFETCH(QByteArray, data);
    const QVariant v = PropertyList::fromData(data);
    QVERIFY(!v.isValid() || v.typeId() != QMetaType::QVariantMap || v.toMap().isEmpty());
}

QTEST_GUILESS_MAIN(TestFoundation)
#include "test_foundation.moc"
