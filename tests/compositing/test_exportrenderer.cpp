#include "PixelReference.h"
#include "compositing/BorderCompositor.h"
#include "compositing/ExportRenderer.h"
#include "compositing/FramedPhoto.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
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

using Options = ExportRenderer::Options;
// What a change may touch: the document, the options, the renderer and its written file.
struct Scene {
    FramedPhoto& d;
    Options& o;
    ExportRenderer& r;
    const QString path;
};
using Change = std::function<void(Scene&)>;

// A photo with an alpha frame and the default white colour, moved 8 right and 4 up.
FramedPhoto document()
{
    FramedPhoto framed;
    framed.photo = gradientPhoto(64, 48);
    framed.frame = alphaFrame(32, 24);
    framed.offset = QPointF(8, 4);
    return framed;
}

} // namespace

class TestExportRenderer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;
    QTemporaryDir _out;

private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid() && _out.isValid());
        qputenv("TMPDIR", QFile::encodeName(_tmp.path()));
    }

    void cleanup() { TmpFilePath::removeTmpFiles(); }

    // A photo framed band by band, from its JPEG file or from the photo held in memory in
    // any format, gives the very JPEG file of the whole composite, and a PNG or TIFF of the
    // very same pixels, profile and metadata, whatever the frame does to the rows. 150 rows:
    // neither whole bands nor whole blocks of 16; 101 columns: no whole blocks either.
    void bandsMatchWholePicture_data()
    {
        QTest::addColumn<FramedPhoto>("framed");
        QTest::addColumn<int>("limitKB");
        QTest::addColumn<bool>("progressive");
        QTest::addColumn<QImage::Format>("held");
        QTest::addColumn<FileFormat>("format");
        const QImage alpha = alphaFrame(20, 30), mask = PixelReference::frameMask(20, 30, 4);
        const QImage turnedAlpha = alphaFrame(30, 20);
        const QImage cuts = PixelReference::randomImage(20, 30, QImage::Format_ARGB32, 7);
        const QImage turnedCuts = cuts.transformed(QTransform().rotate(90));
        auto row = [](const char* tag, const QImage& border, const QImage& postMask,
                      bool transparent, bool flipped, QPointF offset,
                      FileFormat format = FileFormat::Jpeg,
                      QImage::Format held = QImage::Format_RGB32, int limitKB = 0,
                      bool progressive = false) {
            FramedPhoto framed;
            framed.frame = border;
            framed.postMask = postMask;
            framed.flipped = flipped;
            framed.offset = offset;
            framed.color = transparent ? std::nullopt : std::optional<QColor>(QColor(200, 30, 40));
            QTest::newRow(tag) << framed << limitKB << progressive << held << format;
        };
        const QPointF up(-7.4, 70.6), down(13, -90);
        row("no frame", {}, {}, false, false, {});
        row("mask, held with alpha", mask, {}, false, false, {}, FileFormat::Jpeg,
            QImage::Format_ARGB32);
        row("post mask, offset up", alpha, cuts, false, false, up);
        row("turned", turnedAlpha, turnedCuts, false, false, {});
        row("flipped", cuts, {}, false, true, {});
        row("offset down", mask, {}, false, false, down, FileFormat::Jpeg, QImage::Format_Indexed8);
        row("transparent", mask, {}, true, false, {5, 5}, FileFormat::Jpeg, QImage::Format_RGB888);
        row("size search", alpha, cuts, false, false, {3, -20}, FileFormat::Jpeg,
            QImage::Format_RGB888, 6);
        row("progressive file", mask, {}, false, false, {0, -33}, FileFormat::Jpeg,
            QImage::Format_RGB32, 0, true);
        row("png, transparent, post mask", alpha, cuts, true, false, up, FileFormat::Png);
        row("tiff, turned, post mask", turnedAlpha, turnedCuts, false, false, {3, -20},
            FileFormat::Tiff);
    }
    void bandsMatchWholePicture()
    {
        QFETCH(FramedPhoto, framed);
        QFETCH(int, limitKB);
        QFETCH(bool, progressive);
        QFETCH(QImage::Format, held);
        QFETCH(FileFormat, format);
        const QString path = _out.path() + QStringLiteral("/photo.jpg");
        QImageWriter writer(path, "jpeg");
        writer.setQuality(95);
        writer.setProgressiveScanWrite(progressive);
        QImage photo = gradientPhoto(101, 150);
        const QImage grain = PixelReference::randomImage(101, 150, QImage::Format_RGB32, 3);
        for (int y = 0; y < 150; y += 2) // noise for the size search to work on
            for (int x = 0; x < 101; ++x)
                photo.setPixel(x, y, grain.pixel(x, y));
        photo.setColorSpace(QColorSpace::DisplayP3); // a profile to keep
        QVERIFY(writer.write(photo));
        writer.device()->close();
        setTags(path, {{"Exif.Image.Artist", "Test Artist"}});
        framed.metadata =
            std::make_shared<const ImageMetadata>(ImageMetadata::metadataForFile(path));
        const QByteArray profile = framed.metadata->iccProfile();
        QVERIFY(!profile.isEmpty());
        Options options{
            .format = format, .quality = 85, .limitKB = limitKB, .preserveMetadata = true};

        // The whole composite encoded as a whole, from the photo as it is held.
        auto wholePicture = [&](const QImage& source, int* quality) {
            FramedPhoto document = framed;
            document.photo = source;
            const ImageWriter::Options encoding{
                .format = format,
                .quality = 85,
                .limitKB = limitKB,
                .metadata = format == FileFormat::Png ? nullptr : framed.metadata.get(),
                .iccProfile = profile,
                .attemptLog = [quality](int q, qint64) { *quality = q; }};
            return ImageWriter::encode(BorderCompositor::compositeFullResolution(document),
                                       encoding);
        };
        const QImage decoded = ImageReader::readImage(path);
        ExportRenderer r;
        if (format == FileFormat::Jpeg) {
            int fileQuality = 0;
            const QByteArray fromFile = wholePicture(decoded, &fileQuality);
            QVERIFY(limitKB == 0 || (fileQuality < 85 && fromFile.size() < limitKB * 1024));
            bool streamable = false;
            int used = 0;
            QCOMPARE(r.encodeJpegFromFile(framed, path, options, nullptr, &streamable, &used),
                     fromFile);
            QVERIFY(streamable && !fromFile.isEmpty());
            QCOMPARE(used, fileQuality);
        }

        framed.photo = decoded.convertToFormat(held);
        // JPEG byte for byte; the lossless formats by their pixels (and so whether they
        // have an alpha channel), profile and metadata.
        auto same = [format, profile](const QByteArray& data, const QByteArray& expected) {
            if (format == FileFormat::Jpeg)
                return data == expected;
            const ImageMetadata written = ImageMetadata::metadataForData(data);
            const bool artist = written.value(QStringLiteral("Exif.Image.Artist")) == "Test Artist";
            return !data.isEmpty() && QImage::fromData(data) == QImage::fromData(expected) &&
                   written.iccProfile() == profile && artist == (format == FileFormat::Tiff);
        };
        int wholeQuality = 85; // what the lossless formats report
        const QByteArray whole = wholePicture(framed.photo, &wholeQuality);
        QVERIFY(same(whole, whole));
        // Also with a search over more planes than it may keep, which composites the photo
        // for each attempt; then written to a file.
        ExportRenderer lean;
        lean.setPlaneBudget(0);
        const QString written = _out.path() + QStringLiteral("/framed");
        QList<int> used(3);
        QVERIFY(same(r.encodeImage(framed, options, nullptr, &used[0]), whole));
        QVERIFY(same(lean.encodeImage(framed, options, nullptr, &used[1]), whole));
        QCOMPARE(r.writeImageToFile(framed, written, options, nullptr, &used[2]), written);
        QVERIFY(same(readAll(written), whole));
        QCOMPARE(used, QList<int>(3, wholeQuality));
        // The copy command keeps the whole composite; the file is then made from it.
        QVERIFY(!r.fullResolutionImage(framed).isNull());
        QVERIFY(same(r.encodeImage(framed, options), whole));
        if (format == FileFormat::Tiff) {
            // Without metadata the TIFF goes to the disk as libtiff makes it.
            options.preserveMetadata = false;
            QCOMPARE(r.writeImageToFile(framed, written, options), written);
            QCOMPARE(QImage(written), QImage::fromData(whole));
            QCOMPARE(ImageMetadata::metadataForFile(written).iccProfile(), profile);
        }
    }

    // No photo gives nothing, and says why. What cannot be framed from the file band by
    // band is left to the whole-picture way, without a word.
    void refused()
    {
        ExportRenderer r;
        FramedPhoto framed;
        QString error;
        QVERIFY(r.fullResolutionImage(framed).isNull() && r.encodeImage(framed, {}).isEmpty());
        QVERIFY(r.writeImageToFile(framed, QStringLiteral("Beach"), {}).isEmpty());
        QVERIFY(r.writeImageToFile(framed, _out.path() + "/none.jpg", {}, &error).isEmpty());
        QVERIFY(!error.isEmpty() && !QFileInfo::exists(_out.path() + "/none.jpg"));

        const QString png = _out.path() + QStringLiteral("/photo.png");
        const QString jpeg = _out.path() + QStringLiteral("/gray.jpg");
        const QString cut = _out.path() + QStringLiteral("/cut.jpg");
        QVERIFY(gradientPhoto(40, 30).save(png));
        QVERIFY(gradientPhoto(40, 30).convertToFormat(QImage::Format_Grayscale8).save(jpeg));
        QVERIFY(PixelReference::randomImage(40, 300, QImage::Format_RGB32, 5).save(cut, "jpeg"));
        QVERIFY(QFile(cut).resize(QFileInfo(cut).size() / 2)); // damaged: libjpeg warns
        framed.frame = alphaFrame(20, 30);
        auto streams = [&](const QString& path, FileFormat format) {
            bool streamable = true;
            error.clear();
            const QByteArray data =
                r.encodeJpegFromFile(framed, path, Options{.format = format}, &error, &streamable);
            return streamable || !data.isEmpty() || !error.isEmpty();
        };
        for (const QString& path : {png, jpeg, cut, _out.path() + "/missing.jpg"})
            QVERIFY2(!streams(path, FileFormat::Jpeg), qPrintable(path));
        QVERIFY(!streams(png, FileFormat::Png));
    }

    // Which changes render the composite again and which write the file again. A failed
    // write elsewhere changes nothing; the record covers only the file written last.
    void changes_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("rendersAgain");
        QTest::addColumn<bool>("writesAgain");
        auto row = [](const char* name, bool renders, bool writes, Change change) {
            QTest::newRow(name) << change << renders << writes;
        };
        row("nothing", false, false, [](Scene&) {});
        row("failed write elsewhere", false, false, [](Scene& c) {
            QVERIFY(c.r.writeImageToFile(c.d, c.path + "/x.png", Options{.format = FileFormat::Png})
                        .isEmpty());
        });
        row("clearCache", false, true, [](Scene& c) { c.r.clearCache(); });
        row("limit", false, true, [](Scene& c) { c.o.limitKB = 1000; });
        row("metadata", false, true,
            [](Scene& c) { c.d.metadata = std::make_shared<const ImageMetadata>(); });
        row("preserve metadata", false, true, [](Scene& c) { c.o.preserveMetadata = true; });
        row("another format written since", false, true, [](Scene& c) {
            QVERIFY(
                !c.r.writeImageToFile(c.d, "Beach", Options{.format = FileFormat::Tiff}).isEmpty());
        });
        row("files removed with their folder", false, true,
            [](Scene&) { TmpFilePath::removeTmpFiles(); });
        row("file removed", false, true, [](Scene& c) { QFile::remove(c.path); });
        row("file replaced by someone else", false, true, [](Scene& c) {
            writeFile(c.path + ".new", "not ours");
            ::rename(QFile::encodeName(c.path + ".new"), QFile::encodeName(c.path));
        });
        row("photo", true, true, [](Scene& c) { c.d.photo = gradientPhoto(64, 48, 200); });
        row("frame", true, true, [](Scene& c) { c.d.frame = PixelReference::frameMask(32, 24); });
        row("post mask", true, true,
            [](Scene& c) { c.d.postMask = PixelReference::frameMask(32, 24); });
        row("colour", true, true, [](Scene& c) { c.d.color = QColor(Qt::blue); });
        row("transparent", true, true, [](Scene& c) { c.d.color = std::nullopt; });
        row("auto-rotate", true, true, [](Scene& c) { c.d.autoRotate = false; });
        row("drag", true, true, [](Scene& c) { c.d.offset += QPointF(1, 0); });
    }
    void changes()
    {
        QFETCH(Change, change);
        QFETCH(bool, rendersAgain);
        QFETCH(bool, writesAgain);
        ExportRenderer r;
        int attempts = 0;
        r.setAttemptLog([&attempts](int, qint64) { ++attempts; });
        FramedPhoto framed = document();
        Options options;
        const qint64 render = r.fullResolutionImage(framed).cacheKey();
        const QString path = r.writeImageToFile(framed, "Beach", options);
        const ino_t inode = inodeOf(path);
        QVERIFY(r.isValidCacheAtPath(path, framed, options));
        Scene scene{framed, options, r, path};
        change(scene);
        QCOMPARE(r.fullResolutionImage(framed).cacheKey() != render, rendersAgain);
        QCOMPARE(r.isValidCacheAtPath(path, framed, options), !writesAgain);
        QCOMPARE(r.writeImageToFile(framed, "Beach", options), path);
        QCOMPARE(attempts, writesAgain ? 2 : 1);
        // A new file took the old one's place (a file gone may give its inode number back).
        if (!QByteArray(QTest::currentDataTag()).startsWith("file"))
            QCOMPARE(inodeOf(path) != inode, writesAgain);
        QVERIFY(r.isValidCacheAtPath(path, framed, options));
        // Another quality is another JPEG.
        options.quality = 80;
        QVERIFY(!r.isValidCacheAtPath(path, framed, options));
    }

    // An old file at a user's path is never taken for the result; the same path asked for
    // in another format is written in that format.
    void userPath()
    {
        ExportRenderer r;
        const FramedPhoto framed = document();
        const Options options;
        const QString user = _out.path() + "/picture";
        QVERIFY(writeFile(user, "an old file"));
        QVERIFY(!r.isValidCacheAtPath(user, framed, options));
        QCOMPARE(r.writeImageToFile(framed, user, options), user);
        QVERIFY(QImage(user).size() == QSize(64, 48) &&
                r.isValidCacheAtPath(user, framed, options));
        QCOMPARE(r.writeImageToFile(framed, user, Options{.format = FileFormat::Png}), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("png"));
    }

    // The preview redraws (the user drags) while the file is being encoded: the file
    // written is not remembered as current.
    void redrawDuringWriteIsNotRemembered()
    {
        ExportRenderer r;
        const FramedPhoto framed = document();
        const Options options;
        int attempts = 0;
        r.setAttemptLog([&](int, qint64) {
            if (++attempts == 1)
                r.clearCache();
        });
        const QString path = r.writeImageToFile(framed, QStringLiteral("Beach"), options);
        QVERIFY(!path.isEmpty() && !r.isValidCacheAtPath(path, framed, options));
        QCOMPARE(r.writeImageToFile(framed, QStringLiteral("Beach"), options), path);
        QCOMPARE(attempts, 2);
        QVERIFY(r.isValidCacheAtPath(path, framed, options));
    }
};

QTEST_GUILESS_MAIN(TestExportRenderer)
#include "test_exportrenderer.moc"
