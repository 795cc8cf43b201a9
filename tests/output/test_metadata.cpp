#include "CodecFiles.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/TestFiles.h"

#include <QColorSpace>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>
#include <QtEndian>
#include <QtTest>

namespace {

// Four quadrants of different colours: every turn and mirror gives a different picture.
QImage quadrants(int width, int height)
{
    static const QRgb colours[4] = {qRgb(230, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 230),
                                    qRgb(240, 240, 240)};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, colours[(y >= height / 2) * 2 + (x >= width / 2)]);
    return image;
}

QByteArray encode(const QImage& image, int format, const ImageMetadata* metadata = nullptr)
{
    ImageWriter::Options options;
    options.format = fileFormatForCode(format);
    options.metadata = metadata;
    return ImageWriter::encode(image, options);
}

// Saves a 40x20 picture with Qt and gives it the metadata a camera and a photo manager
// would, thumbnail included.
void writeTaggedPhoto(const QString& path, const char* format, int orientation,
                      const std::string& bigDescription = "-")
{
    QVERIFY(quadrants(40, 20).save(path, format, 95));
    const std::string o = std::to_string(orientation);
    setTags(path, {{"Exif.Image.Make", "Velluma Test"},
                   {"Exif.Image.Orientation", o},
                   {"Exif.Photo.DateTimeOriginal", "2021:06:05 04:03:02"},
                   {"Exif.Photo.PixelXDimension", "40"},
                   {"Exif.Photo.PixelYDimension", "20"},
                   {"Iptc.Application2.Caption", "Sunset over the bay"},
                   {"Xmp.dc.creator", "A. Photographer"},
                   {"Xmp.tiff.Orientation", o},
                   {"Xmp.dc.source", bigDescription}});
    auto photo = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    photo->readMetadata();
    const QByteArray thumb = encode(quadrants(16, 8), 101);
    Exiv2::ExifThumb(photo->exifData())
        .setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                          long(thumb.size()));
    photo->writeMetadata();
}

// What EXIF says each orientation means: 5 to 8 swap the axes, then each axis may run
// backwards.
QImage upright(const QImage& stored, int orientation)
{
    const int w = stored.width();
    const int h = stored.height();
    const bool swap = orientation >= 5;
    const bool backX = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    const bool backY = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
    QImage out(swap ? h : w, swap ? w : h, QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const int u = swap ? y : x;
            const int v = swap ? x : y;
            out.setPixel(x, y, stored.pixel(backX ? w - 1 - u : u, backY ? h - 1 - v : v));
        }
    }
    return out;
}

bool close(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

class TestMetadata : public QObject {
    Q_OBJECT

private slots:
    // EXIF, IPTC and XMP survive in JPEG and TIFF, never in PNG; what they say stays true
    // of the new file: a turned photo is exported upright with Orientation 1.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("orientation");
        for (const char* source : {"JPEG", "TIFF"})
            for (int format : {101, 102, 103})
                for (int orientation : {1, 6})
                    QTest::addRow("%s to %d, orientation %d", source, format, orientation)
                        << QByteArray(source) << format << orientation;
    }
    void roundTrip()
    {
        QFETCH(QByteArray, source);
        QFETCH(int, format);
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo." + source.toLower());
        writeTaggedPhoto(photo, source.constData(), orientation);
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        QVERIFY(m.hasExif());
        ImageWriter::Options options;
        options.format = fileFormatForCode(format);
        options.metadata = &m;
        const QString out = dir.filePath("out");
        QString error;
        QVERIFY(ImageWriter::writeImage(ImageReader::readImage(photo), out, options, &error));
        // A file written upright is not turned a second time.
        const QImage image = ImageReader::readImage(out, &error);
        const QImage want = upright(quadrants(40, 20), orientation);
        const QSize size = want.size();
        QCOMPARE(image.size(), size);
        for (QPoint p : {QPoint(5, 5), QPoint(size.width() - 5, size.height() - 5)})
            QVERIFY(close(image.pixel(p), want.pixel(p), 40));
        const ImageMetadata written = ImageMetadata::metadataForFile(out);
        if (format == 102) {
            QVERIFY(!written.hasExif() && !written.hasIptc() && !written.hasXmp());
            return;
        }
        QCOMPARE(written.value("Exif.Image.Make"), QStringLiteral("Velluma Test"));
        QCOMPARE(written.value("Exif.Photo.DateTimeOriginal"),
                 QStringLiteral("2021:06:05 04:03:02"));
        QCOMPARE(written.value("Iptc.Application2.Caption"), QStringLiteral("Sunset over the bay"));
        QCOMPARE(written.value("Xmp.dc.creator"), QStringLiteral("A. Photographer"));
        QCOMPARE(written.value("Exif.Image.Orientation"), QStringLiteral("1"));
        QCOMPARE(written.value("Xmp.tiff.Orientation"), QStringLiteral("1"));
        QCOMPARE(written.value("Exif.Photo.PixelXDimension"), QString::number(size.width()));
        QCOMPARE(written.value("Exif.Photo.PixelYDimension"), QString::number(size.height()));
        // The stale thumbnail of the source is gone.
        QVERIFY(written.value("Exif.Thumbnail.JPEGInterchangeFormat").isEmpty());
        QVERIFY(written.value("Exif.Thumbnail.Compression").isEmpty());
    }

    // The limit holds for the file as written, metadata included.
    void metadataSizeDecidesTheQuality()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeTaggedPhoto(photo, "JPEG", 1, std::string(6000, 'y'));
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
        QVERIFY(data.size() > 0 && data.size() < (qint64(options.limitKB) << 10));
        QVERIFY(qualities.size() >= 2);
        QVERIFY(ImageMetadata::metadataForData(data).hasXmp());
    }

    void hostileFilesGiveNoMetadata()
    {
        QTemporaryDir dir;
        QVERIFY(ImageMetadata::metadataForFile(dir.filePath("missing.jpg")).isEmpty());
        QVERIFY(ImageMetadata::metadataForFile(dir.path()).isEmpty());
        QVERIFY(ImageMetadata::metadataForData("this is not a photo").isEmpty());
        // Data that is no JPEG or TIFF passes unchanged.
        writeTaggedPhoto(dir.filePath("photo.jpg"), "JPEG", 1);
        const ImageMetadata tagged = ImageMetadata::metadataForFile(dir.filePath("photo.jpg"));
        QCOMPARE(tagged.combineData("not an image", FileFormat::Jpeg, QSize(4, 4)),
                 QByteArray("not an image"));
        QCOMPARE(tagged.combineData(QByteArray(), FileFormat::Jpeg, QSize(4, 4)), QByteArray());

        // A JPEG whose EXIF block is garbage that claims huge offsets still exports.
        QByteArray jpeg = encode(quadrants(16, 16), 101);
        QByteArray app1("\xFF\xE1\x00\x40"
                        "Exif\x00\x00"
                        "II*\x00\xFF\xFF\xFF\x7F",
                        18);
        app1 += QByteArray(0x40 + 2 - app1.size(), '\xEE');
        jpeg.insert(2, app1);
        const ImageMetadata m = ImageMetadata::metadataForData(jpeg);
        ImageWriter::Options options;
        options.metadata = &m;
        QVERIFY(ImageWriter::writeImage(quadrants(16, 16), dir.filePath("out.jpg"), options));
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
        writeTaggedPhoto(photo, format.constData(), 6);
        QFile f(photo);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray original = f.readAll();
        // The metadata sits near the start of every one of these files.
        const int span = int(std::min<qsizetype>(original.size(), 4096));
        QRandomGenerator rng(1234);
        const QByteArray jpeg = encode(quadrants(16, 8), 101);
        const QByteArray tiff = encode(quadrants(16, 8), 103);
        for (int round = 0; round < 150; ++round) {
            QByteArray damaged = original;
            for (int i = 0, hits = 1 + int(rng.bounded(8)); i < hits; ++i)
                damaged[int(rng.bounded(span))] = char(rng.bounded(256));
            if (round % 10 == 9)
                damaged.truncate(int(rng.bounded(span)));
            const ImageMetadata m = ImageMetadata::metadataForData(damaged);
            // What is written must always read back.
            QCOMPARE(QImage::fromData(m.combineData(jpeg, FileFormat::Jpeg, QSize(16, 8))).size(),
                     QSize(16, 8));
            QCOMPARE(QImage::fromData(m.combineData(tiff, FileFormat::Tiff, QSize(16, 8))).size(),
                     QSize(16, 8));
        }
    }

    // Tags that cannot be written as they are (no values at all) are dropped; the rest
    // stays and the file reads back.
    void emptyTagsAreDropped_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("jpeg") << 101;
        QTest::newRow("tiff") << 103;
    }
    void emptyTagsAreDropped()
    {
        QFETCH(int, format);
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeTaggedPhoto(photo, "JPEG", 1);
        auto image = Exiv2::ImageFactory::open(photo.toStdString());
        image->readMetadata();
        // As fuzzed EXIF gives them: libtiff refuses such tags ("Null count").
        for (const char* name :
             {"Exif.Image.ImageDescription", "Exif.Image.Rating", "Exif.Image.XPTitle",
              "Exif.Image.DNGVersion", "Exif.Photo.UserComment"}) {
            const Exiv2::ExifKey key(name);
            image->exifData().add(key, Exiv2::Value::create(key.defaultTypeId()).get());
        }
        image->writeMetadata();
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        const QByteArray written = encode(quadrants(16, 8), format, &m);
        QCOMPARE(QImage::fromData(written).size(), QSize(16, 8));
        auto back = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(written.constData()), long(written.size()));
        back->readMetadata();
        for (const Exiv2::Exifdatum& datum : back->exifData())
            QVERIFY2(datum.count() > 0, datum.key().c_str());
        QCOMPARE(ImageMetadata::metadataForData(written).value("Exif.Image.Make"),
                 QStringLiteral("Velluma Test"));
    }

    // The batch framer attaches metadata on several threads at once.
    void combineOnSeveralThreads()
    {
        QTemporaryDir dir;
        writeTaggedPhoto(dir.filePath("photo.jpg"), "JPEG", 6);
        const ImageMetadata m = ImageMetadata::metadataForFile(dir.filePath("photo.jpg"));
        const QByteArray jpeg = encode(quadrants(32, 16), 101);
        const QByteArray expected = m.combineData(jpeg, FileFormat::Jpeg, QSize(32, 16));
        const QList<bool> same = QtConcurrent::blockingMapped(QList<int>(64), [&](int) {
            const ImageMetadata own = ImageMetadata::metadataForData(expected);
            return m.combineData(jpeg, FileFormat::Jpeg, QSize(32, 16)) == expected &&
                   own.value("Xmp.dc.creator") == QStringLiteral("A. Photographer");
        });
        QVERIFY(!same.contains(false));
    }

    // The photo's colour profile is kept in every format, with or without the rest of
    // the metadata, even one Qt cannot parse.
    void colourProfileKept_data()
    {
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("withMetadata");
        for (int format : {101, 102, 103}) {
            QTest::addRow("adobe %d", format) << false << format << false;
            QTest::addRow("adobe %d, metadata", format) << false << format << true;
            QTest::addRow("gray-only %d", format) << true << format << false;
        }
    }
    void colourProfileKept()
    {
        QFETCH(bool, gray);
        QFETCH(int, format);
        QFETCH(bool, withMetadata);
        QTemporaryDir dir;
        const QString photo = dir.filePath("adobe.jpg");
        QImage image = quadrants(20, 10);
        image.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
        QVERIFY(image.save(photo, "JPEG"));
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        QByteArray profile = m.iccProfile();
        QCOMPARE(QColorSpace::fromIccProfile(profile), QColorSpace(QColorSpace::AdobeRgb));
        if (gray) {
            profile = QByteArray(132, '\0');
            qToBigEndian<quint32>(132, profile.data());
            profile.replace(12, 4, "mntr");
            profile.replace(16, 4, "GRAY");
            profile.replace(20, 4, "XYZ ");
            profile.replace(36, 4, "acsp");
            QVERIFY(!QColorSpace::fromIccProfile(profile).isValid());
        }
        ImageWriter::Options options;
        options.format = fileFormatForCode(format);
        options.iccProfile = profile;
        options.metadata = withMetadata ? &m : nullptr;
        const QByteArray data = ImageWriter::encode(quadrants(20, 10), options);
        QCOMPARE(ImageMetadata::metadataForData(data).iccProfile(), profile);
        if (!gray)
            QCOMPARE(QImage::fromData(data).colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    }

    // A photo cut off opens as far as it goes, but is known to be damaged; a thumbnail's
    // own end marker early in the file does not hide the cut.
    void cutOffJpegIsDamaged_data()
    {
        QTest::addColumn<double>("kept");
        QTest::addColumn<bool>("thumbnail");
        QTest::newRow("whole") << 1.0 << true;
        QTest::newRow("cut at 30 %") << 0.3 << false;
        QTest::newRow("cut at 70 %, with a thumbnail") << 0.7 << true;
    }
    void cutOffJpegIsDamaged()
    {
        QFETCH(double, kept);
        QFETCH(bool, thumbnail);
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg");
        QVERIFY(noisePhoto(200, 150).save(path, "JPEG", 90));
        if (thumbnail) {
            auto image = Exiv2::ImageFactory::open(path.toStdString());
            image->readMetadata();
            const QByteArray small = ImageWriter::encode(quadrants(16, 12), {});
            Exiv2::ExifThumb(image->exifData())
                .setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(small.constData()),
                                  small.size());
            image->writeMetadata();
        }
        const QByteArray data = readAll(path);
        QVERIFY(writeFile(path, data.left(qsizetype(data.size() * kept))));
        QString error;
        QString damage;
        const QImage read = ImageReader::readImage(path, &error, &damage);
        QVERIFY2(!read.isNull(), qPrintable(error));
        QCOMPARE(read.size(), QSize(200, 150));
        QCOMPARE(damage.contains("the data ends early"), kept < 1);
    }

    // Every format reads, upright whatever the orientation its metadata gives.
    void turnedByOrientation_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("orientation");
        for (const char* format : {"jpg", "tiff", "png", "heic"})
            for (int o = 1; o <= 8; ++o)
                QTest::addRow("%s %d", format, o) << QByteArray(format) << o;
        for (const char* format : {"bmp", "webp", "avif", "jxl"})
            QTest::addRow("%s", format) << QByteArray(format) << 1;
    }
    void turnedByOrientation()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString path = dir.filePath("photo." + format);
        QImage stored = quadrants(64, 32);
        // The stored resolution plays no part: pixels are pixels.
        stored.setDotsPerMeterX(11811);
        stored.setDotsPerMeterY(11811);
        if (format == "avif") {
            QVERIFY(writeFile(path, heifFile(stored, heif_compression_AV1)));
        } else if (format == "jxl") {
            QVERIFY(writeFile(path, jxlFile(stored)));
        } else if (orientation == 1) {
            if (!QImageReader::supportedImageFormats().contains(format) && format != "heic")
                QSKIP("no Qt plugin for this format here");
            QVERIFY(format == "heic" ? writeFile(path, heifFile(stored))
                                     : stored.save(path, format.constData(), 98));
        } else if (format == "heic") {
            // Turned by its own boxes, with an EXIF orientation that must not turn it again.
            Exiv2::ExifData exif;
            exif["Exif.Image.Orientation"] = uint16_t(orientation);
            Exiv2::Blob tiff;
            Exiv2::ExifParser::encode(tiff, Exiv2::bigEndian, exif);
            QVERIFY(writeFile(path,
                              heifFile(stored, heif_compression_HEVC, heif_orientation(orientation),
                                       QByteArray(reinterpret_cast<const char*>(tiff.data()),
                                                  qsizetype(tiff.size())))));
        } else {
            QVERIFY(stored.save(path, format.constData(), 98));
            setTags(path, {{"Exif.Image.Orientation", std::to_string(orientation)}});
        }
        QVERIFY(ImageReader::canRead(path));
        QString error;
        const QImage read = ImageReader::readImage(path, &error);
        QVERIFY2(!read.isNull(), qPrintable(error));
        const QImage expected = upright(stored, orientation);
        QCOMPARE(read.size(), expected.size());
        for (int y = 4; y < expected.height(); y += 8)
            for (int x = 4; x < expected.width(); x += 8)
                QVERIFY2(close(read.pixel(x, y), expected.pixel(x, y), 40),
                         qPrintable(QString("at %1,%2").arg(x).arg(y)));
        const QStringList filters = ImageReader::nameFilters();
        QVERIFY(filters.contains("*." + format) && filters.contains("*." + format.toUpper()));
    }

    // Nothing here may crash or allocate what the header claims; each gives a message.
    void badFilesRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("claimed");
        QTest::newRow("not an image") << "garbage" << QSize();
        QTest::newRow("missing") << "missing" << QSize();
        QTest::newRow("a folder") << "folder" << QSize();
        QTest::newRow("truncated png") << "truncated" << QSize();
        QTest::newRow("3.6 gigapixels") << "huge" << QSize(60000, 60000);
        QTest::newRow("just over the limit") << "huge" << QSize(12000, 10001);
    }
    void badFilesRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, claimed);
        QTemporaryDir dir;
        // A name that looks like a placeholder is never read as one.
        QString path = dir.filePath("pct%2.jpg");
        if (kind == "garbage") {
            QVERIFY(writeFile(path, QByteArray(5000, 'z')));
            QVERIFY(!ImageReader::canRead(path));
        } else if (kind == "folder") {
            path = dir.path();
        } else if (kind == "truncated") {
            ImageWriter::Options png;
            png.format = FileFormat::Png;
            QVERIFY(writeFile(path, ImageWriter::encode(quadrants(200, 200), png).left(60)));
        } else if (kind == "huge") {
            QByteArray jpeg = ImageWriter::encode(quadrants(16, 16), {});
            const int sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
            QVERIFY(sof > 0);
            qToBigEndian<quint16>(quint16(claimed.height()), jpeg.data() + sof + 5);
            qToBigEndian<quint16>(quint16(claimed.width()), jpeg.data() + sof + 7);
            QVERIFY(writeFile(path, jpeg));
        }
        QString error;
        QVERIFY(ImageReader::readImage(path, &error).isNull());
        QVERIFY(error.contains(QFileInfo(path).fileName()));
        if (claimed.isValid()) {
            QVERIFY2(error.contains("megapixels"), qPrintable(error));
            QVERIFY(error.contains(QString::number(claimed.width())));
        }
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "test_metadata.moc"
