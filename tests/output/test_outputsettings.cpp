#include "foundation/UserDefaults.h"
#include "foundation/ZTUtility.h"
#include "output/OutputSettings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestOutputSettings : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> _tmp;
    std::unique_ptr<UserDefaults> _defaults;

private slots:
    void init()
    {
        _defaults.reset();
        _tmp = std::make_unique<QTemporaryDir>();
        _defaults = std::make_unique<UserDefaults>(_tmp->filePath(QStringLiteral("s.plist")));
    }

    void readingRules_data()
    {
        QTest::addColumn<QVariant>("storedFormat");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("lossy"); // and the size limit reads as on
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("metadata");
        // Every stored boolean is on; the format decides what reads as on.
        QTest::newRow("missing") << QVariant() << 101 << true << false << true;
        QTest::newRow("jpeg") << QVariant(101) << 101 << true << false << true;
        QTest::newRow("png") << QVariant(102) << 102 << false << true << false;
        QTest::newRow("tiff") << QVariant(103) << 103 << false << true << true;
        QTest::newRow("gif code") << QVariant(104) << 101 << true << false << true;
        QTest::newRow("string 102")
            << QVariant(QStringLiteral("102")) << 102 << false << true << false;
    }

    void readingRules()
    {
        QFETCH(QVariant, storedFormat);
        if (storedFormat.isValid())
            _defaults->setObject(storedFormat, DefFileFormat);
        for (const QString& key : {DefLimitFilesize, DefTransparentBackground, DefPreserveMetadata})
            _defaults->setBool(true, key);
        OutputSettings s(*_defaults);
        QTEST(s.fileFormat(), "format");
        QTEST(s.lossyFormat(), "lossy");
        QTEST(s.limitFilesize(), "lossy");
        QTEST(s.transparentBackgroundSupported(), "transparent");
        QTEST(s.transparentBackground(), "transparent");
        QTEST(s.metadataSupported(), "metadata");
        QTEST(s.preserveMetadata(), "metadata");
        // Reading never corrects what is stored.
        QCOMPARE(_defaults->objectForKey(DefFileFormat), storedFormat);
    }

    void storedBooleansSurviveFormatChanges()
    {
        OutputSettings s(*_defaults);
        s.setFileFormat(FormatPNG);
        s.setTransparentBackground(true);
        s.setFileFormat(FormatTIFF);
        QVERIFY(s.transparentBackground());
        s.setFileFormat(FormatJPEG);
        QVERIFY(!s.transparentBackground());
        QVERIFY(_defaults->boolForKey(DefTransparentBackground));
        s.setFileFormat(FormatPNG);
        QVERIFY(s.transparentBackground());
        QCOMPARE(_defaults->integerForKey(DefFileFormat), int(FormatPNG));
    }

    void setterReactions()
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
        // The size field edits the defaults directly; no setter runs.
        _defaults->setInteger(800, DefFilesizeLimit);
        QCOMPARE(stale.count(), 4);
        QCOMPARE(s.filesizeLimit(), 800);
        QVERIFY(color.isEmpty());
    }

    void factoryDefaultsMissingOrBroken()
    {
        ZTUtility::setVersionQuery([](uint32_t* v) {
            *v = 0x1049;
            return true;
        });
        QVERIFY(OutputSettings::factoryDefaults(_tmp->filePath("missing.plist")).isEmpty());
        const QString broken = _tmp->filePath(QStringLiteral("broken.plist"));
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
    }
};

QTEST_GUILESS_MAIN(TestOutputSettings)
#include "test_outputsettings.moc"
