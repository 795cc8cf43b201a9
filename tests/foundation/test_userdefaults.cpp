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
    void absentValues();
    void registeredBehindStored();
    void typedReadsOfWrongTypes();
    void arraysOfDictionariesRoundTrip();
    void changeNotification();
    void observerForSeveralKeys();
    void incrementCounter();
    void unreadableFileSetAside_data();
    void unreadableFileSetAside();
    void binaryFileIsRead();
    void standardPathInConfigFolder();
};

void TestUserDefaults::absentValues()
{
    QTemporaryDir tmp;
    UserDefaults d(tmp.filePath(QStringLiteral("s.plist")));
    QCOMPARE(d.integerForKey(QStringLiteral("Nothing")), 0);
    QCOMPARE(d.boolForKey(QStringLiteral("Nothing")), false);
    QCOMPARE(d.stringForKey(QStringLiteral("Nothing")), QString());
    QVERIFY(d.arrayForKey(QStringLiteral("Nothing")).isEmpty());
    QVERIFY(!d.objectForKey(QStringLiteral("Nothing")).isValid());
}

void TestUserDefaults::registeredBehindStored()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("s.plist"));
    {
        UserDefaults d(path);
        d.registerDefaults({{QStringLiteral("JpegQuality"), 90}});
        QCOMPARE(d.integerForKey(QStringLiteral("JpegQuality")), 90);
        QVERIFY(!d.hasStoredValue(QStringLiteral("JpegQuality")));
        d.setInteger(75, QStringLiteral("JpegQuality"));
        QCOMPARE(d.integerForKey(QStringLiteral("JpegQuality")), 75);
    }
    // Stored values persist, registered ones do not.
    UserDefaults again(path);
    QCOMPARE(again.integerForKey(QStringLiteral("JpegQuality")), 75);
    again.removeObjectForKey(QStringLiteral("JpegQuality"));
    QCOMPARE(again.integerForKey(QStringLiteral("JpegQuality")), 0);
}

void TestUserDefaults::typedReadsOfWrongTypes()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("s.plist"));
    QVariantMap stored{{QStringLiteral("FileFormat"), QStringLiteral("abc")},
                       {QStringLiteral("JpegQuality"), QStringLiteral("80")},
                       {QStringLiteral("LimitFilesize"), QVariantList{1}},
                       {QStringLiteral("Destinations"), QStringLiteral("not a list")},
                       {QStringLiteral("HideExtension"), 1}};
    QVERIFY(PropertyList::toFile(stored, path));
    UserDefaults d(path);
    QCOMPARE(d.integerForKey(QStringLiteral("FileFormat")), 0);
    QCOMPARE(d.integerForKey(QStringLiteral("JpegQuality")), 80);
    QCOMPARE(d.boolForKey(QStringLiteral("LimitFilesize")), false);
    QVERIFY(d.arrayForKey(QStringLiteral("Destinations")).isEmpty());
    QCOMPARE(d.boolForKey(QStringLiteral("HideExtension")), true);
    QVERIFY(d.backupPath().isEmpty());
}

void TestUserDefaults::arraysOfDictionariesRoundTrip()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("s.plist"));
    const QVariantList destinations{
        QVariantMap{{QStringLiteral("destination"), QStringLiteral("/home/u/Pictures")},
                    {QStringLiteral("label"), QStringLiteral("Pictures")},
                    {QStringLiteral("targetType"), 0}},
        QVariantMap{{QStringLiteral("destination"), QStringLiteral("/usr/bin/gimp")},
                    {QStringLiteral("label"), QStringLiteral("gimp")},
                    {QStringLiteral("targetType"), 1},
                    {QStringLiteral("tag"), 7}}};
    {
        UserDefaults d(path);
        d.setObject(destinations, QStringLiteral("Destinations"));
    }
    UserDefaults d(path);
    const QVariantList back = d.arrayForKey(QStringLiteral("Destinations"));
    QCOMPARE(back.size(), 2);
    const QVariantMap second = back[1].toMap();
    QCOMPARE(second.value(QStringLiteral("destination")).toString(),
             QStringLiteral("/usr/bin/gimp"));
    QCOMPARE(second.value(QStringLiteral("targetType")).toInt(), 1);
    QCOMPARE(second.value(QStringLiteral("tag")).toInt(), 7);
}

void TestUserDefaults::changeNotification()
{
    QTemporaryDir tmp;
    UserDefaults d(tmp.filePath(QStringLiteral("s.plist")));
    d.registerDefaults({{QStringLiteral("FilesizeLimit"), 500}});
    QSignalSpy spy(&d, &UserDefaults::valueChanged);
    d.setInteger(500, QStringLiteral("FilesizeLimit")); // same value read: no change
    QCOMPARE(spy.count(), 0);
    d.setInteger(600, QStringLiteral("FilesizeLimit"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), QStringLiteral("FilesizeLimit"));
    QCOMPARE(spy[0][1].toInt(), 600);
    d.removeObjectForKey(QStringLiteral("FilesizeLimit"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy[1][1].toInt(), 500);
}

void TestUserDefaults::observerForSeveralKeys()
{
    QTemporaryDir tmp;
    UserDefaults d(tmp.filePath(QStringLiteral("s.plist")));
    QObject context;
    QStringList seen;
    d.addObserver({QStringLiteral("FilesizeLimit"), QStringLiteral("LimitFilesize")}, &context,
                  [&seen](const QString& key, const QVariant&) { seen << key; });
    d.setInteger(100, QStringLiteral("FilesizeLimit"));
    d.setBool(true, QStringLiteral("LimitFilesize"));
    d.setInteger(95, QStringLiteral("JpegQuality"));
    QCOMPARE(seen, (QStringList{QStringLiteral("FilesizeLimit"), QStringLiteral("LimitFilesize")}));

    // An empty list observes nothing.
    QStringList none;
    d.addObserver({}, &context, [&none](const QString& key, const QVariant&) { none << key; });
    d.setInteger(200, QStringLiteral("FilesizeLimit"));
    QVERIFY(none.isEmpty());
}

void TestUserDefaults::incrementCounter()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("s.plist"));
    UserDefaults d(path);
    QCOMPARE(d.incrementIntegerForKey(QStringLiteral("LaunchCount")), 1);
    QCOMPARE(d.incrementIntegerForKey(QStringLiteral("LaunchCount")), 2);
    // Written at once: a plain read of the file sees it.
    QCOMPARE(PropertyList::fromFile(path).toMap().value(QStringLiteral("LaunchCount")).toInt(), 2);
}

void TestUserDefaults::unreadableFileSetAside_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray good = PropertyList::toData(QVariantMap{{QStringLiteral("JpegQuality"), 42}});
    QTest::newRow("garbage") << QByteArray("\x01\x02 not a settings file");
    QTest::newRow("truncated") << good.left(good.size() - 20);
    QTest::newRow("array root") << PropertyList::toData(QVariantList{1, 2});
    QTest::newRow("binary header only") << QByteArray("bplist00\x01");
}

void TestUserDefaults::unreadableFileSetAside()
{
    QFETCH(QByteArray, content);
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("Velluma.plist"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();

    UserDefaults d(path);
    d.registerDefaults({{QStringLiteral("JpegQuality"), 90}});
    QCOMPARE(d.integerForKey(QStringLiteral("JpegQuality")), 90);
    QVERIFY(!d.backupPath().isEmpty());
    QFile backup(d.backupPath());
    QVERIFY(backup.open(QIODevice::ReadOnly));
    QCOMPARE(backup.readAll(), content);

    // Writing afterwards gives a good file and leaves the backup alone.
    d.setInteger(70, QStringLiteral("JpegQuality"));
    QVERIFY(d.synchronize());
    QCOMPARE(PropertyList::fromFile(path).toMap().value(QStringLiteral("JpegQuality")).toInt(), 70);
    QVERIFY(QFile::exists(d.backupPath()));
}

void TestUserDefaults::binaryFileIsRead()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("s.plist"));
    QVERIFY(PropertyList::toFile(QVariantMap{{QStringLiteral("JpegQuality"), 55}}, path, true));
    UserDefaults d(path);
    QCOMPARE(d.integerForKey(QStringLiteral("JpegQuality")), 55);
    QVERIFY(d.backupPath().isEmpty());
}

void TestUserDefaults::standardPathInConfigFolder()
{
    QVERIFY(UserDefaults::standardPath().endsWith(QStringLiteral("/Velluma/Velluma.plist")));
    QVERIFY(UserDefaults::standardPath().startsWith(
        qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath())));
}

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "test_userdefaults.moc"
