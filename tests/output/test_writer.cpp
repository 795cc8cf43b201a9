#include "foundation/UserDefaults.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/JpegEncoder.h"
#include "output/OutputSettings.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Something between a photo and noise: smooth gradients with grain, so that the JPEG
// size falls steadily with the quality.
QImage photoLike(int width, int height, quint32 seed = 7)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int grain = int(rng.bounded(48)) - 24;
            auto c = [&](int v) { return std::clamp(v + grain, 0, 255); };
            image.setPixel(x, y,
                           qRgb(c(x * 255 / std::max(1, width - 1)),
                                c(y * 255 / std::max(1, height - 1)),
                                c(((x / 7 + y / 5) % 2) * 120 + 60)));
        }
    }
    return image;
}

QByteArray grayProfile()
{
    QByteArray profile(132, '\0');
    qToBigEndian<quint32>(132, profile.data());
    profile.replace(12, 4, "mntr").replace(16, 4, "GRAY");
    return profile.replace(20, 4, "XYZ ").replace(36, 4, "acsp");
}

QString beach()
{
    return TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), FileFormat::Jpeg);
}

using Sizes = QMap<int, qint64>;

} // namespace

class TestWriter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;
    ImageMetadata _tagged; // turned a quarter, with a title

    void setTmpDir(const QString& path) { qputenv("TMPDIR", QFile::encodeName(path)); }

private slots:
    void initTestCase()
    {
        QVERIFY(_tmp.isValid());
        // Every temporary folder of this run goes below a folder of its own.
        setTmpDir(_tmp.path());
        QCoreApplication::setApplicationName(QStringLiteral("Velluma"));
        const QString tagged = _tmp.filePath(QStringLiteral("tagged.jpg"));
        QVERIFY(photoLike(8, 8).save(tagged));
        setTags(tagged, {{"Exif.Image.Orientation", "6"}, {"Xmp.dc.title", "Pier"}});
        _tagged = ImageMetadata::metadataForFile(tagged);
    }

    void cleanup()
    {
        TmpFilePath::removeTmpFiles();
        QFile::remove(TmpFilePath::processFolderPath()); // a thing planted there
    }

    // The search driven by a fake encoder: every quality makes a file of the size the
    // table gives (1 byte when not listed, none at all for 0).
    void search_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("limitKB");
        QTest::addColumn<Sizes>("sizes");
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<int>("kept");
        QTest::newRow("exactly the limit is too large")
            << 80 << 100 << Sizes{{80, 102400}, {79, 1000}} << QList<int>{80, 79} << 1000;
        QTest::newRow("one byte under fits")
            << 80 << 100 << Sizes{{80, 102399}} << QList<int>{80} << 102399;
        QTest::newRow("limit 0 takes the first")
            << 90 << 0 << Sizes{{90, 50'000'000}} << QList<int>{90} << 50'000'000;
        QTest::newRow("nothing fits") << 90 << 10 << Sizes{{90, 200000}, {50, 200000}, {10, 200000}}
                                      << QList<int>{90, 50, 10} << 0;
        QTest::newRow("negative quality") << -5 << 100 << Sizes{} << QList<int>{} << 0;
        QTest::newRow("failed encode ends it")
            << 90 << 100 << Sizes{{90, 0}} << QList<int>{90} << 0;
    }
    void search()
    {
        QFETCH(int, quality);
        QFETCH(int, limitKB);
        QFETCH(Sizes, sizes);
        QList<int> tried;
        const QByteArray data = ImageWriter::searchQuality(quality, limitKB, [&](int q) {
            tried.append(q);
            return QByteArray(int(sizes.value(q, 1)), 'x');
        });
        QTEST(tried, "asked");
        QTEST(int(data.size()), "kept");
    }

    // Every format gives the picture back: JPEG from any pixel format, transparency laid
    // over white; PNG and TIFF the very pixels, with an alpha channel only for a picture
    // with some transparency; WebP and AVIF close, transparency kept, under a size limit
    // when asked, taken by the reference decoder. The photo's metadata goes along upright
    // (not into PNG), its colour profile into every format.
    void formats_data()
    {
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QImage::Format>("held");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("limitKB");
        for (FileFormat format : {FileFormat::Jpeg, FileFormat::Png, FileFormat::Tiff}) {
            const QString name = TmpFilePath::fileExtensionForFormat(format);
            auto row = [&](const char* tag, QColor colour, QImage::Format held) {
                QTest::addRow("%s, %s", qPrintable(name), tag)
                    << format << colour << held << 90 << 0;
            };
            row("clear premultiplied", QColor(0, 0, 0, 0), QImage::Format_ARGB32_Premultiplied);
            row("semi-transparent", QColor(200, 100, 50, 77), QImage::Format_ARGB32);
            row("quarter blue 16-bit", QColor(0, 0, 255, 64), QImage::Format_RGBA64);
            row("grayscale", QColor(90, 90, 90), QImage::Format_Grayscale8);
            row("rgb16", QColor(200, 100, 50), QImage::Format_RGB16);
            row("rgb888", QColor(0, 160, 0), QImage::Format_RGB888);
            row("opaque with an alpha channel", QColor(0, 160, 0), QImage::Format_ARGB32);
        }
        const QColor clear(0, 0, 0, 0);
        const QColor green(0, 160, 0);
        const auto argb = QImage::Format_ARGB32;
        QTest::newRow("webp") << FileFormat::WebP << green << argb << 90 << 0;
        QTest::newRow("webp, clear") << FileFormat::WebP << clear << argb << 90 << 0;
        QTest::newRow("webp lossless") << FileFormat::WebP << green << argb << 100 << 0;
        QTest::newRow("webp under a limit") << FileFormat::WebP << green << argb << 95 << 4;
        QTest::newRow("avif") << FileFormat::Avif << green << argb << 90 << 0;
        QTest::newRow("avif, clear") << FileFormat::Avif << clear << argb << 90 << 0;
        QTest::newRow("avif under a limit") << FileFormat::Avif << green << argb << 95 << 4;
    }
    void formats()
    {
        QFETCH(FileFormat, format);
        QFETCH(QColor, colour);
        QFETCH(QImage::Format, held);
        QFETCH(int, quality);
        QFETCH(int, limitKB);
        // A photo above, the colour below.
        QImage image(160, 96, QImage::Format_ARGB32);
        image.fill(colour);
        QPainter(&image).drawImage(0, 0, photoLike(160, 48));
        image = image.convertToFormat(held);
        int attempts = 0;
        // A gray picture gets a gray profile, one Qt cannot parse, and no other metadata.
        const bool gray = held == QImage::Format_Grayscale8;
        const ImageWriter::Options options{
            .format = format,
            .quality = quality,
            .limitKB = limitKB,
            .metadata = gray ? nullptr : &_tagged,
            .iccProfile = gray ? grayProfile() : QColorSpace(QColorSpace::AdobeRgb).iccProfile(),
            .attemptLog = [&attempts](int, qint64) { ++attempts; }};
        QString error;
        const QByteArray data = ImageWriter::encode(image, options, &error);
        QVERIFY2(!data.isEmpty() &&
                     (limitKB == 0 || (data.size() < limitKB * 1024 && attempts > 1)),
                 qPrintable(error));
        QTemporaryDir dir;
        const QString file = dir.filePath("out." + TmpFilePath::fileExtensionForFormat(format));
        QVERIFY(writeFile(file, data));
        const bool web = format == FileFormat::WebP || format == FileFormat::Avif;
        const bool lossless = format == FileFormat::Png || format == FileFormat::Tiff;
        const QImage back = web ? ImageReader::readImage(file) : QImage::fromData(data);
        QCOMPARE(back.size(), image.size());
        QVERIFY(nearColour(back.pixelColor(100, 20), image.pixelColor(100, 20), lossless ? 0 : 60));
        // What the source holds after its own conversion.
        QColor want = image.pixelColor(80, 72);
        const double a = want.alphaF();
        auto over = [a](int c) { return int(c * a + 255 * (1 - a) + 0.5); };
        if (format == FileFormat::Jpeg)
            want = QColor(over(want.red()), over(want.green()), over(want.blue()));
        // TIFF stores associated alpha: a semi-transparent colour may move by a step.
        const int tolerance = !want.alpha()    ? 255
                              : lossless       ? (a < 1 ? 2 : 0)
                              : quality == 100 ? 0
                              : web            ? 30
                                               : 3;
        QVERIFY2(nearColour(back.pixelColor(80, 72), want, tolerance),
                 qPrintable(back.pixelColor(80, 72).name(QColor::HexArgb)));
        if (lossless)
            QCOMPARE(back.hasAlphaChannel(), image.hasAlphaChannel() && a < 1);
        const ImageMetadata kept = ImageMetadata::metadataForFile(file);
        const bool withMetadata = !gray && format != FileFormat::Png;
        // Whatever the file says of its orientation is upright.
        QVERIFY(QStringList({QString(), "1"}).contains(kept.value("Exif.Image.Orientation")));
        QCOMPARE(kept.iccProfile(), options.iccProfile);
        QCOMPARE(kept.value("Xmp.dc.title").contains("Pier"), withMetadata);
        const QString png = dir.filePath("check.png");
        const QStringList check = format == FileFormat::WebP ? QStringList{"dwebp", file, "-o", png}
                                                             : QStringList{"avifdec", file, png};
        if (web && !QStandardPaths::findExecutable(check[0]).isEmpty())
            QCOMPARE(QProcess::execute(check[0], check.mid(1)), 0);
    }

    // The prepared planes must give the very files libjpeg makes from RGB itself,
    // including the odd sizes where the edges are replicated; guessing ahead on the other
    // core must never change which file the search keeps.
    void sameJpegAsThePlainWay()
    {
        for (const auto& [size, quality] :
             {std::pair{QSize(1, 1), 90}, {QSize(17, 33), 100}, {QSize(333, 211), 1}}) {
            const QImage image = photoLike(size.width(), size.height());
            QVERIFY(JpegEncoder(image).encode(quality) == JpegEncoder::encodeRgb(image, quality));
        }
        const QImage image = photoLike(1600, 1000, 11);
        const JpegEncoder encoder(image);
        const qint64 full = encoder.encode(92).size();
        for (double fraction : {0.98, 0.33}) {
            QList<int> fastLog;
            QList<int> plainLog;
            ImageWriter::Options options;
            options.quality = 92;
            options.limitKB = std::max(1, int(full * fraction / 1024));
            options.attemptLog = [&](int q, qint64) { fastLog.append(q); };
            const QByteArray fast = ImageWriter::encode(image, options);
            const QByteArray plain = ImageWriter::searchQuality(
                92, options.limitKB, [&](int q) { return encoder.encode(q); },
                [&](int q, qint64) { plainLog.append(q); });
            QCOMPARE(fastLog, plainLog);
            QVERIFY(fast == plain && fast.size() < (qint64(options.limitKB) << 10));
        }
    }

    // Every write goes through a temporary file: success replaces the old file, failure
    // leaves it byte for byte, and neither leaves anything else behind.
    void writeImage_data()
    {
        QTest::addColumn<QString>("why");
        for (const char* why : {"success", "no quality fits", "no picture", "no such folder"})
            QTest::newRow(why) << QString(why);
    }
    void writeImage()
    {
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QByteArray before = JpegEncoder(photoLike(64, 64, 5)).encode(80);
        QVERIFY(writeFile(dir.filePath("out.jpg"), before));
        ImageWriter::Options options;
        options.limitKB = why == "no quality fits" ? 1 : 0;
        const QImage image = why == "no picture" ? QImage() : photoLike(400, 400);
        const QString path = dir.filePath(why == "no such folder" ? "missing/out.jpg" : "out.jpg");
        QString error;
        const bool ok = ImageWriter::writeImage(image, path, options, &error);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.jpg"});
        QCOMPARE(QList<bool>({ok, error.isEmpty()}), QList<bool>(2, why == "success"));
        if (ok)
            QCOMPARE(QImage(path).size(), QSize(400, 400));
        else
            QCOMPARE(readAll(dir.filePath("out.jpg")), before);
    }

    // Bare names go into the process folder, named after the process and its id;
    // absolute names stand as they are.
    void paths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no climbing out") << "../../etc/x" << FileFormat::Jpeg << ".._.._etc_x.jpg";
        QTest::newRow("absolute") << "/home/x/Beach.jpg" << FileFormat::Png << "/home/x/Beach.jpg";
        // A document name always stays a bare name.
        for (const auto& [name, bare] :
             {std::pair{"/home/x/notes.txt", "_home_x_notes.txt"}, {"..", "__"}, {"../x", ".._x"}})
            QTest::newRow(qPrintable(QStringLiteral("bare %1").arg(name)))
                << TmpFilePath::bareName(QString::fromUtf8(name)) << FileFormat::Jpeg
                << QString::fromUtf8(bare) + ".jpg";
        QTest::newRow("bare, too long for a file name")
            << TmpFilePath::bareName(QString(150, QChar(0xe9))) << FileFormat::Jpeg
            << QString(100, QChar(0xe9)) + ".jpg";
    }
    void paths()
    {
        QFETCH(QString, name);
        QFETCH(FileFormat, format);
        QFETCH(QString, expected);
        const QString folder =
            _tmp.path() + "/Velluma" + QString::number(QCoreApplication::applicationPid());
        QCOMPARE(TmpFilePath::processFolderPath(), folder);
        const bool absolute = expected.startsWith('/');
        QCOMPARE(TmpFilePath::tmpPathForFormat(name, format),
                 absolute ? expected : folder + "/" + expected);
    }

    // The process folder is private whatever the umask, stable for the run, and removed
    // with all inside; something already at its path that is not a private folder of ours
    // is neither written into nor removed. Where no private folder can be made at all
    // (the temporary folder is a plain file), no bare name gets a path.
    void plantedThingIsNeverUsed_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind :
             {"nothing there", "dangling symlink", "plain file", "temporary folder is a file"})
            QTest::newRow(kind) << QString(kind);
    }
    void plantedThingIsNeverUsed()
    {
        QFETCH(QString, kind);
        const QString planted = TmpFilePath::processFolderPath();
        QTemporaryDir target;
        QVERIFY(target.isValid());
        if (kind == "dangling symlink") {
            QVERIFY(QFile::link(target.path() + "/missing", planted));
        } else if (kind == "plain file") {
            QVERIFY(writeFile(planted, "not a folder"));
        } else if (kind == "temporary folder is a file") {
            QVERIFY(writeFile(target.filePath("plain"), "x"));
            setTmpDir(target.filePath("plain"));
            const QString none = beach();
            const QString absolute =
                TmpFilePath::tmpPathForFormat(QStringLiteral("/x/Beach"), FileFormat::Jpeg);
            setTmpDir(_tmp.path());
            QCOMPARE(QStringList({none, absolute}), QStringList({QString(), "/x/Beach"}));
            return;
        }
        const mode_t oldMask = ::umask(0);
        const QString path = beach();
        ::umask(oldMask);
        const QString folder = QFileInfo(path).absolutePath();
        QVERIFY(kind == "nothing there" ? folder == planted : folder.startsWith(planted + "-"));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
        QCOMPARE(int(QFile::permissions(folder) & 0x7077), 0x7000); // owner only
        QVERIFY(writeFile(path, "output"));
        QCOMPARE(beach(), path); // stable for the rest of the run
        // A folder inside is removed too, a link inside is removed, not followed.
        QVERIFY(QDir().mkdir(folder + "/sub"));
        QVERIFY(QFile::link(target.path(), folder + "/link"));

        // Nothing reached the planted thing or what it points to.
        QVERIFY(QDir(target.path()).isEmpty());

        QVERIFY(writeFile(target.path() + "/keep.txt", "keep"));
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(QFileInfo::exists(target.path() + "/keep.txt"));
        // Removing again, with nothing there, is harmless; the next path makes it again.
        TmpFilePath::removeTmpFiles();
        if (kind == "nothing there")
            QCOMPARE(beach(), path);
        else
            QVERIFY(kind == "plain file" ? QFileInfo(planted).isFile()
                                         : QFileInfo(planted).isSymLink());
    }

    // Every stored boolean is on; the format decides what reads as on, and reading never
    // corrects what is stored.
    void settings_data()
    {
        QTest::addColumn<QVariant>("storedFormat");
        QTest::addColumn<int>("format");
        // Lossy (and so limited), transparent, metadata.
        QTest::addColumn<QList<bool>>("on");
        QTest::newRow("missing") << QVariant() << 101 << QList<bool>{true, false, true};
        QTest::newRow("png") << QVariant(102) << 102 << QList<bool>{false, true, false};
        QTest::newRow("tiff") << QVariant(103) << 103 << QList<bool>{false, true, true};
        QTest::newRow("gif code") << QVariant(104) << 101 << QList<bool>{true, false, true};
        QTest::newRow("string 102")
            << QVariant(QStringLiteral("102")) << 102 << QList<bool>{false, true, false};
    }
    void settings()
    {
        QFETCH(QVariant, storedFormat);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("s.plist")));
        if (storedFormat.isValid())
            defaults.setObject(storedFormat, DefFileFormat);
        for (const QString& key : {DefLimitFilesize, DefTransparentBackground, DefPreserveMetadata})
            defaults.setBool(true, key);
        const OutputSettings s(defaults);
        QTEST(codeForFileFormat(s.fileFormat()), "format");
        QTEST(QList<bool>(
                  {s.lossyFormat(), s.transparentBackgroundSupported(), s.metadataSupported()}),
              "on");
        QCOMPARE(defaults.objectForKey(DefFileFormat), storedFormat);
        QTEST(QList<bool>({s.limitFilesize(), s.transparentBackground(), s.preserveMetadata()}),
              "on");
    }
};

QTEST_GUILESS_MAIN(TestWriter)
#include "test_writer.moc"
