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
#include <QCoreApplication>
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

using Options = ExportRenderer::Options;
// What a change may touch: the document, the options, the renderer and its written file.
struct Scene {
    FramedPhoto& d;
    Options& o;
    ExportRenderer& r;
    const QString path;
};
using Change = std::function<void(Scene&)>;

Options withFormat(FileFormat format, int quality = 90)
{
    Options options;
    options.format = format;
    options.quality = quality;
    return options;
}

} // namespace

class TestExportRenderer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;
    QTemporaryDir _out;
    const QImage _photo = gradientPhoto(64, 48);

    // A photo with an alpha frame and the default white colour, moved 8 right and 4 up.
    FramedPhoto document() const
    {
        FramedPhoto framed;
        framed.photo = _photo;
        framed.frame = alphaFrame(32, 24);
        framed.offset = QPointF(8, 4);
        return framed;
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
        const FramedPhoto none;
        QVERIFY(r.fullResolutionImage(none).isNull());
        QVERIFY(r.writeImageToFile(none, QStringLiteral("Beach"), Options()).isEmpty());
        QString error;
        QVERIFY(r.writeImageToFile(none, _out.path() + "/none.jpg", Options(), &error).isEmpty());
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(_out.path() + "/none.jpg"));
        QVERIFY(r.encodeImage(none, Options()).isEmpty());
    }

    // A photo framed band by band, from its JPEG file or from the photo held in memory in
    // any format, gives the very JPEG file of the whole composite, and a PNG or TIFF of the
    // very same pixels, profile and metadata, whatever the frame does to the rows. 150 rows:
    // neither whole bands nor whole blocks of 16; 101 columns: no whole blocks either.
    void bandsMatchWholePicture_data()
    {
        QTest::addColumn<QImage>("border");
        QTest::addColumn<QImage>("postMask");
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("flipped");
        QTest::addColumn<QPointF>("offset");
        QTest::addColumn<int>("limitKB");
        QTest::addColumn<bool>("progressive");
        QTest::addColumn<QImage::Format>("held");
        QTest::addColumn<FileFormat>("format");
        const QImage alpha = alphaFrame(20, 30), mask = grayMask(20, 30);
        const QImage flippedMask = mask.mirrored(true, false), turnedAlpha = alphaFrame(30, 20);
        const QImage cuts = PixelReference::randomImage(20, 30, QImage::Format_ARGB32, 7);
        const QImage turnedCuts = cuts.transformed(QTransform().rotate(90));
        auto row = [](const char* tag, const QImage& border, const QImage& postMask,
                      bool transparent, bool flipped, QPointF offset,
                      FileFormat format = FileFormat::Jpeg,
                      QImage::Format held = QImage::Format_RGB32, int limitKB = 0,
                      bool progressive = false) {
            QTest::newRow(tag) << border << postMask << transparent << flipped << offset << limitKB
                               << progressive << held << format;
        };
        const QPointF up(-7.4, 70.6), down(13, -90);
        row("no frame", {}, {}, false, false, {});
        row("mask, held with alpha", mask, {}, false, false, {}, FileFormat::Jpeg,
            QImage::Format_ARGB32);
        row("post mask, offset up", alpha, cuts, false, false, up);
        row("turned", turnedAlpha, turnedCuts, false, false, {});
        row("flipped", flippedMask, {}, false, true, {});
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
        QFETCH(QImage, border);
        QFETCH(QImage, postMask);
        QFETCH(bool, transparent);
        QFETCH(bool, flipped);
        QFETCH(QPointF, offset);
        QFETCH(int, limitKB);
        QFETCH(bool, progressive);
        QFETCH(QImage::Format, held);
        QFETCH(FileFormat, format);
        const QString path = _out.path() + QStringLiteral("/photo.jpg");
        {
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
        }
        setTags(path, {{"Exif.Image.Artist", "Test Artist"}});
        FramedPhoto framed;
        framed.frame = border;
        framed.postMask = postMask;
        framed.flipped = flipped;
        framed.offset = offset;
        framed.metadata =
            std::make_shared<const ImageMetadata>(ImageMetadata::metadataForFile(path));
        const QByteArray profile = framed.metadata->iccProfile();
        QVERIFY(!profile.isEmpty());
        framed.color = transparent ? std::nullopt : std::optional<QColor>(QColor(200, 30, 40));
        Options options = withFormat(format, 85);
        options.limitKB = limitKB;
        options.preserveMetadata = true;

        // The whole composite encoded as a whole, from the photo as it is held.
        auto wholePicture = [&](const QImage& photo, int* quality) {
            FramedPhoto document = framed;
            document.photo = photo;
            ImageWriter::Options writer;
            writer.format = format;
            writer.quality = 85;
            writer.limitKB = limitKB;
            writer.iccProfile = profile;
            if (format != FileFormat::Png)
                writer.metadata = framed.metadata.get();
            writer.attemptLog = [quality](int q, qint64) { *quality = q; };
            return ImageWriter::encode(BorderCompositor::compositeFullResolution(document), writer);
        };
        const QImage decoded = ImageReader::readImage(path);
        QCOMPARE(decoded.height(), 150);
        ExportRenderer r;
        if (format == FileFormat::Jpeg) {
            int fileQuality = 0;
            const QByteArray fromFile = wholePicture(decoded, &fileQuality);
            QVERIFY(!fromFile.isEmpty());
            if (limitKB > 0)
                QVERIFY(fileQuality < 85 && fromFile.size() < limitKB * 1024);
            QString error;
            bool streamable = false;
            int qualityUsed = 0;
            QCOMPARE(r.encodeJpegFromFile(framed, path, options, &error, &streamable, &qualityUsed),
                     fromFile);
            QVERIFY(streamable);
            QCOMPARE(qualityUsed, fileQuality);
        }

        framed.photo = decoded.convertToFormat(held);
        // An alpha channel only for a picture with some transparency.
        const QImage composite = BorderCompositor::compositeFullResolution(framed).convertToFormat(
            QImage::Format_ARGB32);
        bool clear = false;
        for (int y = 0; y < composite.height(); ++y)
            for (int x = 0; x < composite.width(); ++x)
                clear = clear || qAlpha(composite.pixel(x, y)) < 255;
        // JPEG byte for byte; the lossless formats by their pixels, profile and metadata.
        auto same = [format, profile, clear](const QByteArray& data, const QByteArray& expected) {
            if (format == FileFormat::Jpeg)
                return data == expected;
            const ImageMetadata written = ImageMetadata::metadataForData(data);
            const bool artist = written.value(QStringLiteral("Exif.Image.Artist")) == "Test Artist";
            return !data.isEmpty() && QImage::fromData(data) == QImage::fromData(expected) &&
                   QImage::fromData(data).hasAlphaChannel() == clear &&
                   written.iccProfile() == profile && artist == (format == FileFormat::Tiff);
        };
        int wholeQuality = 85; // what the lossless formats report
        const QByteArray whole = wholePicture(framed.photo, &wholeQuality);
        QVERIFY(same(whole, whole));
        int qualityUsed = 0;
        QVERIFY(same(r.encodeImage(framed, options, nullptr, &qualityUsed), whole));
        QCOMPARE(qualityUsed, wholeQuality);
        // A search over more planes than it may keep composites the photo for each attempt.
        ExportRenderer lean;
        lean.setPlaneBudget(0);
        qualityUsed = 0;
        QVERIFY(same(lean.encodeImage(framed, options, nullptr, &qualityUsed), whole));
        QCOMPARE(qualityUsed, wholeQuality);
        const QString written = _out.path() + QStringLiteral("/framed.") +
                                (format == FileFormat::Jpeg  ? "jpg"
                                 : format == FileFormat::Png ? "png"
                                                             : "tif");
        qualityUsed = 0;
        QCOMPARE(r.writeImageToFile(framed, written, options, nullptr, &qualityUsed), written);
        QVERIFY(same(readAll(written), whole));
        QCOMPARE(qualityUsed, wholeQuality);
        if (format == FileFormat::Tiff) {
            // Without metadata the TIFF goes to the disk as libtiff makes it.
            Options bare = options;
            bare.preserveMetadata = false;
            QCOMPARE(r.writeImageToFile(framed, written, bare), written);
            QCOMPARE(QImage(written), QImage::fromData(whole));
            QCOMPARE(ImageMetadata::metadataForFile(written).iccProfile(), profile);
        }
        // The copy command keeps the whole composite; the file is then made from it.
        QVERIFY(!r.fullResolutionImage(framed).isNull());
        QVERIFY(same(r.encodeImage(framed, options), whole));
    }

    // What cannot be framed from the file band by band is left to the whole-picture way.
    void bandsFromFileRefused()
    {
        const QString png = _out.path() + QStringLiteral("/photo.png");
        const QString jpeg = _out.path() + QStringLiteral("/gray.jpg");
        const QString cut = _out.path() + QStringLiteral("/cut.jpg");
        QVERIFY(gradientPhoto(40, 30).save(png));
        QVERIFY(gradientPhoto(40, 30).convertToFormat(QImage::Format_Grayscale8).save(jpeg));
        QVERIFY(PixelReference::randomImage(40, 300, QImage::Format_RGB32, 5).save(cut, "jpeg"));
        {
            QFile file(cut);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(file.size() / 2)); // damaged: libjpeg warns
        }
        FramedPhoto framed;
        framed.frame = alphaFrame(20, 30);
        ExportRenderer r;
        for (const QString& path : {png, jpeg, cut, _out.path() + QStringLiteral("/missing.jpg")}) {
            bool streamable = true;
            QString error;
            QVERIFY(r.encodeJpegFromFile(framed, path, withFormat(FileFormat::Jpeg), &error,
                                         &streamable)
                        .isEmpty());
            QVERIFY(!streamable);
            QVERIFY(error.isEmpty());
        }
        bool streamable = true;
        r.encodeJpegFromFile(framed, png, withFormat(FileFormat::Png), nullptr, &streamable);
        QVERIFY(!streamable);
    }

    // Which changes render the composite again and which write the file again. Equal
    // values and a move by less than half a pixel change nothing.
    void changes_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("rendersAgain");
        QTest::addColumn<bool>("writesAgain");
        const QImage photo = _photo;
        auto row = [](const char* name, bool renders, bool writes, Change change) {
            QTest::newRow(name) << change << renders << writes;
        };
        row("nothing", false, false, [](Scene&) {});
        row("same photo", false, false, [photo](Scene& c) { c.d.photo = photo; });
        row("same colour", false, false, [](Scene& c) { c.d.color = QColor(Qt::white); });
        row("less than half a pixel", false, false, [](Scene& c) { c.d.offset += {0.3, -0.2}; });
        row("frame path", false, false, [](Scene& c) { c.d.framePath = "/elsewhere/Oval.png"; });
        row("same limit", false, false, [](Scene& c) { c.o.limitKB = 0; });
        row("clearCache", false, true, [](Scene& c) { c.r.clearCache(); });
        row("limit", false, true, [](Scene& c) { c.o.limitKB = 1000; });
        row("metadata", false, true,
            [](Scene& c) { c.d.metadata = std::make_shared<const ImageMetadata>(); });
        row("preserve metadata", false, true, [](Scene& c) { c.o.preserveMetadata = true; });
        row("files removed with their folder", false, true,
            [](Scene&) { TmpFilePath::removeTmpFiles(); });
        row("file removed", false, true, [](Scene& c) { QFile::remove(c.path); });
        row("file replaced by someone else", false, true, [](Scene& c) {
            writeFile(c.path + ".new", "not ours");
            ::rename(QFile::encodeName(c.path + ".new"), QFile::encodeName(c.path));
        });
        row("photo", true, true, [](Scene& c) { c.d.photo = gradientPhoto(64, 48, 200); });
        row("frame", true, true, [](Scene& c) { c.d.frame = grayMask(32, 24); });
        row("post mask", true, true, [](Scene& c) { c.d.postMask = grayMask(32, 24); });
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
        Options options = withFormat(FileFormat::Jpeg);
        const QString name = QStringLiteral("Beach");
        const qint64 render = r.fullResolutionImage(framed).cacheKey();
        const QString path = r.writeImageToFile(framed, name, options);
        QVERIFY(!path.isEmpty());
        const ino_t inode = inodeOf(path);
        QVERIFY(r.isValidCacheAtPath(path, framed, options));
        Scene scene{framed, options, r, path};
        change(scene);
        QCOMPARE(r.fullResolutionImage(framed).cacheKey() != render, rendersAgain);
        QCOMPARE(r.isValidCacheAtPath(path, framed, options), !writesAgain);
        QCOMPARE(r.writeImageToFile(framed, name, options), path);
        QCOMPARE(attempts, writesAgain ? 2 : 1);
        // A new file took the old one's place (a file gone may give its inode number back).
        if (!QByteArray(QTest::currentDataTag()).startsWith("file"))
            QCOMPARE(inodeOf(path) != inode, writesAgain);
        QVERIFY(r.isValidCacheAtPath(path, framed, options));
        // Another quality is another JPEG.
        options.quality = 80;
        QVERIFY(!r.isValidCacheAtPath(path, framed, options));
    }

    void anotherFormatNeverReuses()
    {
        ExportRenderer r;
        int attempts = 0;
        r.setAttemptLog([&attempts](int, qint64) { ++attempts; });
        const FramedPhoto framed = document();
        const QString name = QStringLiteral("Beach");
        const Options jpeg = withFormat(FileFormat::Jpeg);
        const QString jpegPath = r.writeImageToFile(framed, name, jpeg);
        QVERIFY(!r.writeImageToFile(framed, name, withFormat(FileFormat::Tiff)).isEmpty());
        // The record covers only the file written last: the JPEG is written anew.
        QVERIFY(!r.isValidCacheAtPath(jpegPath, framed, jpeg));
        const ino_t inode = inodeOf(jpegPath);
        QCOMPARE(r.writeImageToFile(framed, name, jpeg), jpegPath);
        QVERIFY(inodeOf(jpegPath) != inode);
        QCOMPARE(attempts, 2);

        // An old file at a user's path is never taken for the result, and the same path asked
        // for in another format is written in that format.
        const QString user = _out.path() + "/picture";
        QVERIFY(writeFile(user, "an old file"));
        QVERIFY(!r.isValidCacheAtPath(user, framed, jpeg));
        QCOMPARE(r.writeImageToFile(framed, user, jpeg), user);
        QCOMPARE(QImage(user).size(), QSize(64, 48));
        QVERIFY(r.isValidCacheAtPath(user, framed, jpeg) &&
                !r.isValidCacheAtPath(jpegPath, framed, jpeg));
        QCOMPARE(r.writeImageToFile(framed, user, withFormat(FileFormat::Png)), user);
        QCOMPARE(QImageReader(user).format(), QByteArray("png"));
    }

    void failedWriteKeepsOldFile()
    {
        ExportRenderer r;
        int attempts = 0;
        r.setAttemptLog([&attempts](int, qint64) { ++attempts; });
        FramedPhoto framed;
        framed.photo = noisePhoto(512, 512);
        const QString name = QStringLiteral("Noise");
        Options options;
        const QString tmp = r.writeImageToFile(framed, name, options);
        QVERIFY(!tmp.isEmpty());

        // A folder that does not exist: the failure leaves the remembered file current.
        QString error;
        QVERIFY(r.writeImageToFile(framed, _out.path() + "/missing/x.png",
                                   withFormat(FileFormat::Png), &error)
                    .isEmpty());
        QVERIFY(!error.isEmpty());
        const int before = attempts;
        QCOMPARE(r.writeImageToFile(framed, name, options), tmp);
        QCOMPARE(attempts, before);

        // No JPEG quality brings this noise under one kilobyte: nothing is written and the
        // old file stays byte for byte.
        const QString user = _out.path() + "/Noise.jpg";
        const QByteArray old("old contents, byte for byte");
        QVERIFY(writeFile(user, old));
        options.limitKB = 1;
        QVERIFY(r.writeImageToFile(framed, user, options).isEmpty());
        QVERIFY(attempts > before + 1);
        QCOMPARE(readAll(user), old);
        QVERIFY(!r.isValidCacheAtPath(user, framed, options));
        QVERIFY(QFile::remove(user));
    }

    void redrawDuringWriteIsNotRemembered()
    {
        ExportRenderer r;
        const FramedPhoto framed = document();
        const Options options;
        int attempts = 0;
        // The preview redraws (the user drags) while the file is being encoded.
        r.setAttemptLog([&](int, qint64) {
            if (++attempts == 1)
                r.clearCache();
        });
        const QString path = r.writeImageToFile(framed, QStringLiteral("Beach"), options);
        QVERIFY(!path.isEmpty());
        QVERIFY(!r.isValidCacheAtPath(path, framed, options));
        QCOMPARE(r.writeImageToFile(framed, QStringLiteral("Beach"), options), path);
        QCOMPARE(attempts, 2);
        QVERIFY(r.isValidCacheAtPath(path, framed, options));
    }
};

QTEST_GUILESS_MAIN(TestExportRenderer)
#include "test_exportrenderer.moc"
