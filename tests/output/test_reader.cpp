#include "CodecFiles.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/TestFiles.h"

#include <QImageReader>
#include <QTemporaryDir>
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

class TestReader : public QObject {
    Q_OBJECT

private slots:
    void allocationLimitFitsLargePhotos()
    {
        ImageReader::installAllocationLimit();
        // A photo of the largest accepted size in 16-bit RGBA must fit.
        QVERIFY(qint64(QImageReader::allocationLimit()) * 1024 * 1024 >=
                ImageReader::MaxPixels * 8);
        QVERIFY(ImageReader::MaxPixels >= 100'000'000);
    }

    void readsEveryFormat_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("png") << QByteArray("png") << 0;
        QTest::newRow("tiff") << QByteArray("tiff") << 0;
        QTest::newRow("bmp") << QByteArray("bmp") << 0;
        QTest::newRow("webp") << QByteArray("webp") << 40;
        QTest::newRow("jpeg") << QByteArray("jpg") << 40;
        QTest::newRow("heic") << QByteArray("heic") << 40;
        QTest::newRow("avif") << QByteArray("avif") << 40;
        QTest::newRow("jxl") << QByteArray("jxl") << 0;
    }
    void readsEveryFormat()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, tolerance);
        QTemporaryDir dir;
        const QString path = dir.filePath("photo." + format);
        QImage image = quadrants(48, 32);
        // The stored resolution plays no part: pixels are pixels.
        image.setDotsPerMeterX(11811);
        image.setDotsPerMeterY(11811);
        if (format == "heic" || format == "avif")
            QVERIFY(writeFile(path, heifFile(image, format == "heic" ? heif_compression_HEVC
                                                                     : heif_compression_AV1)));
        else if (format == "jxl")
            QVERIFY(writeFile(path, jxlFile(image)));
        else if (!QImageReader::supportedImageFormats().contains(format))
            QSKIP("no Qt plugin for this format here");
        else
            QVERIFY(image.save(path, format.constData(), 95));
        QVERIFY(ImageReader::canRead(path));
        QString error;
        const QImage read = ImageReader::readImage(path, &error);
        QVERIFY2(!read.isNull(), qPrintable(error));
        QCOMPARE(read.size(), QSize(48, 32));
        for (QPoint p : {QPoint(5, 5), QPoint(40, 5), QPoint(5, 28), QPoint(40, 28)})
            QVERIFY(close(read.pixel(p), image.pixel(p), tolerance));
        const QStringList filters = ImageReader::nameFilters();
        QVERIFY(filters.contains("*." + format) && filters.contains("*." + format.toUpper()));
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

    void turnedByOrientation_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("orientation");
        for (const char* format : {"jpg", "tiff", "png", "heic"})
            for (int o = 1; o <= 8; ++o)
                QTest::addRow("%s %d", format, o) << QByteArray(format) << o;
    }
    void turnedByOrientation()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, orientation);
        QTemporaryDir dir;
        const QString path = dir.filePath("photo." + format);
        const QImage stored = quadrants(64, 32);
        if (format == "heic") {
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
        QString error;
        const QImage read = ImageReader::readImage(path, &error);
        QVERIFY2(!read.isNull(), qPrintable(error));
        const QImage expected = upright(stored, orientation);
        QCOMPARE(read.size(), expected.size());
        for (int y = 4; y < expected.height(); y += 8)
            for (int x = 4; x < expected.width(); x += 8)
                QVERIFY2(close(read.pixel(x, y), expected.pixel(x, y), 40),
                         qPrintable(QString("at %1,%2").arg(x).arg(y)));
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
            png.format = 102;
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

QTEST_GUILESS_MAIN(TestReader)
#include "test_reader.moc"
