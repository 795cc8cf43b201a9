#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/JpegEncoder.h"
#include "output/TestFiles.h"

#include <QLoggingCategory>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

// Something between a photo and noise: smooth gradients with grain, so that the JPEG
// size falls steadily with the quality.
QImage photoLike(int width, int height, quint32 seed = 7)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(rng.bounded(48)) - 24;
            auto c = [&](int v) { return std::clamp(v + grain, 0, 255); };
            line[x] =
                qRgb(c(x * 255 / std::max(1, width - 1)), c(y * 255 / std::max(1, height - 1)),
                     c(((x / 7 + y / 5) % 2) * 120 + 60));
        }
    }
    return image;
}

using Sizes = QMap<int, qint64>;

QStringList* capturedMessages = nullptr;

void captureMessage(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    capturedMessages->append(QString::fromUtf8(context.category) + QStringLiteral(": ") + message);
}

} // namespace

class TestWriter : public QObject {
    Q_OBJECT

private slots:
    void nextFactor_data()
    {
        QTest::addColumn<double>("quality");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<int>("expected");
        QTest::newRow("90 2.44") << 90.0 << 2.44 << 60;
        QTest::newRow("100 3.5") << 100.0 << 3.5 << 95;
        QTest::newRow("97 3.5") << 97.0 << 3.5 << 77;
        QTest::newRow("96 3.5") << 96.0 << 3.5 << 56;
        QTest::newRow("95 2.5") << 95.0 << 2.5 << 90;
        QTest::newRow("60 1.367") << 60.0 << 1.367 << 51;
        QTest::newRow("51 1.074") << 51.0 << 1.074 << 48;
        QTest::newRow("80 1.05") << 80.0 << 1.05 << 78;
        QTest::newRow("80 1.0") << 80.0 << 1.0 << 79;
        // Bounds met in single precision: exactly 3, 2 and 1.5 belong to the row below.
        QTest::newRow("80 3 exactly") << 80.0 << 3.0 << 50;
        QTest::newRow("80 2 exactly") << 80.0 << 2.0 << 60;
        QTest::newRow("80 1.5 exactly") << 80.0 << 1.5 << 70;
        // 1.1f and 1.7f widened to double lie above 1.1 and 1.7: the larger step. 1.3f
        // lies below 1.3: the smaller one.
        QTest::newRow("80 1.1f") << 80.0 << double(1.1f) << 76;
        QTest::newRow("80 1.7f") << 80.0 << double(1.7f) << 60;
        QTest::newRow("80 1.3f") << 80.0 << double(1.3f) << 72;
        // The same ratio as a sum: 112640 / 102400 in single precision is 1.1f.
        QTest::newRow("80 112640/102400") << 80.0 << double(float(112640) / float(102400)) << 76;
        QTest::newRow("96 1.35") << 96.0 << 1.35 << 92;
        QTest::newRow("95 1.16") << 95.0 << 1.16 << 93;
        QTest::newRow("20 0.5") << 20.0 << 0.5 << 19;
    }
    void nextFactor()
    {
        QFETCH(double, quality);
        QFETCH(double, ratio);
        QFETCH(int, expected);
        QCOMPARE(int(ImageWriter::nextFactorForFactor(quality, ratio)), expected);
    }

    // The search driven by a fake encoder: every quality makes a file of the size the
    // table gives (1 byte when not listed, none at all for 0).
    void search_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("limitKB");
        QTest::addColumn<Sizes>("sizes");
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<int>("kept");
        QTest::newRow("250000 140000 110000 100000")
            << 90 << 100 << Sizes{{90, 250000}, {60, 140000}, {51, 110000}, {48, 100000}}
            << QList<int>{90, 60, 51, 48} << 100000;
        QTest::newRow("exactly the limit is too large")
            << 80 << 100 << Sizes{{80, 102400}, {79, 1000}} << QList<int>{80, 79} << 1000;
        QTest::newRow("one byte under fits")
            << 80 << 100 << Sizes{{80, 102399}} << QList<int>{80} << 102399;
        QTest::newRow("limit 0 takes the first")
            << 90 << 0 << Sizes{{90, 50'000'000}} << QList<int>{90} << 50'000'000;
        QTest::newRow("nothing fits") << 90 << 10 << Sizes{{90, 200000}, {50, 200000}, {10, 200000}}
                                      << QList<int>{90, 50, 10} << 0;
        QTest::newRow("quality 0") << 0 << 0 << Sizes{} << QList<int>{} << 0;
        QTest::newRow("negative quality") << -5 << 100 << Sizes{} << QList<int>{} << 0;
        QTest::newRow("failed encode ends it")
            << 90 << 100 << Sizes{{90, 0}} << QList<int>{90} << 0;
    }
    void search()
    {
        QFETCH(int, quality);
        QFETCH(int, limitKB);
        QFETCH(Sizes, sizes);
        QFETCH(QList<int>, asked);
        QFETCH(int, kept);
        QList<int> tried;
        QList<qint64> logged;
        const QByteArray data = ImageWriter::searchQuality(
            quality, limitKB,
            [&](int q) {
                tried.append(q);
                return QByteArray(int(sizes.value(q, 1)), 'x');
            },
            [&](int, qint64 bytes) { logged.append(bytes); });
        QCOMPARE(tried, asked);
        QCOMPARE(data.size(), kept);
        if (kept)
            QCOMPARE(logged.last(), qint64(kept));
    }

    // The prepared planes must give the very files libjpeg makes from RGB itself,
    // including the odd sizes where the edges are replicated.
    void encoderMatchesLibjpeg_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("quality");
        QTest::newRow("1x1") << QSize(1, 1) << 90;
        QTest::newRow("7x5") << QSize(7, 5) << 75;
        QTest::newRow("17x33") << QSize(17, 33) << 100;
        QTest::newRow("333x211") << QSize(333, 211) << 50;
        QTest::newRow("64x3") << QSize(64, 3) << 1;
    }
    void encoderMatchesLibjpeg()
    {
        QFETCH(QSize, size);
        QFETCH(int, quality);
        const QImage image = photoLike(size.width(), size.height());
        const QByteArray ours = JpegEncoder(image).encode(quality);
        QVERIFY(ours == JpegEncoder::encodeRgb(image, quality));
        // SOF0 (baseline, never progressive), three components: Y 2x2, Cb 1x1, Cr 1x1.
        const int sof = ours.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0 && ours.indexOf(QByteArray("\xFF\xC2", 2)) < 0);
        QCOMPARE(ours.mid(sof + 9, 9), QByteArray("\x03\x01\x22\x00\x02\x11\x01\x03\x11", 9));
    }

    // Any pixel format goes to JPEG, transparency laid over white: c * a + 255 * (1 - a).
    void jpegColours_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("format");
        QTest::newRow("clear premultiplied")
            << QColor(0, 0, 0, 0) << int(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("half red") << QColor(255, 0, 0, 128) << int(QImage::Format_ARGB32);
        QTest::newRow("quarter blue 16-bit") << QColor(0, 0, 255, 64) << int(QImage::Format_RGBA64);
        QTest::newRow("grayscale") << QColor(90, 90, 90) << int(QImage::Format_Grayscale8);
        QTest::newRow("rgb16") << QColor(200, 100, 50) << int(QImage::Format_RGB16);
        QTest::newRow("rgb888") << QColor(0, 160, 0) << int(QImage::Format_RGB888);
    }
    void jpegColours()
    {
        QFETCH(QColor, colour);
        QFETCH(int, format);
        QImage image(48, 32, QImage::Format_ARGB32);
        image.fill(colour);
        image = image.convertToFormat(QImage::Format(format));
        const QImage decoded = QImage::fromData(ImageWriter::encode(image, {}));
        QCOMPARE(decoded.size(), image.size());
        // Laid over white what the source holds after its own conversion.
        colour = image.pixelColor(24, 16);
        const double a = colour.alpha() / 255.0;
        auto over = [a](int c) { return c * a + 255 * (1 - a); };
        const QColor got = decoded.pixelColor(24, 16);
        QVERIFY2(qAbs(got.red() - over(colour.red())) <= 3 &&
                     qAbs(got.green() - over(colour.green())) <= 3 &&
                     qAbs(got.blue() - over(colour.blue())) <= 3,
                 qPrintable(got.name()));
    }

    // Guessing ahead on the other core must never change which file the search keeps.
    void speculationKeepsTheResult_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::newRow("fits at once") << 1.5;
        QTest::newRow("just under") << 0.98;
        QTest::newRow("a third") << 0.33;
        QTest::newRow("hopeless") << 0.001;
    }
    void speculationKeepsTheResult()
    {
        QFETCH(double, fraction);
        static const QImage image = photoLike(1600, 1000, 11);
        static const qint64 full = JpegEncoder(image).encode(92).size();
        ImageWriter::Options options;
        options.quality = 92;
        options.limitKB = std::max(1, int(full * fraction / 1024));
        QList<int> fastLog;
        options.attemptLog = [&](int q, qint64) { fastLog.append(q); };
        const QByteArray fast = ImageWriter::encode(image, options);

        const JpegEncoder encoder(image);
        QList<int> plainLog;
        const QByteArray plain = ImageWriter::searchQuality(
            92, options.limitKB, [&](int q) { return encoder.encode(q); },
            [&](int q, qint64) { plainLog.append(q); });
        QCOMPARE(fastLog, plainLog);
        QVERIFY(fast == plain);
        QVERIFY(fast.size() < (qint64(options.limitKB) << 10));
    }

    void pngAndTiffKeepPixels_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("signature");
        QTest::newRow("png") << 102 << QByteArray("\x89PNG", 4);
        QTest::newRow("tiff") << 103 << QByteArray("II*\0", 4);
    }
    void pngAndTiffKeepPixels()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, signature);
        QImage image = photoLike(41, 23).convertToFormat(QImage::Format_ARGB32);
        image.setPixelColor(3, 4, QColor(10, 20, 30, 0));
        image.setPixelColor(5, 6, QColor(200, 100, 50, 77));
        ImageWriter::Options options;
        options.format = format;
        const QByteArray data = ImageWriter::encode(image, options);
        QVERIFY(data.startsWith(signature));
        const QImage back = QImage::fromData(data).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(back.size(), image.size());
        QCOMPARE(back.pixel(0, 0), image.pixel(0, 0));
        QCOMPARE(back.pixel(40, 22), image.pixel(40, 22));
        QCOMPARE(qAlpha(back.pixel(3, 4)), 0);
        // TIFF stores associated alpha: a semi-transparent colour may move by a step.
        const QColor semi = back.pixelColor(5, 6);
        QCOMPARE(semi.alpha(), 77);
        QVERIFY(qAbs(semi.red() - 200) <= 2 && qAbs(semi.green() - 100) <= 2 &&
                qAbs(semi.blue() - 50) <= 2);
        if (format == 103)
            QCOMPARE(ImageMetadata::metadataForData(data).value("Exif.Image.Compression"),
                     QStringLiteral("5")); // LZW
    }

    // The web's formats: the picture and its transparency come back, the metadata of the
    // photo goes along upright, a size limit is kept, and the reference decoder takes it.
    void webpAndAvif_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("limitKB");
        QTest::newRow("webp") << 105 << 90 << 0;
        QTest::newRow("webp lossless") << 105 << 100 << 0;
        QTest::newRow("webp under a limit") << 105 << 95 << 8;
        QTest::newRow("avif") << 106 << 90 << 0;
        QTest::newRow("avif under a limit") << 106 << 95 << 8;
    }
    void webpAndAvif()
    {
        QFETCH(int, format);
        QFETCH(int, quality);
        QFETCH(int, limitKB);
        QTemporaryDir dir;
        const QString jpeg = dir.filePath("photo.jpg");
        QVERIFY(photoLike(8, 8).save(jpeg));
        setTags(jpeg, {{"Exif.Image.Orientation", "6"},
                       {"Exif.Image.Artist", "Ann Lee"},
                       {"Xmp.dc.title", "Pier"}});
        const ImageMetadata metadata = ImageMetadata::metadataForFile(jpeg);
        QImage image = photoLike(160, 96).convertToFormat(QImage::Format_ARGB32);
        image.fill(Qt::transparent); // the frame's transparent background, around
        QPainter(&image).drawImage(QRect(8, 8, 144, 80), photoLike(144, 80));
        ImageWriter::Options options;
        options.format = format;
        options.quality = quality;
        options.limitKB = limitKB;
        options.metadata = &metadata;
        QList<int> attempts;
        options.attemptLog = [&attempts](int q, qint64) { attempts << q; };
        QString error;
        const QByteArray data = ImageWriter::encode(image, options, &error);
        QVERIFY2(!data.isEmpty(), qPrintable(error));
        if (limitKB > 0)
            QVERIFY2(data.size() < limitKB * 1024 && attempts.size() > 1,
                     qPrintable(QString::number(data.size())));
        const QString file = dir.filePath(format == 105 ? "out.webp" : "out.avif");
        QVERIFY(writeFile(file, data));
        const QImage back =
            ImageReader::readImage(file, &error).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!back.isNull(), qPrintable(error));
        QCOMPARE(back.size(), image.size());
        QCOMPARE(qAlpha(back.pixel(2, 2)), 0);
        const int tolerance = quality == 100 ? 0 : limitKB > 0 ? 60 : 30;
        for (QPoint p : {QPoint(30, 30), QPoint(120, 60), QPoint(80, 48)})
            QVERIFY2(qAlpha(back.pixel(p)) == 255 &&
                         qAbs(qGreen(back.pixel(p)) - qGreen(image.pixel(p))) <= tolerance,
                     qPrintable(QString("at %1,%2").arg(p.x()).arg(p.y())));
        const ImageMetadata kept = ImageMetadata::metadataForFile(file);
        QCOMPARE(kept.value("Exif.Image.Artist"), QStringLiteral("Ann Lee"));
        QCOMPARE(kept.value("Exif.Image.Orientation"), QStringLiteral("1"));
        QVERIFY(kept.value("Xmp.dc.title").contains(QStringLiteral("Pier")));
        const QString tool = QStandardPaths::findExecutable(format == 105 ? "dwebp" : "avifdec");
        if (!tool.isEmpty()) {
            QProcess check;
            check.start(tool, format == 105 ? QStringList{file, "-o", dir.filePath("check.png")}
                                            : QStringList{file, dir.filePath("check.png")});
            QVERIFY(check.waitForFinished(60000));
            QCOMPARE(check.exitCode(), 0);
        }
    }

    // Failures the program survives leave their reason in the "velluma" category, which
    // stays silent unless it is turned on.
    void failuresAreLogged_data()
    {
        QTest::addColumn<QString>("failure");
        // What must be in one of the messages: for the metadata, Exiv2's own words after ours.
        QTest::addColumn<QString>("reason");
        QTest::newRow("metadata of a damaged picture") << "metadata"
                                                       << "metadata of a picture in memory: \\w";
        QTest::newRow("JPEG wider than libjpeg allows") << "jpeg"
                                                        << "JPEG encoding failed: .*65500";
    }
    void failuresAreLogged()
    {
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        QImage wide(65536, 1, QImage::Format_RGB32);
        wide.fill(Qt::gray);
        auto fail = [&] {
            if (failure == "metadata")
                return ImageMetadata::metadataForData("this is not a photo").isEmpty();
            return JpegEncoder(wide).encode(90).isEmpty();
        };
        QStringList messages;
        capturedMessages = &messages;
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        const auto restore = qScopeGuard([previous] {
            qInstallMessageHandler(previous);
            QLoggingCategory::setFilterRules(QString());
        });

        QVERIFY(fail());
        // Rules from the environment outrank the default ones.
        if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
            QCOMPARE(messages, QStringList());

        QLoggingCategory::setFilterRules(QStringLiteral("velluma*=true"));
        QVERIFY(fail());
        QVERIFY2(!messages.isEmpty() &&
                     messages.filter(QRegularExpression("^velluma: ")).size() == messages.size() &&
                     !messages.filter(QRegularExpression(reason)).isEmpty(),
                 qPrintable(messages.join('\n')));
    }

    // Every write goes through a temporary file: success replaces the old file, failure
    // leaves it byte for byte, and neither leaves anything else behind.
    void writeImage_data()
    {
        QTest::addColumn<QString>("why");
        // Part of the error; a refusal of the system is told in its own words.
        QTest::addColumn<QString>("reason");
        QTest::newRow("success") << "none" << QString();
        QTest::newRow("no quality fits") << "limit" << QString();
        QTest::newRow("no picture") << "null" << QString();
        QTest::newRow("disk refuses the bytes")
            << "fsize" << QString::fromLocal8Bit(std::strerror(EFBIG));
        QTest::newRow("disk full") << "full" << QString::fromLocal8Bit(std::strerror(ENOSPC));
        QTest::newRow("no such folder") << "folder" << QString();
    }
    void writeImage()
    {
        QFETCH(QString, why);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        if (why == "full") {
            const QString notMounted = mountFullDisk(dir.path());
            if (!notMounted.isEmpty())
                QSKIP(qPrintable(notMounted));
        }
        const auto unmount = qScopeGuard([&] {
            if (why == "full")
                unmountFolder(dir.path());
        });
        QString path = dir.filePath("out.jpg");
        const QByteArray before = JpegEncoder(photoLike(64, 64, 5)).encode(80);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        QImage image = photoLike(400, 400);
        ImageWriter::Options options;
        if (why == "limit")
            options.limitKB = 1;
        if (why == "null")
            image = QImage();
        if (why == "full")
            image = noisePhoto(300, 300); // far more than the disk holds
        if (why == "folder")
            path = dir.filePath("missing/out.jpg");

        QString error;
        rlimit saved;
        if (why == "fsize") {
            // The kernel refuses writes past this size, as a full disk would.
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit small = saved;
            small.rlim_cur = 4096;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const bool ok = ImageWriter::writeImage(image, path, options, &error);
        if (why == "fsize")
            setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.jpg"});
        if (why == "none") {
            QVERIFY2(ok, qPrintable(error));
            QCOMPARE(QImage(path).size(), QSize(400, 400));
            return;
        }
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(readAll(dir.filePath("out.jpg")), before);
    }
};

QTEST_GUILESS_MAIN(TestWriter)
#include "test_writer.moc"
