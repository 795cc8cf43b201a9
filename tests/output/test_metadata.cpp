#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>
#include <QtTest>

#include <numeric>

#include <exiv2/exiv2.hpp>

namespace {

// Left half red, right half blue: which way up it is shows at a glance.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? qRgb(220, 20, 20) : qRgb(20, 20, 220));
    return image;
}

bool isRed(QRgb c)
{
    return qRed(c) > 150 && qBlue(c) < 100;
}

bool isBlue(QRgb c)
{
    return qBlue(c) > 150 && qRed(c) < 100;
}

// Saves the picture with Qt and gives it the metadata a camera and a photo manager would.
void writeTaggedPhoto(const QString& path, const QImage& image, const char* format, int orientation,
                      const QString& bigDescription = QString())
{
    QVERIFY(image.save(path, format, 95));
    auto photo = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    photo->readMetadata();
    Exiv2::ExifData& exif = photo->exifData();
    exif["Exif.Image.Make"] = "Velluma Test";
    exif["Exif.Image.Model"] = "Frame 1";
    exif["Exif.Image.Orientation"] = uint16_t(orientation);
    exif["Exif.Photo.DateTimeOriginal"] = "2021:06:05 04:03:02";
    exif["Exif.Photo.PixelXDimension"] = uint32_t(image.width());
    exif["Exif.Photo.PixelYDimension"] = uint32_t(image.height());
    QByteArray thumb;
    QBuffer buffer(&thumb);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(halves(16, 8).save(&buffer, "JPEG"));
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                                            long(thumb.size()));
    Exiv2::IptcData& iptc = photo->iptcData();
    iptc["Iptc.Application2.Caption"] = "Sunset over the bay";
    iptc["Iptc.Application2.Keywords"] = "beach";
    Exiv2::XmpData& xmp = photo->xmpData();
    xmp["Xmp.dc.creator"] = "A. Photographer";
    xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
    if (!bigDescription.isEmpty())
        xmp["Xmp.dc.source"] = bigDescription.toStdString();
    photo->writeMetadata();
}

} // namespace

class TestMetadata : public QObject {
    Q_OBJECT

private slots:
    void readsExifIptcXmp()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg");
        writeTaggedPhoto(path, halves(40, 20), "JPEG", 6);
        const ImageMetadata m = ImageMetadata::metadataForFile(path);
        QVERIFY(!m.isEmpty());
        QVERIFY(m.hasExif() && m.hasIptc() && m.hasXmp());
        QCOMPARE(m.value("Exif.Image.Make"), QStringLiteral("Velluma Test"));
        QCOMPARE(m.value("Iptc.Application2.Caption"), QStringLiteral("Sunset over the bay"));
        QCOMPARE(m.value("Xmp.dc.creator"), QStringLiteral("A. Photographer"));
        QCOMPARE(m.orientation(), 6);

        // A copy is a value of its own.
        ImageMetadata copy = m;
        copy = ImageMetadata();
        QVERIFY(copy.isEmpty());
        QCOMPARE(m.orientation(), 6);
    }

    void photoWithoutMetadata()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("plain.png");
        QVERIFY(halves(10, 10).save(path));
        const ImageMetadata m = ImageMetadata::metadataForFile(path);
        QVERIFY(!m.hasExif());
        QVERIFY(m.value("Exif.Image.Make").isEmpty());
        QCOMPARE(m.orientation(), 1);
    }

    void survivesInJpegAndTiffNeverInPng_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("kept");
        for (const char* source : {"JPEG", "TIFF"}) {
            QTest::addRow("%s to jpeg", source) << QByteArray(source) << 101 << true;
            QTest::addRow("%s to tiff", source) << QByteArray(source) << 103 << true;
            QTest::addRow("%s to png", source) << QByteArray(source) << 102 << false;
        }
    }
    void survivesInJpegAndTiffNeverInPng()
    {
        QFETCH(QByteArray, source);
        QFETCH(int, format);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo." + source.toLower());
        writeTaggedPhoto(photo, halves(40, 20), source.constData(), 1);
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        QVERIFY(m.hasExif());

        QString error;
        const QImage picture = ImageReader::readImage(photo, &error);
        QVERIFY2(!picture.isNull(), qPrintable(error));
        QImage framed = picture.copy();
        framed.fill(Qt::green); // the output is a new picture; only the facts carry over
        ImageWriter::Options options;
        options.format = format;
        options.metadata = &m;
        const QString out = dir.filePath("out");
        QVERIFY(ImageWriter::writeImage(framed, out, options, &error));

        const QImage back = ImageReader::readImage(out, &error);
        QVERIFY2(!back.isNull(), qPrintable(error));
        QCOMPARE(back.size(), QSize(40, 20));
        QVERIFY(qGreen(back.pixel(20, 10)) > 200);

        const ImageMetadata written = ImageMetadata::metadataForFile(out);
        if (!kept) {
            QVERIFY(!written.hasExif());
            QVERIFY(!written.hasIptc());
            QVERIFY(!written.hasXmp());
            return;
        }
        QCOMPARE(written.value("Exif.Image.Make"), QStringLiteral("Velluma Test"));
        QCOMPARE(written.value("Exif.Photo.DateTimeOriginal"),
                 QStringLiteral("2021:06:05 04:03:02"));
        QCOMPARE(written.value("Iptc.Application2.Caption"), QStringLiteral("Sunset over the bay"));
        QCOMPARE(written.value("Iptc.Application2.Keywords"), QStringLiteral("beach"));
        QCOMPARE(written.value("Xmp.dc.creator"), QStringLiteral("A. Photographer"));
        // The stale thumbnail of the source is gone.
        QVERIFY(written.value("Exif.Thumbnail.JPEGInterchangeFormat").isEmpty());
        QVERIFY(written.value("Exif.Thumbnail.Compression").isEmpty());
        if (format == 103) {
            QCOMPARE(written.value("Exif.Image.ImageWidth"), QStringLiteral("40"));
            QCOMPARE(written.value("Exif.Image.Compression"), QStringLiteral("5"));
        }
    }

    void orientationSixExportsUpright_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<int>("format");
        QTest::newRow("jpeg to jpeg") << QByteArray("JPEG") << 101;
        QTest::newRow("jpeg to tiff") << QByteArray("JPEG") << 103;
        QTest::newRow("tiff to jpeg") << QByteArray("TIFF") << 101;
    }
    void orientationSixExportsUpright()
    {
        QFETCH(QByteArray, source);
        QFETCH(int, format);
        QTemporaryDir dir;
        const QString photo = dir.filePath("phone." + source.toLower());
        writeTaggedPhoto(photo, halves(40, 20), source.constData(), 6);

        // Turned a quarter clockwise: the stored left half is now on top.
        QString error;
        const QImage upright = ImageReader::readImage(photo, &error);
        QVERIFY2(!upright.isNull(), qPrintable(error));
        QCOMPARE(upright.size(), QSize(20, 40));
        QVERIFY(isRed(upright.pixel(10, 5)));
        QVERIFY(isBlue(upright.pixel(10, 34)));

        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        ImageWriter::Options options;
        options.format = format;
        options.metadata = &m;
        const QString out = dir.filePath("out");
        QVERIFY(ImageWriter::writeImage(upright, out, options, &error));
        const ImageMetadata written = ImageMetadata::metadataForFile(out);
        QCOMPARE(written.orientation(), 1);
        QCOMPARE(written.value("Exif.Image.Orientation"), QStringLiteral("1"));
        QCOMPARE(written.value("Xmp.tiff.Orientation"), QStringLiteral("1"));
        QCOMPARE(written.value("Exif.Photo.PixelXDimension"), QStringLiteral("20"));
        QCOMPARE(written.value("Exif.Photo.PixelYDimension"), QStringLiteral("40"));

        // Opened again it is not turned a second time.
        const QImage again = ImageReader::readImage(out, &error);
        QCOMPARE(again.size(), QSize(20, 40));
        QVERIFY(isRed(again.pixel(10, 5)));
        QVERIFY(isBlue(again.pixel(10, 34)));
    }

    void sizeLimitCountsTheMetadata()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        const QString big(40000, QLatin1Char('x'));
        writeTaggedPhoto(photo, halves(40, 20), "JPEG", 1, big);
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        QVERIFY(m.value("Xmp.dc.source").size() == big.size());

        QImage picture(300, 200, QImage::Format_RGB32);
        picture.fill(QColor(90, 140, 200));
        const qint64 bare = ImageWriter::encode(picture, {}).size();
        // A limit that the bare picture meets at quality 90 but not with its metadata.
        const int limitKB = int(bare / 1024) + 2;
        ImageWriter::Options options;
        options.limitKB = limitKB;
        options.metadata = &m;
        QList<QPair<int, qint64>> log;
        options.attemptLog = [&](int q, qint64 b) { log.append({q, b}); };
        const QByteArray data = ImageWriter::encode(picture, options);
        QVERIFY(log.size() >= 1);
        QCOMPARE(log.first().first, 90);
        QVERIFY(log.first().second >= qint64(limitKB) << 10);
        // The metadata alone is larger than the limit: no quality fits.
        QVERIFY(data.isEmpty());
        for (const auto& [quality, bytes] : log)
            QVERIFY(quality > 0 && bytes >= qint64(limitKB) << 10);
    }

    void metadataSizeDecidesTheQuality()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeTaggedPhoto(photo, halves(40, 20), "JPEG", 1, QString(6000, QLatin1Char('y')));
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        QImage picture(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                picture.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, (x ^ y) % 256));
        ImageWriter::Options options;
        options.metadata = &m;
        const qint64 withMetadata = ImageWriter::encode(picture, options).size();
        const qint64 bare = ImageWriter::encode(picture, {}).size();
        QVERIFY(withMetadata > bare + 6000);
        // Between the two: the bare file would fit at 90, the real one must not.
        options.limitKB = int((bare + withMetadata) / 2 / 1024);
        QVERIFY((qint64(options.limitKB) << 10) > bare);
        QList<int> qualities;
        options.attemptLog = [&](int q, qint64) { qualities.append(q); };
        const QByteArray data = ImageWriter::encode(picture, options);
        QVERIFY(!data.isEmpty());
        QVERIFY(data.size() < (qint64(options.limitKB) << 10));
        QVERIFY(qualities.size() >= 2);
        QVERIFY(ImageMetadata::metadataForData(data).hasXmp());
    }

    void hostileFilesGiveNoMetadata()
    {
        QTemporaryDir dir;
        // Not an image at all.
        const QString text = dir.filePath("notes.jpg");
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("this is not a photo");
        }
        QVERIFY(ImageMetadata::metadataForFile(text).isEmpty());
        QVERIFY(ImageMetadata::metadataForFile(dir.filePath("missing.jpg")).isEmpty());
        QVERIFY(ImageMetadata::metadataForFile(dir.path()).isEmpty());

        // A JPEG whose EXIF block is garbage that claims huge offsets.
        QByteArray jpeg = ImageWriter::encode(halves(16, 16), {});
        QByteArray app1("\xFF\xE1\x00\x40"
                        "Exif\x00\x00"
                        "II*\x00\xFF\xFF\xFF\x7F",
                        18);
        app1 += QByteArray(0x40 + 2 - app1.size(), '\xEE');
        jpeg.insert(2, app1);
        const QString broken = dir.filePath("broken.jpg");
        {
            QFile f(broken);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(jpeg);
        }
        const ImageMetadata m = ImageMetadata::metadataForFile(broken);
        Q_UNUSED(m);
        // It still exports, with or without what could be read.
        ImageWriter::Options options;
        options.metadata = &m;
        QVERIFY(ImageWriter::writeImage(halves(16, 16), dir.filePath("out.jpg"), options));
        QCOMPARE(QImage(dir.filePath("out.jpg")).size(), QSize(16, 16));
    }

    // Damaged copies of a tagged photo: reading and attaching must neither crash nor
    // throw, whatever Exiv2 makes of them.
    void damagedMetadataIsSurvived_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("jpeg") << QByteArray("JPEG");
        QTest::newRow("tiff") << QByteArray("TIFF");
        QTest::newRow("png") << QByteArray("PNG");
    }
    void damagedMetadataIsSurvived()
    {
        QFETCH(QByteArray, format);
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo");
        writeTaggedPhoto(photo, halves(40, 20), format.constData(), 6);
        QFile f(photo);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray original = f.readAll();
        f.close();
        // The metadata sits near the start of every one of these files.
        const int span = int(std::min<qsizetype>(original.size(), 4096));
        QRandomGenerator rng(1234);
        const QByteArray jpeg = ImageWriter::encode(halves(16, 8), {});
        ImageWriter::Options tiff;
        tiff.format = 103;
        const QByteArray tiffData = ImageWriter::encode(halves(16, 8), tiff);
        for (int round = 0; round < 150; ++round) {
            QByteArray damaged = original;
            const int hits = 1 + int(rng.bounded(8));
            for (int i = 0; i < hits; ++i)
                damaged[int(rng.bounded(span))] = char(rng.bounded(256));
            if (round % 10 == 9)
                damaged.truncate(int(rng.bounded(span)));
            const ImageMetadata m = ImageMetadata::metadataForData(damaged);
            const QByteArray a = m.combineData(jpeg, 101, QSize(16, 8));
            const QByteArray b = m.combineData(tiffData, 103, QSize(16, 8));
            QVERIFY(!a.isEmpty() && !b.isEmpty());
            QVERIFY(a.startsWith("\xFF\xD8"));
        }
    }

    // The batch framer attaches metadata on several threads at once.
    void combineOnSeveralThreads()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeTaggedPhoto(photo, halves(40, 20), "JPEG", 6);
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        const QByteArray jpeg = ImageWriter::encode(halves(32, 16), {});
        const QByteArray expected = m.combineData(jpeg, 101, QSize(32, 16));
        QList<int> rounds(64);
        std::iota(rounds.begin(), rounds.end(), 0);
        const QList<bool> same = QtConcurrent::blockingMapped(rounds, [&](int) {
            const ImageMetadata own = ImageMetadata::metadataForData(expected);
            return m.combineData(jpeg, 101, QSize(32, 16)) == expected &&
                   own.value("Xmp.dc.creator") == QStringLiteral("A. Photographer");
        });
        QVERIFY(!same.contains(false));
    }

    void combineLeavesOtherDataAlone()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeTaggedPhoto(photo, halves(40, 20), "JPEG", 1);
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        const QByteArray garbage("definitely not an image");
        QCOMPARE(m.combineData(garbage, 101, QSize(4, 4)), garbage);
        QCOMPARE(m.combineData(QByteArray(), 101, QSize(4, 4)), QByteArray());
        ImageWriter::Options png;
        png.format = 102;
        const QByteArray pngData = ImageWriter::encode(halves(8, 8), png);
        QCOMPARE(m.combineData(pngData, 102, QSize(8, 8)), pngData);
        const QByteArray jpeg = ImageWriter::encode(halves(8, 8), {});
        QCOMPARE(ImageMetadata().combineData(jpeg, 101, QSize(8, 8)), jpeg);
    }

    void colourProfileReadAndKept()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("adobe.jpg");
        QImage image = halves(20, 10);
        image.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
        QVERIFY(image.save(photo, "JPEG"));
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        const QByteArray profile = m.iccProfile();
        QVERIFY(!profile.isEmpty());
        QCOMPARE(QColorSpace::fromIccProfile(profile), QColorSpace(QColorSpace::AdobeRgb));

        // Kept in every format, with or without the rest of the metadata.
        for (int format : {101, 102, 103}) {
            for (bool withMetadata : {false, true}) {
                ImageWriter::Options options;
                options.format = format;
                options.iccProfile = profile;
                options.metadata = withMetadata ? &m : nullptr;
                const QByteArray data = ImageWriter::encode(halves(20, 10), options);
                QVERIFY(!data.isEmpty());
                QCOMPARE(ImageMetadata::metadataForData(data).iccProfile(), profile);
            }
        }
    }

    void profileQtCannotParseStillKept()
    {
        // A grey-only profile header: Qt gives no colour space for it.
        QByteArray profile(132, '\0');
        qToBigEndian<quint32>(132, profile.data());
        profile.replace(12, 4, "mntr");
        profile.replace(16, 4, "GRAY");
        profile.replace(20, 4, "XYZ ");
        profile.replace(36, 4, "acsp");
        QVERIFY(!QColorSpace::fromIccProfile(profile).isValid());
        for (int format : {101, 102, 103}) {
            ImageWriter::Options options;
            options.format = format;
            options.iccProfile = profile;
            const QByteArray data = ImageWriter::encode(halves(8, 8), options);
            QVERIFY(!data.isEmpty());
            QCOMPARE(ImageMetadata::metadataForData(data).iccProfile(), profile);
        }
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "test_metadata.moc"
