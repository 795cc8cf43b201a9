#include "foundation/PropertyList.h"
#include "foundation/Resources.h"
#include "foundation/UserDefaults.h"
#include "foundation/ZTUtility.h"
#include "output/OutputSettings.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestOutputSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void readingRules_data();
    void readingRules();
    void storedBooleansSurviveFormatChanges();
    void formatChangeNotifiesDerivedInOrder();
    void setterReactions();
    void limitChangesFromDefaultsMakeOutputStale();
    void outOfRangeFormatNotCorrected();
    void factoryDefaultsFeedRule_data();
    void factoryDefaultsFeedRule();
    void factoryDefaultsShipped();
    void factoryDefaultsMissingOrBroken();

private:
    std::unique_ptr<QTemporaryDir> _tmp;
    std::unique_ptr<UserDefaults> _defaults;
};

void TestOutputSettings::init()
{
    _defaults.reset();
    _tmp = std::make_unique<QTemporaryDir>();
    _defaults = std::make_unique<UserDefaults>(_tmp->filePath(QStringLiteral("s.plist")));
}

void TestOutputSettings::readingRules_data()
{
    QTest::addColumn<QVariant>("storedFormat");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("lossy");
    QTest::addColumn<bool>("transparentSupported");
    QTest::addColumn<bool>("metadataSupported");
    QTest::addColumn<bool>("limit");
    QTest::addColumn<bool>("transparent");
    QTest::addColumn<bool>("metadata");
    // Every stored boolean is on; the format decides what reads as on.
    QTest::newRow("missing") << QVariant() << 101 << true << false << true << true << false << true;
    QTest::newRow("jpeg") << QVariant(101) << 101 << true << false << true << true << false << true;
    QTest::newRow("png") << QVariant(102) << 102 << false << true << false << false << true
                         << false;
    QTest::newRow("tiff") << QVariant(103) << 103 << false << true << true << false << true << true;
    QTest::newRow("gif code") << QVariant(104) << 101 << true << false << true << true << false
                              << true;
    QTest::newRow("zero") << QVariant(0) << 101 << true << false << true << true << false << true;
    QTest::newRow("string 102") << QVariant(QStringLiteral("102")) << 102 << false << true << false
                                << false << true << false;
}

void TestOutputSettings::readingRules()
{
    QFETCH(QVariant, storedFormat);
    if (storedFormat.isValid())
        _defaults->setObject(storedFormat, DefFileFormat);
    _defaults->setBool(true, DefLimitFilesize);
    _defaults->setBool(true, DefTransparentBackground);
    _defaults->setBool(true, DefPreserveMetadata);
    OutputSettings s(*_defaults);
    QTEST(s.fileFormat(), "format");
    QTEST(s.lossyFormat(), "lossy");
    QTEST(s.transparentBackgroundSupported(), "transparentSupported");
    QTEST(s.metadataSupported(), "metadataSupported");
    QTEST(s.limitFilesize(), "limit");
    QTEST(s.transparentBackground(), "transparent");
    QTEST(s.preserveMetadata(), "metadata");
}

void TestOutputSettings::storedBooleansSurviveFormatChanges()
{
    OutputSettings s(*_defaults);
    s.setFileFormat(FormatPNG);
    s.setTransparentBackground(true);
    QVERIFY(s.transparentBackground());
    s.setFileFormat(FormatTIFF);
    QVERIFY(s.transparentBackground());
    s.setFileFormat(FormatJPEG);
    QVERIFY(!s.transparentBackground());
    QVERIFY(_defaults->boolForKey(DefTransparentBackground));
    s.setFileFormat(FormatPNG);
    QVERIFY(s.transparentBackground());
}

void TestOutputSettings::formatChangeNotifiesDerivedInOrder()
{
    OutputSettings s(*_defaults);
    QStringList order;
    const auto record = [&order](const char* name) {
        return [&order, name](bool) { order << QString::fromLatin1(name); };
    };
    connect(&s, &OutputSettings::transparentBackgroundSupportedChanged, this,
            record("transparentBackgroundSupported"));
    connect(&s, &OutputSettings::transparentBackgroundChanged, this,
            record("transparentBackground"));
    connect(&s, &OutputSettings::lossyFormatChanged, this, record("lossyFormat"));
    connect(&s, &OutputSettings::limitFilesizeChanged, this, record("limitFilesize"));
    connect(&s, &OutputSettings::metadataSupportedChanged, this, record("metadataSupported"));
    connect(&s, &OutputSettings::preserveMetadataChanged, this, record("preserveMetadata"));
    QSignalSpy format(&s, &OutputSettings::fileFormatChanged);
    s.setFileFormat(FormatTIFF);
    QCOMPARE(format.count(), 1);
    QCOMPARE(format[0][0].toInt(), 103);
    QCOMPARE(order,
             (QStringList{"transparentBackgroundSupported", "transparentBackground", "lossyFormat",
                          "limitFilesize", "metadataSupported", "preserveMetadata"}));
    QCOMPARE(_defaults->integerForKey(DefFileFormat), 103);
}

void TestOutputSettings::setterReactions()
{
    OutputSettings s(*_defaults);
    QSignalSpy stale(&s, &OutputSettings::outputStale);
    QSignalSpy color(&s, &OutputSettings::borderColorNeeded);

    // PNG with transparency, then JPEG: the colour comes back.
    s.setFileFormat(FormatPNG);
    QCOMPARE(color.takeLast()[0].toBool(), false);
    s.setTransparentBackground(true);
    QCOMPARE(color.takeLast()[0].toBool(), true);
    s.setFileFormat(FormatTIFF);
    QCOMPARE(color.takeLast()[0].toBool(), true);
    s.setFileFormat(FormatJPEG);
    QCOMPARE(color.takeLast()[0].toBool(), false);

    stale.clear();
    s.setJpegQuality(70);
    QCOMPARE(stale.count(), 1);
    QCOMPARE(_defaults->integerForKey(DefJpegQuality), 70);
    s.setPreserveMetadata(false);
    QCOMPARE(stale.count(), 2);
    // The defaults observation makes the limit's change stale, once.
    s.setLimitFilesize(true);
    QCOMPARE(stale.count(), 3);
    QVERIFY(color.isEmpty());
}

void TestOutputSettings::limitChangesFromDefaultsMakeOutputStale()
{
    OutputSettings s(*_defaults);
    QSignalSpy stale(&s, &OutputSettings::outputStale);
    // The size field edits the defaults directly; no setter runs.
    _defaults->setInteger(800, DefFilesizeLimit);
    QCOMPARE(stale.count(), 1);
    QCOMPARE(s.filesizeLimit(), 800);
    _defaults->setInteger(90, DefJpegQuality); // not observed
    QCOMPARE(stale.count(), 1);
}

void TestOutputSettings::outOfRangeFormatNotCorrected()
{
    _defaults->setInteger(104, DefFileFormat);
    OutputSettings s(*_defaults);
    QCOMPARE(s.fileFormat(), 101);
    QCOMPARE(_defaults->integerForKey(DefFileFormat), 104);
}

void TestOutputSettings::factoryDefaultsFeedRule_data()
{
    QTest::addColumn<uint>("version");
    QTest::addColumn<bool>("hasFeed");
    QTest::newRow("10.4.11") << ZTUtility::packVersion(10, 4, 11) << false;
    QTest::newRow("10.5.0") << 0x1050u << true;
    QTest::newRow("10.5.8") << ZTUtility::packVersion(10, 5, 8) << true;
    QTest::newRow("failed query") << 0u << false;
}

void TestOutputSettings::factoryDefaultsFeedRule()
{
    QFETCH(uint, version);
    QFETCH(bool, hasFeed);
    ZTUtility::setVersionQuery([version](uint32_t* v) {
        *v = version;
        return version != 0;
    });
    const QVariantMap d = OutputSettings::factoryDefaults();
    ZTUtility::setVersionQuery({});
    QCOMPARE(d.contains(DefSUFeedURL), hasFeed);
    if (hasFeed)
        QVERIFY(
            d.value(DefSUFeedURL).toString().endsWith(QStringLiteral("/velluma/appcast-105.xml")));
    QCOMPARE(d.value(DefFileFormat).toInt(), 101);
}

void TestOutputSettings::factoryDefaultsShipped()
{
    const QVariantMap d = OutputSettings::factoryDefaults();
    QVERIFY(d.value(DefAskToShareOnFacebook).toBool());
    QVERIFY(d.value(DefAutoRotateBorder).toBool());
    QVERIFY(!d.value(DefLimitFilesize).toBool());
    QCOMPARE(d.value(DefFilesizeLimit).toInt(), 500);
    const int q = d.value(DefJpegQuality).toInt();
    QVERIFY(q >= 1 && q <= 100);
    const QVariantList dests = d.value(DefDestinations).toList();
    QCOMPARE(dests.size(), 2);
    for (const QVariant& r : dests) {
        const QString path = r.toMap().value(QStringLiteral("destination")).toString();
        QVERIFY2(path.startsWith(QDir::homePath() + QLatin1Char('/')), qPrintable(path));
    }
}

void TestOutputSettings::factoryDefaultsMissingOrBroken()
{
    ZTUtility::setVersionQuery([](uint32_t* v) {
        *v = 0x1049;
        return true;
    });
    QTemporaryDir tmp;
    QVERIFY(
        OutputSettings::factoryDefaults(tmp.filePath(QStringLiteral("missing.plist"))).isEmpty());
    const QString broken = tmp.filePath(QStringLiteral("broken.plist"));
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<?xml version=\"1.0\"?><plist><dict><key>FileFormat</key><integ");
    f.close();
    const QVariantMap d = OutputSettings::factoryDefaults(broken);
    ZTUtility::setVersionQuery({});
    // Registering nothing leaves every key at its value read when absent.
    _defaults->registerDefaults(d);
    OutputSettings s(*_defaults);
    QCOMPARE(s.fileFormat(), 101);
    QCOMPARE(s.jpegQuality(), 0);
    QCOMPARE(_defaults->boolForKey(DefAskToShareOnFacebook), false);
}

QTEST_GUILESS_MAIN(TestOutputSettings)
#include "test_outputsettings.moc"
