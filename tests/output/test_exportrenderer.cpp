#include "compositing/BorderCompositor.h"
#include "output/ExportRenderer.h"
#include "output/ImageMetadata.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
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
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_ino;
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
    frame.fill(Qt::transparent);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x < 3 || y < 3 || x >= w - 3 || y >= h - 3)
                frame.setPixel(x, y, qRgba(10, 20, 30, 255));
    return frame;
}

QImage grayMask(int w, int h)
{
    QImage mask(w, h, QImage::Format_Grayscale8);
    mask.fill(0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x < 4 || x >= w - 4)
                mask.setPixel(x, y, qRgb(255, 255, 255));
    return mask;
}

// A JPEG photo carrying EXIF and IPTC, written with Exiv2 directly.
QString photoWithMetadata(const QString& folder)
{
    const QString path = folder + "/exif-source.jpg";
    if (!gradientPhoto(48, 32).save(path, "JPEG", 95))
        return QString();
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Artist"] = std::string("Test Artist");
        image->setExifData(exif);
        Exiv2::IptcData iptc;
        iptc["Iptc.Application2.Caption"] = std::string("Test Caption");
        image->setIptcData(iptc);
        image->writeMetadata();
    } catch (...) {
        return QString();
    }
    return path;
}

} // namespace

class TestExportRenderer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;
    QTemporaryDir _out;

    // A renderer with a photo, an alpha frame and the default white colour, writing JPEG
    // "Beach" at quality 90.
    void setUp(ExportRenderer& r, int* attempts = nullptr)
    {
        r.setImage(gradientPhoto(64, 48));
        r.setBorderImage(alphaFrame(32, 24));
        r.setFileName(QStringLiteral("Beach"));
        r.setFileFormat(101);
        r.setJpegQuality(90);
        if (attempts)
            r.setAttemptLog([attempts](int, qint64) { ++*attempts; });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid());
        QVERIFY(_out.isValid());
        qputenv("TMPDIR", QFile::encodeName(_tmp.path()));
        QCoreApplication::setApplicationName(QStringLiteral("Velluma"));
    }

    void cleanup() { TmpFilePath::removeTmpFiles(); }

    void noPhoto()
    {
        ExportRenderer r;
        r.setFileName(QStringLiteral("Beach"));
        QVERIFY(!r.hasImage());
        QVERIFY(r.fullResolutionImage().isNull());
        QVERIFY(r.writeTmpFile().isEmpty());
        QString error;
        QVERIFY(r.writeImageToFile(_out.path() + "/none.jpg", 101, 90, false, &error).isEmpty());
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(_out.path() + "/none.jpg"));
        QVERIFY(r.encodeImage(101, 90).isEmpty());
    }

    void plainPhotoRendersAsItself()
    {
        ExportRenderer r;
        const QImage photo = gradientPhoto(40, 30);
        r.setImage(photo);
        const QImage out = r.fullResolutionImage();
        QCOMPARE(out.size(), photo.size());
        for (int y = 0; y < 30; y += 7)
            for (int x = 0; x < 40; x += 7)
                QCOMPARE(out.pixel(x, y) | 0xff000000u, photo.pixel(x, y));
    }

    void offsetFromTranslation()
    {
        ExportRenderer r;
        r.setImage(gradientPhoto(64, 48));
        r.setTranslation(QPointF(5, 2), 16);
        QCOMPARE(r.fullResolutionOffset(), QPointF(20, 8));
        r.setFullResolutionOffset(QPointF(-3, 7));
        QCOMPARE(r.fullResolutionOffset(), QPointF(-3, 7));
        // Without a reduced width there is nothing to scale.
        r.setTranslation(QPointF(5, 2), 0);
        QCOMPARE(r.fullResolutionOffset(), QPointF(0, 0));
    }

    void compositeUsesEveryInput_data()
    {
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("autoRotate");
        QTest::addColumn<bool>("withPostMask");
        QTest::newRow("alpha frame, white") << true << false << true << false;
        QTest::newRow("mask frame, transparent") << false << true << true << false;
        QTest::newRow("mask frame, no turning") << false << false << false << true;
        QTest::newRow("alpha frame, post mask") << true << false << true << true;
    }

    void compositeUsesEveryInput()
    {
        QFETCH(bool, alpha);
        QFETCH(bool, transparent);
        QFETCH(bool, autoRotate);
        QFETCH(bool, withPostMask);
        const QImage photo = gradientPhoto(60, 40);
        const QImage border = alpha ? alphaFrame(20, 30) : grayMask(20, 30);
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
        r.setTranslation(QPointF(3, -1), 20);
        const QImage expected = BorderCompositor::compositeFullResolution(
            photo, border, postMask, color, QPointF(9, -3), autoRotate);
        QCOMPARE(r.fullResolutionImage(), expected);
    }

    void renderIsKeptUntilAChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("rendersAgain");
        QTest::newRow("nothing") << "nothing" << false;
        QTest::newRow("same colour") << "same colour" << false;
        QTest::newRow("same photo") << "same photo" << false;
        QTest::newRow("re-fit") << "refit" << false;
        QTest::newRow("quality, format, limit") << "output" << false;
        QTest::newRow("clearCache") << "clearCache" << false;
        QTest::newRow("photo") << "photo" << true;
        QTest::newRow("frame") << "frame" << true;
        QTest::newRow("post mask") << "postMask" << true;
        QTest::newRow("colour") << "colour" << true;
        QTest::newRow("transparent") << "transparent" << true;
        QTest::newRow("auto-rotate") << "autoRotate" << true;
        QTest::newRow("drag") << "drag" << true;
        QTest::newRow("full-resolution offset") << "offset" << true;
    }

    void renderIsKeptUntilAChange()
    {
        QFETCH(QString, change);
        QFETCH(bool, rendersAgain);
        ExportRenderer r;
        const QImage photo = gradientPhoto(64, 48);
        r.setImage(photo);
        r.setBorderImage(alphaFrame(32, 24));
        r.setTranslation(QPointF(2, 1), 16);
        const qint64 first = r.fullResolutionImage().cacheKey();
        QCOMPARE(r.fullResolutionImage().cacheKey(), first);

        if (change == "same colour")
            r.setBorderColor(QColor(Qt::white));
        else if (change == "same photo")
            r.setImage(photo);
        else if (change == "refit")
            r.setTranslation(QPointF(4, 2), 32);
        else if (change == "output") {
            r.setJpegQuality(40);
            r.setFileFormat(102);
            r.setFilesizeLimit(100);
        } else if (change == "clearCache")
            r.clearCache();
        else if (change == "photo")
            r.setImage(gradientPhoto(64, 48, 1));
        else if (change == "frame")
            r.setBorderImage(grayMask(32, 24));
        else if (change == "postMask")
            r.setPostMask(grayMask(32, 24));
        else if (change == "colour")
            r.setBorderColor(QColor(Qt::red));
        else if (change == "transparent")
            r.setBorderColor(std::nullopt);
        else if (change == "autoRotate")
            r.setAutoRotate(false);
        else if (change == "drag")
            r.setTranslation(QPointF(3, 1), 16);
        else if (change == "offset")
            r.setFullResolutionOffset(QPointF(1, 1));
        QCOMPARE(r.fullResolutionImage().cacheKey() != first, rendersAgain);
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
        QVERIFY(path.startsWith(TmpFilePath::processFolderPath() + "/"));
        QImageReader reader(path);
        QCOMPARE(reader.format(), decoderFormat);
        const QImage written = reader.read();
        QCOMPARE(written.size(), QSize(64, 48));
        if (format != 101) {
            // Lossless formats hold the composite exactly.
            QCOMPARE(written.convertToFormat(QImage::Format_ARGB32),
                     r.fullResolutionImage().convertToFormat(QImage::Format_ARGB32));
        }
    }

    void twoCallsWriteOnce()
    {
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const QString first = r.writeTmpFile();
        QVERIFY(!first.isEmpty());
        QCOMPARE(attempts, 1);
        const ino_t inode = inodeOf(first);
        QVERIFY(r.isValidCacheAtPath(first));
        const QString second = r.writeTmpFile();
        QCOMPARE(second, first);
        QCOMPARE(attempts, 1);
        QCOMPARE(inodeOf(second), inode);
        // The same through writeImageToFile, the hidden extension making no difference.
        QCOMPARE(r.writeImageToFile(QStringLiteral("Beach"), 101, 90, true), first);
        QCOMPARE(attempts, 1);
    }

    void changeWritesAgain_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* c : {"photo", "frame", "postMask", "colour", "transparent", "autoRotate",
                              "drag", "offset", "metadata", "preserveMetadata", "limit", "quality",
                              "clearCache", "fileReplaced", "fileRemoved"})
            QTest::newRow(c) << QString::fromLatin1(c);
    }

    void changeWritesAgain()
    {
        QFETCH(QString, change);
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const QString path = r.writeTmpFile();
        QVERIFY(!path.isEmpty());
        const ino_t inode = inodeOf(path);

        if (change == "photo")
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
            r.setTranslation(QPointF(1, 0), 32);
        else if (change == "offset")
            r.setFullResolutionOffset(QPointF(0, 5));
        else if (change == "metadata")
            r.setMetadata(ImageMetadata());
        else if (change == "preserveMetadata")
            r.setPreserveMetadata(true);
        else if (change == "limit")
            r.setFilesizeLimit(1000);
        else if (change == "quality")
            r.setJpegQuality(80);
        else if (change == "clearCache")
            r.clearCache();
        else if (change == "fileReplaced") {
            // Someone else puts another file there.
            QVERIFY(writeFile(path + ".new", "not ours"));
            QVERIFY(::rename(QFile::encodeName(path + ".new").constData(),
                             QFile::encodeName(path).constData()) == 0);
        } else if (change == "fileRemoved")
            QVERIFY(QFile::remove(path));

        QVERIFY(!r.isValidCacheAtPath(path));
        QCOMPARE(r.writeTmpFile(), path);
        QCOMPARE(attempts, 2);
        // A new file took the old one's place (the replaced and removed files are gone, so
        // their inode numbers may come back).
        if (change != "fileRemoved" && change != "fileReplaced")
            QVERIFY(inodeOf(path) != inode);
        QCOMPARE(readAll(path).left(2), QByteArray("\xff\xd8"));
        QVERIFY(r.isValidCacheAtPath(path));
    }

    void equalValuesKeepTheFile()
    {
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const QImage photo = gradientPhoto(64, 48);
        r.setImage(photo);
        r.setTranslation(QPointF(2, 2), 32);
        const QString path = r.writeTmpFile();
        QCOMPARE(attempts, 1);
        r.setImage(photo);                   // the same picture
        r.setBorderColor(QColor(Qt::white)); // the colour it had
        r.setTranslation(QPointF(4, 4), 64); // a re-fit
        r.setHideExtension(true);            // changes nothing here
        r.setPreserveMetadata(false);        // as it was
        r.setFilesizeLimit(0);               // as it was
        QCOMPARE(r.writeTmpFile(), path);
        QCOMPARE(attempts, 1);
    }

    void anotherFormatNeverReuses()
    {
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const QString jpeg = r.writeTmpFile();
        const QString tiff = r.writeTmpFileWithFormat(103);
        QVERIFY(tiff != jpeg);
        QVERIFY(tiff.endsWith(".tiff"));
        QCOMPARE(QImageReader(tiff).format(), QByteArray("tiff"));
        // The record covers only the file written last: the JPEG is written anew.
        QVERIFY(!r.isValidCacheAtPath(jpeg));
        const ino_t inode = inodeOf(jpeg);
        QCOMPARE(r.writeTmpFile(), jpeg);
        QVERIFY(inodeOf(jpeg) != inode);
        QCOMPARE(attempts, 2);

        // The same absolute path asked for in another format is written in that format.
        const QString user = _out.path() + "/picture";
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("jpeg"));
        QCOMPARE(r.writeImageToFile(user, 102, 90, false), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("png"));
        // Another quality is another JPEG.
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
        QVERIFY(r.isValidCacheAtPath(tmp));
        const QString user = _out.path() + "/Beach.jpg";
        QVERIFY(writeFile(user, "an old file"));
        QVERIFY(!r.isValidCacheAtPath(user));
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        QCOMPARE(readAll(user).left(2), QByteArray("\xff\xd8"));
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
        error.clear();
        QVERIFY(r.writeImageToFile(user, 101, 90, false, &error).isEmpty());
        QVERIFY(attempts > before + 1);
        QCOMPARE(readAll(user), old);
        QVERIFY(!r.isValidCacheAtPath(user));
        QVERIFY(QFile::remove(user));
    }

    void limitAppliesToJpegOnly_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("underLimit");
        QTest::newRow("jpeg") << 101 << true;
        QTest::newRow("png") << 102 << false;
        QTest::newRow("tiff") << 103 << false;
    }

    void limitAppliesToJpegOnly()
    {
        QFETCH(int, format);
        QFETCH(bool, underLimit);
        ExportRenderer r;
        r.setImage(noisePhoto(200, 200));
        r.setFileName(QStringLiteral("Limited"));
        r.setFilesizeLimit(30);
        const QString path = r.writeTmpFileWithFormat(format);
        QVERIFY(!path.isEmpty());
        const qint64 size = QFileInfo(path).size();
        QVERIFY(size > 0);
        QCOMPARE(size < 30 * 1024, underLimit);
    }

    void metadataFollowsTheChoice_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("preserve");
        QTest::addColumn<bool>("expected");
        QTest::newRow("jpeg, kept") << 101 << true << true;
        QTest::newRow("tiff, kept") << 103 << true << true;
        QTest::newRow("png never") << 102 << true << false;
        QTest::newRow("jpeg, not kept") << 101 << false << false;
        QTest::newRow("tiff, not kept") << 103 << false << false;
    }

    void metadataFollowsTheChoice()
    {
        QFETCH(int, format);
        QFETCH(bool, preserve);
        QFETCH(bool, expected);
        const QString source = photoWithMetadata(_out.path());
        QVERIFY(!source.isEmpty());
        const ImageMetadata metadata = ImageMetadata::metadataForFile(source);
        QCOMPARE(metadata.value(QStringLiteral("Exif.Image.Artist")),
                 QStringLiteral("Test Artist"));

        ExportRenderer r;
        r.setImage(gradientPhoto(48, 32));
        r.setMetadata(metadata);
        r.setPreserveMetadata(preserve);
        r.setFileName(QStringLiteral("Meta"));
        r.setFileFormat(format);
        const QString path = r.writeTmpFile();
        QVERIFY(!path.isEmpty());
        const ImageMetadata out = ImageMetadata::metadataForFile(path);
        QCOMPARE(out.value(QStringLiteral("Exif.Image.Artist")) == "Test Artist", expected);
        QCOMPARE(out.value(QStringLiteral("Iptc.Application2.Caption")) == "Test Caption",
                 expected);
    }

    void writesFromAWorkerThread()
    {
        ExportRenderer r;
        setUp(r);
        QString path;
        std::thread worker([&] { path = r.writeTmpFile(); });
        worker.join();
        QVERIFY(!path.isEmpty());
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
