#include "output/ImageReader.h"
#include "output/ImageWriter.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <exiv2/exiv2.hpp>

namespace {

// Four quadrants of different colours: every turn and mirror gives a different picture.
const QRgb Quadrants[4] = {qRgb(230, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 230),
                           qRgb(240, 240, 240)};

QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, Quadrants[(y >= height / 2) * 2 + (x >= width / 2)]);
    return image;
}

// What EXIF says each orientation means, written out pixel by pixel.
QImage upright(const QImage& stored, int orientation)
{
    const int w = stored.width();
    const int h = stored.height();
    const bool swap = orientation >= 5;
    QImage out(swap ? h : w, swap ? w : h, QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            QPoint s;
            switch (orientation) {
            case 2:
                s = {w - 1 - x, y};
                break;
            case 3:
                s = {w - 1 - x, h - 1 - y};
                break;
            case 4:
                s = {x, h - 1 - y};
                break;
            case 5:
                s = {y, x};
                break;
            case 6:
                s = {y, h - 1 - x};
                break;
            case 7:
                s = {w - 1 - y, h - 1 - x};
                break;
            case 8:
                s = {w - 1 - y, x};
                break;
            default:
                s = {x, y};
                break;
            }
            out.setPixel(x, y, stored.pixel(s));
        }
    }
    return out;
}

bool close(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), data.size());
}

quint32 crc32Of(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& body)
{
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), chunk.data());
    QByteArray typed = QByteArray(type, 4) + body;
    chunk += typed;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32Of(typed), crc.data());
    return chunk + crc;
}

} // namespace

class TestReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ImageReader::installAllocationLimit(); }

    void allocationLimitFitsLargePhotos()
    {
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
        QTest::newRow("ppm") << QByteArray("ppm") << 0;
        QTest::newRow("webp") << QByteArray("webp") << 40;
        QTest::newRow("jpeg") << QByteArray("jpg") << 40;
    }
    void readsEveryFormat()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, tolerance);
        if (!QImageReader::supportedImageFormats().contains(format))
            QSKIP("no Qt plugin for this format here");
        QTemporaryDir dir;
        const QString path = dir.filePath("photo." + format);
        QImage image = quadrants(48, 32);
        // The stored resolution plays no part: pixels are pixels.
        image.setDotsPerMeterX(11811);
        image.setDotsPerMeterY(11811);
        QVERIFY(image.save(path, format.constData(), 95));
        QVERIFY(ImageReader::canRead(path));
        QString error;
        const QImage read = ImageReader::readImage(path, &error);
        QVERIFY2(!read.isNull(), qPrintable(error));
        QCOMPARE(read.size(), QSize(48, 32));
        for (QPoint p : {QPoint(5, 5), QPoint(40, 5), QPoint(5, 28), QPoint(40, 28)})
            QVERIFY(close(read.pixel(p), image.pixel(p), tolerance));
    }

    void turnedByOrientation_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("orientation");
        for (const char* format : {"jpg", "tiff", "png"})
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
        QVERIFY(stored.save(path, format.constData(), 98));
        {
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            image->readMetadata();
            image->exifData()["Exif.Image.Orientation"] = uint16_t(orientation);
            image->writeMetadata();
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

    void notAnImageIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg");
        writeFile(path, QByteArray(5000, 'z'));
        QVERIFY(!ImageReader::canRead(path));
        QString error;
        QVERIFY(ImageReader::readImage(path, &error).isNull());
        QVERIFY(!error.isEmpty());

        error.clear();
        QVERIFY(ImageReader::readImage(dir.filePath("none.png"), &error).isNull());
        QVERIFY(!error.isEmpty());
        error.clear();
        QVERIFY(ImageReader::readImage(dir.path(), &error).isNull());
        QVERIFY(!error.isEmpty());
    }

    void truncatedFileDoesNotCrash()
    {
        QTemporaryDir dir;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(quadrants(200, 200).save(&buffer, "PNG"));
        const QString path = dir.filePath("cut.png");
        writeFile(path, png.left(60));
        QString error;
        const QImage image = ImageReader::readImage(path, &error);
        QVERIFY(image.isNull());
        QVERIFY(!error.isEmpty());
    }

    void hugeClaimRefusedBeforeDecoding_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("refused");
        QTest::newRow("400 MP") << 20000 << 20000 << true;
        QTest::newRow("2 GP") << 60000 << 40000 << true;
        QTest::newRow("just over") << 12000 << 10001 << true;
    }
    void hugeClaimRefusedBeforeDecoding()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, refused);
        // A PNG header that claims the size and nothing behind it.
        QByteArray ihdr(13, '\0');
        qToBigEndian<quint32>(quint32(width), ihdr.data());
        qToBigEndian<quint32>(quint32(height), ihdr.data() + 4);
        ihdr[8] = 8; // bit depth
        ihdr[9] = 6; // RGBA
        const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
                               pngChunk("IDAT", QByteArray()) + pngChunk("IEND", QByteArray());
        QTemporaryDir dir;
        const QString path = dir.filePath("huge.png");
        writeFile(path, png);
        QString error;
        const QImage image = ImageReader::readImage(path, &error);
        QCOMPARE(image.isNull(), refused);
        QVERIFY2(error.contains("megapixels"), qPrintable(error));
        QVERIFY(error.contains(QString::number(width)));
    }

    void jpegClaimingHugeSizeRefused()
    {
        QByteArray jpeg = ImageWriter::encode(quadrants(16, 16), {});
        const int sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0);
        // Height and width of the frame header.
        qToBigEndian<quint16>(60000, jpeg.data() + sof + 5);
        qToBigEndian<quint16>(60000, jpeg.data() + sof + 7);
        QTemporaryDir dir;
        const QString path = dir.filePath("huge.jpg");
        writeFile(path, jpeg);
        QString error;
        QVERIFY(ImageReader::readImage(path, &error).isNull());
        QVERIFY2(error.contains("megapixels"), qPrintable(error));
    }

    void nameFiltersCoverThePlugins()
    {
        QStringList filters = ImageReader::nameFilters();
        for (const char* f : {"*.jpg", "*.jpeg", "*.png", "*.tif", "*.tiff", "*.JPG", "*.bmp"})
            QVERIFY2(filters.contains(f), f);
        if (QImageReader::supportedImageFormats().contains("webp"))
            QVERIFY(filters.contains("*.webp"));
        QCOMPARE(filters.removeDuplicates(), 0);
    }
};

QTEST_GUILESS_MAIN(TestReader)
#include "test_reader.moc"
