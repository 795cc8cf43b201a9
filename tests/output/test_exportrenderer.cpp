#include "compositing/BorderCompositor.h"
#include "output/ExportRenderer.h"
#include "output/ImageMetadata.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <exiv2/exiv2.hpp>

#include <cstdio>
#include <sys/stat.h>
#include <thread>

namespace {

ino_t inodeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QImage gradientPhoto(int w, int h, int seed = 0)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 255) / w, (y * 255) / h, (seed * 40) & 255));
    return image;
}

QImage noisePhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, rng.generate() | 0xff000000u);
    return image;
}

// A frame with an opaque band round a transparent window.
QImage alphaFrame(int w, int h)
{
    QImage frame(w, h, QImage::Format_ARGB32);
    frame.fill(qRgba(10, 20, 30, 255));
    for (int y = 3; y < h - 3; ++y)
        for (int x = 3; x < w - 3; ++x)
            frame.setPixel(x, y, qRgba(0, 0, 0, 0));
    return frame;
}

// A gray mask frame, bright along its left and right edges.
QImage grayMask(int w, int h)
{
    QImage mask(w, h, QImage::Format_Grayscale8);
    mask.fill(0);
    for (int y = 0; y < h; ++y)
        for (int x : {0, 1, 2, 3, w - 4, w - 3, w - 2, w - 1})
            mask.setPixel(x, y, qRgb(255, 255, 255));
    return mask;
}

} // namespace

class TestExportRenderer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;
    QTemporaryDir _out;
    const QImage _photo = gradientPhoto(64, 48);

    // A renderer with a photo, an alpha frame and the default white colour, writing JPEG
    // "Beach" at quality 90.
    void setUp(ExportRenderer& r, int* attempts = nullptr)
    {
        r.setImage(_photo);
        r.setBorderImage(alphaFrame(32, 24));
        r.setTranslation(QPointF(2, 1), 16);
        r.setFileName(QStringLiteral("Beach"));
        r.setFileFormat(101);
        r.setJpegQuality(90);
        if (attempts)
            r.setAttemptLog([attempts](int, qint64) { ++*attempts; });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid() && _out.isValid());
        qputenv("TMPDIR", QFile::encodeName(_tmp.path()));
        QCoreApplication::setApplicationName(QStringLiteral("Velluma"));
    }

    void cleanup() { TmpFilePath::removeTmpFiles(); }

    void noPhoto()
    {
        ExportRenderer r;
        r.setFileName(QStringLiteral("Beach"));
        QVERIFY(r.fullResolutionImage().isNull());
        QVERIFY(r.writeTmpFile().isEmpty());
        QString error;
        QVERIFY(r.writeImageToFile(_out.path() + "/none.jpg", 101, 90, false, &error).isEmpty());
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(_out.path() + "/none.jpg"));
        QVERIFY(r.encodeImage(101, 90).isEmpty());
    }

    void compositeUsesEveryInput_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("autoRotate");
        QTest::addColumn<bool>("withPostMask");
        QTest::newRow("no frame") << "none" << false << true << false;
        QTest::newRow("alpha frame, white") << "alpha" << false << true << false;
        QTest::newRow("mask frame, transparent") << "mask" << true << true << false;
        QTest::newRow("mask frame, no turning") << "mask" << false << false << true;
        QTest::newRow("alpha frame, post mask") << "alpha" << false << true << true;
    }
    void compositeUsesEveryInput()
    {
        QFETCH(QString, frame);
        QFETCH(bool, transparent);
        QFETCH(bool, autoRotate);
        QFETCH(bool, withPostMask);
        const QImage photo = gradientPhoto(60, 40);
        const QImage border = frame == "none"    ? QImage()
                              : frame == "alpha" ? alphaFrame(20, 30)
                                                 : grayMask(20, 30);
        QImage postMask;
        if (withPostMask) {
            postMask = QImage(20, 30, QImage::Format_ARGB32);
            postMask.fill(Qt::transparent);
            postMask.setPixel(10, 10, qRgba(0, 0, 0, 255));
        }
        const std::optional<QColor> color =
            transparent ? std::nullopt : std::optional<QColor>(QColor(200, 30, 40));
        ExportRenderer r;
        r.setImage(photo);
        r.setBorderImage(border);
        r.setPostMask(postMask);
        r.setBorderColor(color);
        r.setAutoRotate(autoRotate);
        // 3,-1 points of a 20 wide preview are 9,-3 pixels of the 60 wide photo.
        r.setTranslation(QPointF(3, -1), 20);
        const QImage expected = BorderCompositor::compositeFullResolution(
            photo, border, postMask, color, QPointF(9, -3), autoRotate);
        QCOMPARE(r.fullResolutionImage(), expected);
        if (frame == "none" && !withPostMask)
            QCOMPARE(expected.pixel(30, 20) | 0xff000000u, photo.pixel(21, 17));
    }

    // Which changes render the composite again and which write the file again. Equal
    // values and a re-fit (translation and width scaled together) change nothing.
    void changes_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("rendersAgain");
        QTest::addColumn<bool>("writesAgain");
        for (const char* c :
             {"nothing", "same photo", "same colour", "refit", "hideExtension", "same limit"})
            QTest::newRow(c) << QString(c) << false << false;
        for (const char* c : {"clearCache", "quality", "limit", "metadata", "preserveMetadata",
                              "fileReplaced", "fileRemoved"})
            QTest::newRow(c) << QString(c) << false << true;
        for (const char* c : {"photo", "frame", "postMask", "colour", "transparent", "autoRotate",
                              "drag", "offset"})
            QTest::newRow(c) << QString(c) << true << true;
    }
    void changes()
    {
        QFETCH(QString, change);
        QFETCH(bool, rendersAgain);
        QFETCH(bool, writesAgain);
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const qint64 render = r.fullResolutionImage().cacheKey();
        const QString path = r.writeTmpFile();
        QVERIFY(!path.isEmpty());
        QCOMPARE(attempts, 1);
        const ino_t inode = inodeOf(path);
        QVERIFY(r.isValidCacheAtPath(path));

        if (change == "same photo")
            r.setImage(_photo);
        else if (change == "same colour")
            r.setBorderColor(QColor(Qt::white));
        else if (change == "refit")
            r.setTranslation(QPointF(4, 2), 32);
        else if (change == "hideExtension")
            r.setHideExtension(true);
        else if (change == "same limit")
            r.setFilesizeLimit(0);
        else if (change == "clearCache")
            r.clearCache();
        else if (change == "quality")
            r.setJpegQuality(80);
        else if (change == "limit")
            r.setFilesizeLimit(1000);
        else if (change == "metadata")
            r.setMetadata(ImageMetadata());
        else if (change == "preserveMetadata")
            r.setPreserveMetadata(true);
        else if (change == "fileReplaced") // someone else puts another file there
            QVERIFY(writeFile(path + ".new", "not ours") &&
                    ::rename(QFile::encodeName(path + ".new").constData(),
                             QFile::encodeName(path).constData()) == 0);
        else if (change == "fileRemoved")
            QVERIFY(QFile::remove(path));
        else if (change == "photo")
            r.setImage(gradientPhoto(64, 48, 2));
        else if (change == "frame")
            r.setBorderImage(grayMask(32, 24));
        else if (change == "postMask")
            r.setPostMask(grayMask(32, 24));
        else if (change == "colour")
            r.setBorderColor(QColor(Qt::blue));
        else if (change == "transparent")
            r.setBorderColor(std::nullopt);
        else if (change == "autoRotate")
            r.setAutoRotate(false);
        else if (change == "drag")
            r.setTranslation(QPointF(3, 1), 16);
        else if (change == "offset")
            r.setFullResolutionOffset(QPointF(0, 5));

        QCOMPARE(r.fullResolutionImage().cacheKey() != render, rendersAgain);
        QCOMPARE(r.isValidCacheAtPath(path), !writesAgain);
        QCOMPARE(r.writeTmpFile(), path);
        // The same through writeImageToFile, the hidden extension making no difference.
        QCOMPARE(
            r.writeImageToFile(QStringLiteral("Beach"), 101, change == "quality" ? 80 : 90, true),
            path);
        QCOMPARE(attempts, writesAgain ? 2 : 1);
        // A new file took the old one's place (a replaced or removed file is gone, so its
        // inode number may come back).
        if (!change.startsWith("file"))
            QCOMPARE(inodeOf(path) != inode, writesAgain);
        QCOMPARE(readAll(path).left(2), QByteArray("\xff\xd8"));
        QVERIFY(r.isValidCacheAtPath(path));
    }

    void tmpFileNameAndFormat_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("decoderFormat");
        QTest::newRow("jpeg") << 101 << QByteArray("jpeg");
        QTest::newRow("png") << 102 << QByteArray("png");
        QTest::newRow("tiff") << 103 << QByteArray("tiff");
    }
    void tmpFileNameAndFormat()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, decoderFormat);
        ExportRenderer r;
        setUp(r);
        r.setFileFormat(format);
        const QString path = r.writeTmpFile();
        QCOMPARE(path, TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), format));
        QImageReader reader(path);
        QCOMPARE(reader.format(), decoderFormat);
        const QImage written = reader.read();
        QCOMPARE(written.size(), QSize(64, 48));
        if (format != 101) // lossless formats hold the composite exactly
            QCOMPARE(written.convertToFormat(QImage::Format_ARGB32),
                     r.fullResolutionImage().convertToFormat(QImage::Format_ARGB32));
    }

    void anotherFormatNeverReuses()
    {
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const QString jpeg = r.writeTmpFile();
        const QString tiff = r.writeTmpFileWithFormat(103);
        QVERIFY(tiff.endsWith(".tiff"));
        QCOMPARE(QImageReader(tiff).format(), QByteArray("tiff"));
        // The record covers only the file written last: the JPEG is written anew.
        QVERIFY(!r.isValidCacheAtPath(jpeg));
        const ino_t inode = inodeOf(jpeg);
        QCOMPARE(r.writeTmpFile(), jpeg);
        QVERIFY(inodeOf(jpeg) != inode);
        QCOMPARE(attempts, 2);

        // The same absolute path asked for in another format is written in that format,
        // and another quality is another JPEG.
        const QString user = _out.path() + "/picture";
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("jpeg"));
        QCOMPARE(r.writeImageToFile(user, 102, 90, false), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("png"));
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        const int before = attempts;
        QCOMPARE(r.writeImageToFile(user, 101, 50, false), user);
        QCOMPARE(attempts, before + 1);
    }

    void oldFileAtUserPathIsNeverTheResult()
    {
        ExportRenderer r;
        setUp(r);
        const QString tmp = r.writeTmpFile();
        const QString user = _out.path() + "/Beach.jpg";
        QVERIFY(writeFile(user, "an old file"));
        QVERIFY(!r.isValidCacheAtPath(user));
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        QCOMPARE(QImage(user).size(), QSize(64, 48));
        QVERIFY(r.isValidCacheAtPath(user));
        QVERIFY(!r.isValidCacheAtPath(tmp));
        QVERIFY(QFile::remove(user));
    }

    void failedWriteKeepsOldFile()
    {
        ExportRenderer r;
        int attempts = 0;
        r.setImage(noisePhoto(512, 512));
        r.setFileName(QStringLiteral("Noise"));
        r.setAttemptLog([&attempts](int, qint64) { ++attempts; });
        const QString tmp = r.writeTmpFile();
        QVERIFY(!tmp.isEmpty());

        // A folder that does not exist: the failure leaves the remembered file current.
        QString error;
        QVERIFY(
            r.writeImageToFile(_out.path() + "/missing/x.png", 102, 90, false, &error).isEmpty());
        QVERIFY(!error.isEmpty());
        const int before = attempts;
        QCOMPARE(r.writeTmpFile(), tmp);
        QCOMPARE(attempts, before);

        // No JPEG quality brings this noise under one kilobyte: nothing is written and the
        // old file stays byte for byte.
        const QString user = _out.path() + "/Noise.jpg";
        const QByteArray old("old contents, byte for byte");
        QVERIFY(writeFile(user, old));
        r.setFilesizeLimit(1);
        QVERIFY(r.writeImageToFile(user, 101, 90, false).isEmpty());
        QVERIFY(attempts > before + 1);
        QCOMPARE(readAll(user), old);
        QVERIFY(!r.isValidCacheAtPath(user));
        QVERIFY(QFile::remove(user));
    }

    void limitAndMetadataByFormat_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("preserve");
        QTest::addColumn<bool>("jpeg");
        QTest::newRow("jpeg, kept") << 101 << true << true;
        QTest::newRow("tiff, kept") << 103 << true << false;
        QTest::newRow("png never") << 102 << true << false;
        QTest::newRow("jpeg, not kept") << 101 << false << true;
        QTest::newRow("tiff, not kept") << 103 << false << false;
    }
    void limitAndMetadataByFormat()
    {
        QFETCH(int, format);
        QFETCH(bool, preserve);
        QFETCH(bool, jpeg);
        const QString source = _out.path() + "/exif-source.jpg";
        QVERIFY(gradientPhoto(48, 32).save(source, "JPEG", 95));
        {
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(source).toStdString());
            image->readMetadata();
            image->exifData()["Exif.Image.Artist"] = std::string("Test Artist");
            image->iptcData()["Iptc.Application2.Caption"] = std::string("Test Caption");
            image->writeMetadata();
        }
        ExportRenderer r;
        r.setImage(noisePhoto(200, 200));
        r.setMetadata(ImageMetadata::metadataForFile(source));
        r.setPreserveMetadata(preserve);
        r.setFilesizeLimit(30);
        r.setFileName(QStringLiteral("Meta"));
        const QString path = r.writeTmpFileWithFormat(format);
        QVERIFY(!path.isEmpty());
        // The limit holds for JPEG only.
        QCOMPARE(QFileInfo(path).size() < 30 * 1024, jpeg);
        // The metadata goes into JPEG and TIFF when asked for.
        const bool kept = preserve && format != 102;
        const ImageMetadata out = ImageMetadata::metadataForFile(path);
        QCOMPARE(out.value(QStringLiteral("Exif.Image.Artist")) == "Test Artist", kept);
        QCOMPARE(out.value(QStringLiteral("Iptc.Application2.Caption")) == "Test Caption", kept);
    }

    void writesFromAWorkerThread()
    {
        ExportRenderer r;
        setUp(r);
        QString path;
        std::thread worker([&] { path = r.writeTmpFile(); });
        worker.join();
        QCOMPARE(QImage(path).size(), QSize(64, 48));
        QVERIFY(r.isValidCacheAtPath(path));
    }

    void changeDuringWriteIsNotRemembered()
    {
        ExportRenderer r;
        setUp(r);
        int attempts = 0;
        // The user changes the colour while the file is being encoded.
        r.setAttemptLog([&](int, qint64) {
            if (++attempts == 1)
                r.setBorderColor(QColor(Qt::green));
        });
        const QString path = r.writeTmpFile();
        QVERIFY(!path.isEmpty());
        QVERIFY(!r.isValidCacheAtPath(path));
        QCOMPARE(r.writeTmpFile(), path);
        QCOMPARE(attempts, 2);
        QVERIFY(r.isValidCacheAtPath(path));
    }

    void removeTmpFiles()
    {
        ExportRenderer r;
        setUp(r);
        const QString path = r.writeTmpFile();
        QVERIFY(QFileInfo::exists(path));
        ExportRenderer::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(TmpFilePath::processFolderPath()));
        // The remembered file is gone with it, so the next request writes again.
        QVERIFY(!r.isValidCacheAtPath(path));
        QCOMPARE(r.writeTmpFile(), path);
        QVERIFY(QFileInfo::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestExportRenderer)
#include "test_exportrenderer.moc"
