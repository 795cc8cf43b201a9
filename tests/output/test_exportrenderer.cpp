#include "compositing/BorderCompositor.h"
#include "output/ExportRenderer.h"
#include "output/ImageMetadata.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

namespace {

ino_t inodeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
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

using Change = std::function<void(ExportRenderer&, const QString&)>;

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

    // The render is the compositor's, fed with every input; the offset in preview points
    // of a 20 wide preview becomes 3 times as many pixels of the 60 wide photo.
    void compositeUsesEveryInput_data()
    {
        QTest::addColumn<QImage>("border");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("autoRotate");
        QTest::addColumn<bool>("withPostMask");
        QTest::newRow("no frame") << QImage() << false << true << false;
        QTest::newRow("alpha frame, white") << alphaFrame(20, 30) << false << true << false;
        QTest::newRow("mask frame, transparent") << grayMask(20, 30) << true << true << false;
        QTest::newRow("mask frame, no turning") << grayMask(20, 30) << false << false << true;
        QTest::newRow("alpha frame, post mask") << alphaFrame(20, 30) << false << true << true;
    }
    void compositeUsesEveryInput()
    {
        QFETCH(QImage, border);
        QFETCH(bool, transparent);
        QFETCH(bool, autoRotate);
        QFETCH(bool, withPostMask);
        const QImage photo = gradientPhoto(60, 40);
        const QImage postMask = withPostMask ? alphaFrame(20, 30) : QImage();
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
        if (border.isNull() && !withPostMask) // 9 to the right, 3 down
            QCOMPARE(expected.pixel(30, 20) | 0xff000000u, photo.pixel(21, 17));
    }

    // Which changes render the composite again and which write the file again. Equal
    // values and a re-fit (translation and width scaled together) change nothing.
    void changes_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("rendersAgain");
        QTest::addColumn<bool>("writesAgain");
        const QImage photo = _photo;
        auto row = [](const char* name, bool renders, bool writes, Change change) {
            QTest::newRow(name) << change << renders << writes;
        };
        row("nothing", false, false, [](ExportRenderer&, auto) {});
        row("same photo", false, false, [photo](ExportRenderer& r, auto) { r.setImage(photo); });
        row("same colour", false, false, [](auto& r, auto) { r.setBorderColor(Qt::white); });
        row("refit", false, false, [](auto& r, auto) { r.setTranslation({4, 2}, 32); });
        row("hide extension", false, false, [](auto& r, auto) { r.setHideExtension(true); });
        row("same limit", false, false, [](auto& r, auto) { r.setFilesizeLimit(0); });
        row("clearCache", false, true, [](auto& r, auto) { r.clearCache(); });
        row("limit", false, true, [](auto& r, auto) { r.setFilesizeLimit(1000); });
        row("metadata", false, true, [](auto& r, auto) { r.setMetadata(ImageMetadata()); });
        row("preserve metadata", false, true, [](auto& r, auto) { r.setPreserveMetadata(true); });
        row("files removed with their folder", false, true,
            [](auto&, auto) { TmpFilePath::removeTmpFiles(); });
        row("file removed", false, true, [](auto&, const QString& path) { QFile::remove(path); });
        row("file replaced by someone else", false, true, [](auto&, const QString& path) {
            writeFile(path + ".new", "not ours");
            ::rename(QFile::encodeName(path + ".new"), QFile::encodeName(path));
        });
        row("photo", true, true, [](auto& r, auto) { r.setImage(gradientPhoto(64, 48, 200)); });
        row("frame", true, true, [](auto& r, auto) { r.setBorderImage(grayMask(32, 24)); });
        row("post mask", true, true, [](auto& r, auto) { r.setPostMask(grayMask(32, 24)); });
        row("colour", true, true, [](auto& r, auto) { r.setBorderColor(Qt::blue); });
        row("transparent", true, true, [](auto& r, auto) { r.setBorderColor(std::nullopt); });
        row("auto-rotate", true, true, [](auto& r, auto) { r.setAutoRotate(false); });
        row("drag", true, true, [](auto& r, auto) { r.setTranslation({3, 1}, 16); });
        row("offset", true, true, [](auto& r, auto) { r.setFullResolutionOffset({0, 5}); });
    }
    void changes()
    {
        QFETCH(Change, change);
        QFETCH(bool, rendersAgain);
        QFETCH(bool, writesAgain);
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const qint64 render = r.fullResolutionImage().cacheKey();
        const QString path = r.writeTmpFile();
        QVERIFY(!path.isEmpty());
        const ino_t inode = inodeOf(path);
        QVERIFY(r.isValidCacheAtPath(path));
        change(r, path);
        QCOMPARE(r.fullResolutionImage().cacheKey() != render, rendersAgain);
        QCOMPARE(r.isValidCacheAtPath(path), !writesAgain);
        QCOMPARE(r.writeTmpFile(), path);
        // The same through writeImageToFile, the hidden extension making no difference.
        QCOMPARE(r.writeImageToFile(QStringLiteral("Beach"), 101, 90, true), path);
        QCOMPARE(attempts, writesAgain ? 2 : 1);
        // A new file took the old one's place (a file gone may give its inode number back).
        if (!QByteArray(QTest::currentDataTag()).startsWith("file"))
            QCOMPARE(inodeOf(path) != inode, writesAgain);
        QVERIFY(r.isValidCacheAtPath(path));
        // Another quality is another JPEG.
        r.setJpegQuality(80);
        QVERIFY(!r.isValidCacheAtPath(path));
    }

    void anotherFormatNeverReuses()
    {
        ExportRenderer r;
        int attempts = 0;
        setUp(r, &attempts);
        const QString jpeg = r.writeTmpFile();
        QVERIFY(!r.writeTmpFileWithFormat(103).isEmpty());
        // The record covers only the file written last: the JPEG is written anew.
        QVERIFY(!r.isValidCacheAtPath(jpeg));
        const ino_t inode = inodeOf(jpeg);
        QCOMPARE(r.writeTmpFile(), jpeg);
        QVERIFY(inodeOf(jpeg) != inode);
        QCOMPARE(attempts, 2);

        // An old file at a user's path is never taken for the result, the same path asked
        // for in another format is written in that format, and another quality is another
        // JPEG.
        const QString user = _out.path() + "/picture";
        QVERIFY(writeFile(user, "an old file"));
        QVERIFY(!r.isValidCacheAtPath(user));
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        QCOMPARE(QImage(user).size(), QSize(64, 48));
        QVERIFY(r.isValidCacheAtPath(user) && !r.isValidCacheAtPath(jpeg));
        QCOMPARE(r.writeImageToFile(user, 102, 90, false), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("png"));
        QCOMPARE(r.writeImageToFile(user, 101, 90, false), user);
        const int before = attempts;
        QCOMPARE(r.writeImageToFile(user, 101, 50, false), user);
        QCOMPARE(attempts, before + 1);
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
        QTest::addColumn<QByteArray>("decoder");
        QTest::newRow("jpeg, kept") << 101 << true << QByteArray("jpeg");
        QTest::newRow("tiff, kept") << 103 << true << QByteArray("tiff");
        QTest::newRow("png never") << 102 << true << QByteArray("png");
        QTest::newRow("jpeg, not kept") << 101 << false << QByteArray("jpeg");
        QTest::newRow("tiff, not kept") << 103 << false << QByteArray("tiff");
    }
    void limitAndMetadataByFormat()
    {
        QFETCH(int, format);
        QFETCH(bool, preserve);
        QFETCH(QByteArray, decoder);
        const bool jpeg = format == 101;
        const QString source = _out.path() + "/exif-source.jpg";
        QVERIFY(gradientPhoto(48, 32).save(source, "JPEG", 95));
        setTags(source, {{"Exif.Image.Artist", "Test Artist"},
                         {"Iptc.Application2.Caption", "Test Caption"}});
        ExportRenderer r;
        r.setImage(noisePhoto(200, 200));
        r.setMetadata(ImageMetadata::metadataForFile(source));
        r.setPreserveMetadata(preserve);
        r.setFilesizeLimit(30);
        r.setFileName(QStringLiteral("Meta"));
        const QString path = r.writeTmpFileWithFormat(format);
        QCOMPARE(path, TmpFilePath::tmpPathForFormat(QStringLiteral("Meta"), format));
        QImageReader reader(path);
        QCOMPARE(reader.format(), decoder);
        const QImage written = reader.read().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(written.size(), QSize(200, 200));
        if (format != 101) // lossless formats hold the composite exactly
            QCOMPARE(written, r.fullResolutionImage().convertToFormat(QImage::Format_ARGB32));
        // The limit holds for JPEG only.
        QCOMPARE(QFileInfo(path).size() < 30 * 1024, jpeg);
        // The metadata goes into JPEG and TIFF when asked for.
        const bool kept = preserve && format != 102;
        const ImageMetadata out = ImageMetadata::metadataForFile(path);
        QCOMPARE(out.value(QStringLiteral("Exif.Image.Artist")) == "Test Artist", kept);
        QCOMPARE(out.value(QStringLiteral("Iptc.Application2.Caption")) == "Test Caption", kept);
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
};

QTEST_GUILESS_MAIN(TestExportRenderer)
#include "test_exportrenderer.moc"
