#include "CodecFiles.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/TestFiles.h"

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

// Gives a picture file the small JPEG a camera puts into its EXIF.
void addThumbnail(const QString& path)
{
    auto photo = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    photo->readMetadata();
    const QByteArray thumb = ImageWriter::encode(quadrants(16, 8), {});
    Exiv2::ExifThumb(photo->exifData())
        .setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumb.constData()),
                          long(thumb.size()));
    photo->writeMetadata();
}

// Saves a 64x32 picture with Qt and gives it the metadata a camera and a photo manager
// would, thumbnail included.
void writeTaggedPhoto(const QString& path, const char* format, int orientation,
                      const std::string& bigDescription = "-")
{
    QVERIFY(quadrants(64, 32).save(path, format, 95));
    const std::string o = std::to_string(orientation);
    setTags(path, {{"Exif.Image.Make", "Velluma Test"},
                   {"Exif.Image.Orientation", o},
                   {"Exif.Photo.DateTimeOriginal", "2021:06:05 04:03:02"},
                   {"Exif.Photo.PixelXDimension", "64"},
                   {"Exif.Photo.PixelYDimension", "32"},
                   {"Iptc.Application2.Caption", "Sunset over the bay"},
                   {"Xmp.dc.creator", "A. Photographer"},
                   {"Xmp.tiff.Orientation", o},
                   {"Xmp.dc.source", bigDescription}});
    addThumbnail(path);
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

} // namespace

class TestMetadata : public QObject {
    Q_OBJECT

private slots:
    // EXIF, IPTC and XMP survive in JPEG and TIFF, never in PNG; what they say stays true
    // of the new file: a turned photo is exported upright with Orientation 1, without the
    // source's stale thumbnail. Tags that cannot be written as they are (no values at all,
    // as fuzzed EXIF gives them; libtiff refuses them) are dropped, the rest stays.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<int>("orientation");
        for (const char* source : {"JPEG", "TIFF"})
            for (FileFormat format : {FileFormat::Jpeg, FileFormat::Png, FileFormat::Tiff})
                for (int orientation : {1, 6})
                    QTest::addRow("%s to %d, orientation %d", source, codeForFileFormat(format),
                                  orientation)
                        << QByteArray(source) << format << orientation;
    }
    void roundTrip()
    {
        QFETCH(QByteArray, source);
        QFETCH(FileFormat, format);
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo." + source.toLower());
        writeTaggedPhoto(photo, source.constData(), orientation);
        if (source == "JPEG") {
            auto image = Exiv2::ImageFactory::open(photo.toStdString());
            image->readMetadata();
            for (const char* name :
                 {"Exif.Image.ImageDescription", "Exif.Image.Rating", "Exif.Image.XPTitle",
                  "Exif.Image.DNGVersion", "Exif.Photo.UserComment"}) {
                const Exiv2::ExifKey key(name);
                image->exifData().add(key, Exiv2::Value::create(key.defaultTypeId()).get());
            }
            image->writeMetadata();
        }
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        ImageWriter::Options options;
        options.format = format;
        options.metadata = &m;
        const QString out = dir.filePath("out");
        QVERIFY(ImageWriter::writeImage(ImageReader::readImage(photo), out, options));
        // A file written upright is not turned a second time.
        const QImage image = ImageReader::readImage(out);
        const QImage want = upright(quadrants(64, 32), orientation);
        QCOMPARE(image.size(), want.size());
        for (QPoint p : {QPoint(5, 5), QPoint(want.width() - 5, want.height() - 5)})
            QVERIFY(nearColour(image.pixelColor(p), want.pixelColor(p), 40));
        const ImageMetadata written = ImageMetadata::metadataForFile(out);
        if (format == FileFormat::Png) {
            QVERIFY(!written.hasExif() && !written.hasIptc() && !written.hasXmp());
            return;
        }
        auto back = Exiv2::ImageFactory::open(out.toStdString());
        back->readMetadata();
        for (const Exiv2::Exifdatum& datum : back->exifData())
            QVERIFY2(datum.count() > 0, datum.key().c_str());
        QStringList values;
        for (const char* key :
             {"Exif.Image.Make", "Exif.Photo.DateTimeOriginal", "Iptc.Application2.Caption",
              "Xmp.dc.creator", "Exif.Image.Orientation", "Xmp.tiff.Orientation",
              "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension",
              "Exif.Thumbnail.JPEGInterchangeFormat", "Exif.Thumbnail.Compression"})
            values << written.value(key);
        QCOMPARE(values, QStringList({"Velluma Test", "2021:06:05 04:03:02", "Sunset over the bay",
                                      "A. Photographer", "1", "1", QString::number(want.width()),
                                      QString::number(want.height()), "", ""}));
    }

    // The limit holds for the file as written, metadata included: between the sizes with
    // and without metadata, the bare file would fit at 90, the real one must not.
    void metadataSizeDecidesTheQuality()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        writeTaggedPhoto(photo, "JPEG", 1, std::string(6000, 'y'));
        const ImageMetadata m = ImageMetadata::metadataForFile(photo);
        const QImage picture = noisePhoto(300, 200);
        ImageWriter::Options options;
        options.metadata = &m;
        const qint64 withMetadata = ImageWriter::encode(picture, options).size();
        const qint64 bare = ImageWriter::encode(picture, {}).size();
        options.limitKB = int((bare + withMetadata) / 2 / 1024);
        QVERIFY(withMetadata > bare + 6000 && (qint64(options.limitKB) << 10) > bare);
        int attempts = 0;
        options.attemptLog = [&](int, qint64) { ++attempts; };
        const QByteArray data = ImageWriter::encode(picture, options);
        QVERIFY(data.size() > 0 && data.size() < (qint64(options.limitKB) << 10));
        QVERIFY(attempts >= 2 && ImageMetadata::metadataForData(data).hasXmp());
    }

    // Whatever Exiv2 makes of damaged metadata, reading and attaching neither crashes nor
    // throws: what is written reads back. The batch framer attaches metadata on several
    // threads at once.
    void hostileFilesSurvived()
    {
        QTemporaryDir dir;
        // A JPEG whose EXIF block is garbage that claims huge offsets still exports.
        QByteArray jpeg = ImageWriter::encode(quadrants(16, 16), {});
        QByteArray app1("\xFF\xE1\x00\x40"
                        "Exif\x00\x00"
                        "II*\x00\xFF\xFF\xFF\x7F",
                        18);
        jpeg.insert(2, app1 + QByteArray(0x40 + 2 - app1.size(), '\xEE'));
        const ImageMetadata garbage = ImageMetadata::metadataForData(jpeg);
        ImageWriter::Options options;
        options.metadata = &garbage;
        QVERIFY(ImageWriter::writeImage(quadrants(16, 16), dir.filePath("out.jpg"), options));
        options.metadata = nullptr;
        QCOMPARE(QImage(dir.filePath("out.jpg")).size(), QSize(16, 16));

        // On several threads at once.
        writeTaggedPhoto(dir.filePath("photo.jpg"), "JPEG", 6);
        const ImageMetadata tagged = ImageMetadata::metadataForFile(dir.filePath("photo.jpg"));
        const QByteArray bare = ImageWriter::encode(quadrants(32, 16), {});
        const QByteArray expected = tagged.combineData(bare, FileFormat::Jpeg, QSize(32, 16));
        const QList<bool> same = QtConcurrent::blockingMapped(QList<int>(64), [&](int) {
            const ImageMetadata own = ImageMetadata::metadataForData(expected);
            return tagged.combineData(bare, FileFormat::Jpeg, QSize(32, 16)) == expected &&
                   own.value("Xmp.dc.creator") == QStringLiteral("A. Photographer");
        });
        QVERIFY(!same.contains(false));

        // Damaged copies of a tagged photo; the metadata sits near the start of each.
        QRandomGenerator rng(1234);
        const QByteArray plain = ImageWriter::encode(quadrants(16, 8), options);
        options.format = FileFormat::Tiff;
        const QByteArray tiff = ImageWriter::encode(quadrants(16, 8), options);
        for (const char* format : {"JPEG", "TIFF", "PNG"}) {
            writeTaggedPhoto(dir.filePath("photo"), format, 6);
            const QByteArray original = readAll(dir.filePath("photo"));
            const int span = int(std::min<qsizetype>(original.size(), 4096));
            for (int round = 0; round < 150; ++round) {
                QByteArray damaged = original;
                for (int i = 0, hits = 1 + int(rng.bounded(8)); i < hits; ++i)
                    damaged[int(rng.bounded(span))] = char(rng.bounded(256));
                if (round % 10 == 9)
                    damaged.truncate(int(rng.bounded(span)));
                const ImageMetadata m = ImageMetadata::metadataForData(damaged);
                for (const auto& [data, kind] :
                     {std::pair{plain, FileFormat::Jpeg}, {tiff, FileFormat::Tiff}})
                    QCOMPARE(QImage::fromData(m.combineData(data, kind, QSize(16, 8))).size(),
                             QSize(16, 8));
            }
        }
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
        } else if (format == "heic") {
            // Turned by its own boxes, with an EXIF orientation that must not turn it again.
            Exiv2::ExifData exif;
            exif["Exif.Image.Orientation"] = uint16_t(orientation);
            Exiv2::Blob tiff;
            Exiv2::ExifParser::encode(tiff, Exiv2::bigEndian, exif);
            const QByteArray block(reinterpret_cast<const char*>(tiff.data()),
                                   qsizetype(tiff.size()));
            QVERIFY(writeFile(path, heifFile(stored, heif_compression_HEVC,
                                             heif_orientation(orientation), block)));
        } else {
            if (!QImageReader::supportedImageFormats().contains(format))
                QSKIP("no Qt plugin for this format here");
            QVERIFY(stored.save(path, format.constData(), 98));
            if (orientation != 1)
                setTags(path, {{"Exif.Image.Orientation", std::to_string(orientation)}});
        }
        QVERIFY(ImageReader::canRead(path));
        QString error;
        const QImage read = ImageReader::readImage(path, &error);
        const QImage expected = upright(stored, orientation);
        QVERIFY2(read.size() == expected.size(), qPrintable(error));
        for (int y = 4; y < expected.height(); y += 8)
            for (int x = 4; x < expected.width(); x += 8)
                QVERIFY2(nearColour(read.pixelColor(x, y), expected.pixelColor(x, y), 40),
                         qPrintable(QString("at %1,%2").arg(x).arg(y)));
    }

    // Nothing here may crash or allocate what the header claims; each gives a message and
    // no metadata. A
    // photo cut off opens as far as it goes, but is known to be damaged; a thumbnail's own
    // end marker early in the file does not hide the cut.
    void badFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("claimed");
        QTest::addColumn<double>("kept");
        QTest::newRow("not an image") << "garbage" << QSize() << 0.0;
        QTest::newRow("missing") << "missing" << QSize() << 0.0;
        QTest::newRow("a folder") << "folder" << QSize() << 0.0;
        QTest::newRow("truncated png") << "truncated" << QSize() << 0.0;
        QTest::newRow("3.6 gigapixels") << "huge" << QSize(60000, 60000) << 0.0;
        QTest::newRow("just over the limit") << "huge" << QSize(12000, 10001) << 0.0;
        QTest::newRow("whole, with a thumbnail") << "thumbnail" << QSize(200, 150) << 1.0;
        QTest::newRow("cut at 30 %") << "cut" << QSize(200, 150) << 0.3;
        QTest::newRow("cut at 70 %, with a thumbnail") << "thumbnail" << QSize(200, 150) << 0.7;
    }
    void badFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, claimed);
        QFETCH(double, kept);
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
        } else if (kind != "missing") {
            QVERIFY(noisePhoto(200, 150).save(path, "JPEG", 90));
            if (kind == "thumbnail")
                addThumbnail(path);
            const QByteArray data = readAll(path);
            QVERIFY(writeFile(path, data.left(qsizetype(data.size() * kept))));
        }
        QString error;
        QString damage;
        const QImage read = ImageReader::readImage(path, &error, &damage);
        if (kept > 0) {
            QCOMPARE(read.size(), claimed);
            QCOMPARE(damage.contains("the data ends early"), kept < 1);
            return;
        }
        QVERIFY(read.isNull() && error.contains(QFileInfo(path).fileName()));
        QVERIFY(ImageMetadata::metadataForFile(path).isEmpty());
        if (claimed.isValid())
            QVERIFY2(error.contains("megapixels") &&
                         error.contains(QString::number(claimed.width())),
                     qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "test_metadata.moc"
