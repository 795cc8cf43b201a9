#include "foundation/UserDefaults.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/ImageWriter.h"
#include "output/JpegEncoder.h"
#include "output/OutputSettings.h"
#include "output/TestFiles.h"
#include "output/TmpFilePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Something between a photo and noise: smooth gradients with grain, so that the JPEG
// size falls steadily with the quality.
QImage photoLike(int width, int height, quint32 seed = 7)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(rng.bounded(48)) - 24;
            auto c = [&](int v) { return std::clamp(v + grain, 0, 255); };
            line[x] =
                qRgb(c(x * 255 / std::max(1, width - 1)), c(y * 255 / std::max(1, height - 1)),
                     c(((x / 7 + y / 5) % 2) * 120 + 60));
        }
    }
    return image;
}

using Sizes = QMap<int, qint64>;

mode_t modeOf(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

QString beach(FileFormat format = FileFormat::Jpeg)
{
    return TmpFilePath::tmpPathForFormat(QStringLiteral("Beach"), format);
}

} // namespace

class TestWriter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _tmp;

    void setTmpDir(const QString& path) { qputenv("TMPDIR", QFile::encodeName(path)); }

    std::unique_ptr<QTemporaryDir> _settingsDir;
    std::unique_ptr<UserDefaults> _defaults;

private slots:
    // The search driven by a fake encoder: every quality makes a file of the size the
    // table gives (1 byte when not listed, none at all for 0).
    void search_data()
    {
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("limitKB");
        QTest::addColumn<Sizes>("sizes");
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<int>("kept");
        QTest::newRow("250000 140000 110000 100000")
            << 90 << 100 << Sizes{{90, 250000}, {60, 140000}, {51, 110000}, {48, 100000}}
            << QList<int>{90, 60, 51, 48} << 100000;
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
        QFETCH(QList<int>, asked);
        QFETCH(int, kept);
        QList<int> tried;
        QList<qint64> logged;
        const QByteArray data = ImageWriter::searchQuality(
            quality, limitKB,
            [&](int q) {
                tried.append(q);
                return QByteArray(int(sizes.value(q, 1)), 'x');
            },
            [&](int, qint64 bytes) { logged.append(bytes); });
        QCOMPARE(tried, asked);
        QCOMPARE(data.size(), kept);
        if (kept)
            QCOMPARE(logged.last(), qint64(kept));
    }

    // The prepared planes must give the very files libjpeg makes from RGB itself,
    // including the odd sizes where the edges are replicated.
    void encoderMatchesLibjpeg_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("quality");
        QTest::newRow("1x1") << QSize(1, 1) << 90;
        QTest::newRow("17x33") << QSize(17, 33) << 100;
        QTest::newRow("333x211") << QSize(333, 211) << 1;
    }
    void encoderMatchesLibjpeg()
    {
        QFETCH(QSize, size);
        QFETCH(int, quality);
        const QImage image = photoLike(size.width(), size.height());
        const QByteArray ours = JpegEncoder(image).encode(quality);
        QVERIFY(ours == JpegEncoder::encodeRgb(image, quality));
        // SOF0 (baseline, never progressive), three components: Y 2x2, Cb 1x1, Cr 1x1.
        const int sof = ours.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0 && ours.indexOf(QByteArray("\xFF\xC2", 2)) < 0);
        QCOMPARE(ours.mid(sof + 9, 9), QByteArray("\x03\x01\x22\x00\x02\x11\x01\x03\x11", 9));
    }

    // Any pixel format goes to JPEG, transparency laid over white: c * a + 255 * (1 - a).
    void jpegColours_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("format");
        QTest::newRow("clear premultiplied")
            << QColor(0, 0, 0, 0) << int(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("half red") << QColor(255, 0, 0, 128) << int(QImage::Format_ARGB32);
        QTest::newRow("quarter blue 16-bit") << QColor(0, 0, 255, 64) << int(QImage::Format_RGBA64);
        QTest::newRow("grayscale") << QColor(90, 90, 90) << int(QImage::Format_Grayscale8);
        QTest::newRow("rgb16") << QColor(200, 100, 50) << int(QImage::Format_RGB16);
        QTest::newRow("rgb888") << QColor(0, 160, 0) << int(QImage::Format_RGB888);
    }
    void jpegColours()
    {
        QFETCH(QColor, colour);
        QFETCH(int, format);
        QImage image(48, 32, QImage::Format_ARGB32);
        image.fill(colour);
        image = image.convertToFormat(QImage::Format(format));
        const QImage decoded = QImage::fromData(ImageWriter::encode(image, {}));
        QCOMPARE(decoded.size(), image.size());
        // Laid over white what the source holds after its own conversion.
        colour = image.pixelColor(24, 16);
        const double a = colour.alpha() / 255.0;
        auto over = [a](int c) { return c * a + 255 * (1 - a); };
        const QColor got = decoded.pixelColor(24, 16);
        QVERIFY2(qAbs(got.red() - over(colour.red())) <= 3 &&
                     qAbs(got.green() - over(colour.green())) <= 3 &&
                     qAbs(got.blue() - over(colour.blue())) <= 3,
                 qPrintable(got.name()));
    }

    // Guessing ahead on the other core must never change which file the search keeps.
    void speculationKeepsTheResult_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::newRow("just under") << 0.98;
        QTest::newRow("a third") << 0.33;
    }
    void speculationKeepsTheResult()
    {
        QFETCH(double, fraction);
        static const QImage image = photoLike(1600, 1000, 11);
        static const qint64 full = JpegEncoder(image).encode(92).size();
        ImageWriter::Options options;
        options.quality = 92;
        options.limitKB = std::max(1, int(full * fraction / 1024));
        QList<int> fastLog;
        options.attemptLog = [&](int q, qint64) { fastLog.append(q); };
        const QByteArray fast = ImageWriter::encode(image, options);

        const JpegEncoder encoder(image);
        QList<int> plainLog;
        const QByteArray plain = ImageWriter::searchQuality(
            92, options.limitKB, [&](int q) { return encoder.encode(q); },
            [&](int q, qint64) { plainLog.append(q); });
        QCOMPARE(fastLog, plainLog);
        QVERIFY(fast == plain);
        QVERIFY(fast.size() < (qint64(options.limitKB) << 10));
    }

    // A picture with some transparency keeps it; an opaque one gets no alpha channel.
    void pngAndTiffKeepPixels_data()
    {
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<QByteArray>("signature");
        QTest::newRow("png") << FileFormat::Png << QByteArray("\x89PNG", 4);
        QTest::newRow("tiff") << FileFormat::Tiff << QByteArray("II*\0", 4);
    }
    void pngAndTiffKeepPixels()
    {
        QFETCH(FileFormat, format);
        QFETCH(QByteArray, signature);
        QImage image = photoLike(41, 23).convertToFormat(QImage::Format_ARGB32);
        ImageWriter::Options options;
        options.format = format;
        const QByteArray opaque = ImageWriter::encode(image, options);
        QVERIFY(opaque.startsWith(signature));
        QVERIFY(!QImage::fromData(opaque).hasAlphaChannel());
        QCOMPARE(QImage::fromData(opaque).convertToFormat(QImage::Format_ARGB32), image);
        image.setPixelColor(3, 4, QColor(10, 20, 30, 0));
        image.setPixelColor(5, 6, QColor(200, 100, 50, 77));
        const QByteArray data = ImageWriter::encode(image, options);
        QVERIFY(data.startsWith(signature));
        const QImage back = QImage::fromData(data).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(back.pixel(40, 22), image.pixel(40, 22));
        QCOMPARE(qAlpha(back.pixel(3, 4)), 0);
        // TIFF stores associated alpha: a semi-transparent colour may move by a step.
        const QColor semi = back.pixelColor(5, 6);
        QCOMPARE(semi.alpha(), 77);
        QVERIFY(qAbs(semi.red() - 200) <= 2 && qAbs(semi.green() - 100) <= 2 &&
                qAbs(semi.blue() - 50) <= 2);
        if (format == FileFormat::Tiff)
            QCOMPARE(ImageMetadata::metadataForData(data).value("Exif.Image.Compression"),
                     QStringLiteral("5")); // LZW
    }

    // The web's formats: the picture and its transparency come back, the metadata of the
    // photo goes along upright, a size limit is kept, and the reference decoder takes it.
    void webpAndAvif_data()
    {
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("limitKB");
        QTest::newRow("webp") << FileFormat::WebP << 90 << 0;
        QTest::newRow("webp lossless") << FileFormat::WebP << 100 << 0;
        QTest::newRow("webp under a limit") << FileFormat::WebP << 95 << 8;
        QTest::newRow("avif") << FileFormat::Avif << 90 << 0;
        QTest::newRow("avif under a limit") << FileFormat::Avif << 95 << 8;
    }
    void webpAndAvif()
    {
        QFETCH(FileFormat, format);
        QFETCH(int, quality);
        QFETCH(int, limitKB);
        QTemporaryDir dir;
        const QString jpeg = dir.filePath("photo.jpg");
        QVERIFY(photoLike(8, 8).save(jpeg));
        setTags(jpeg, {{"Exif.Image.Orientation", "6"},
                       {"Exif.Image.Artist", "Ann Lee"},
                       {"Xmp.dc.title", "Pier"}});
        const ImageMetadata metadata = ImageMetadata::metadataForFile(jpeg);
        QImage image = photoLike(160, 96).convertToFormat(QImage::Format_ARGB32);
        image.fill(Qt::transparent); // the frame's transparent background, around
        QPainter(&image).drawImage(QRect(8, 8, 144, 80), photoLike(144, 80));
        ImageWriter::Options options;
        options.format = format;
        options.quality = quality;
        options.limitKB = limitKB;
        options.metadata = &metadata;
        QList<int> attempts;
        options.attemptLog = [&attempts](int q, qint64) { attempts << q; };
        QString error;
        const QByteArray data = ImageWriter::encode(image, options, &error);
        QVERIFY2(!data.isEmpty(), qPrintable(error));
        if (limitKB > 0)
            QVERIFY2(data.size() < limitKB * 1024 && attempts.size() > 1,
                     qPrintable(QString::number(data.size())));
        const QString file = dir.filePath(format == FileFormat::WebP ? "out.webp" : "out.avif");
        QVERIFY(writeFile(file, data));
        const QImage back =
            ImageReader::readImage(file, &error).convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!back.isNull(), qPrintable(error));
        QCOMPARE(back.size(), image.size());
        QCOMPARE(qAlpha(back.pixel(2, 2)), 0);
        const int tolerance = quality == 100 ? 0 : limitKB > 0 ? 60 : 30;
        for (QPoint p : {QPoint(30, 30), QPoint(120, 60), QPoint(80, 48)})
            QVERIFY2(qAlpha(back.pixel(p)) == 255 &&
                         qAbs(qGreen(back.pixel(p)) - qGreen(image.pixel(p))) <= tolerance,
                     qPrintable(QString("at %1,%2").arg(p.x()).arg(p.y())));
        const ImageMetadata kept = ImageMetadata::metadataForFile(file);
        QCOMPARE(kept.value("Exif.Image.Artist"), QStringLiteral("Ann Lee"));
        QCOMPARE(kept.value("Exif.Image.Orientation"), QStringLiteral("1"));
        QVERIFY(kept.value("Xmp.dc.title").contains(QStringLiteral("Pier")));
        const QString tool =
            QStandardPaths::findExecutable(format == FileFormat::WebP ? "dwebp" : "avifdec");
        if (!tool.isEmpty()) {
            QProcess check;
            check.start(tool, format == FileFormat::WebP
                                  ? QStringList{file, "-o", dir.filePath("check.png")}
                                  : QStringList{file, dir.filePath("check.png")});
            QVERIFY(check.waitForFinished(60000));
            QCOMPARE(check.exitCode(), 0);
        }
    }

    // Every write goes through a temporary file: success replaces the old file, failure
    // leaves it byte for byte, and neither leaves anything else behind.
    void writeImage_data()
    {
        QTest::addColumn<QString>("why");
        // Part of the error; a refusal of the system is told in its own words.
        QTest::addColumn<QString>("reason");
        QTest::newRow("success") << "none" << QString();
        QTest::newRow("no quality fits") << "limit" << QString();
        QTest::newRow("no picture") << "null" << QString();
        QTest::newRow("disk refuses the bytes")
            << "fsize" << QString::fromLocal8Bit(std::strerror(EFBIG));
        QTest::newRow("disk full") << "full" << QString::fromLocal8Bit(std::strerror(ENOSPC));
        QTest::newRow("no such folder") << "folder" << QString();
    }
    void writeImage()
    {
        QFETCH(QString, why);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        if (why == "full") {
            const QString notMounted = mountFullDisk(dir.path());
            if (!notMounted.isEmpty())
                QSKIP(qPrintable(notMounted));
        }
        const auto unmount = qScopeGuard([&] {
            if (why == "full")
                unmountFolder(dir.path());
        });
        QString path = dir.filePath("out.jpg");
        const QByteArray before = JpegEncoder(photoLike(64, 64, 5)).encode(80);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        QImage image = photoLike(400, 400);
        ImageWriter::Options options;
        if (why == "limit")
            options.limitKB = 1;
        if (why == "null")
            image = QImage();
        if (why == "full")
            image = noisePhoto(300, 300); // far more than the disk holds
        if (why == "folder")
            path = dir.filePath("missing/out.jpg");

        QString error;
        rlimit saved;
        if (why == "fsize") {
            // The kernel refuses writes past this size, as a full disk would.
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit small = saved;
            small.rlim_cur = 4096;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const bool ok = ImageWriter::writeImage(image, path, options, &error);
        if (why == "fsize")
            setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.jpg"});
        if (why == "none") {
            QVERIFY2(ok, qPrintable(error));
            QCOMPARE(QImage(path).size(), QSize(400, 400));
            return;
        }
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(readAll(dir.filePath("out.jpg")), before);
    }

    // Temporary paths.
    void initTestCase()
    {
        QVERIFY(_tmp.isValid());
        // Every temporary folder of this run goes below a folder of its own.
        setTmpDir(_tmp.path());
        QCoreApplication::setApplicationName(QStringLiteral("Velluma"));
    }

    void cleanup()
    {
        TmpFilePath::removeTmpFiles();
        const QString planted = TmpFilePath::processFolderPath();
        QFileInfo info(planted);
        if (info.isSymLink() || info.isFile()) {
            QFile::remove(planted);
        } else if (info.isDir()) {
            ::chmod(QFile::encodeName(planted).constData(), 0700);
            QDir(planted).removeRecursively();
        }
    }

    // Bare names go into the process folder, named after the process and its id;
    // absolute names stand as they are and need no folder.
    void paths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<FileFormat>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tiff") << "Beach" << FileFormat::Tiff << "Beach.tiff";
        QTest::newRow("gif is no output format") << "Beach" << FileFormat::Gif << "Beach.";
        QTest::newRow("name with extension") << "Beach.jpg" << FileFormat::Png << "Beach.jpg.png";
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
        QCOMPARE(QFileInfo(folder).isDir(), !absolute);
        if (!absolute)
            QCOMPARE(TmpFilePath::fileExtensionForFormat(format), expected.section('.', -1));
    }

    void noPrivateFolderGivesNoPath()
    {
        // A temporary "folder" that is a plain file: nothing can be made inside it.
        QVERIFY(writeFile(_tmp.path() + "/plain", "x"));
        setTmpDir(_tmp.path() + "/plain");
        const QString path = beach();
        const QString absolute =
            TmpFilePath::tmpPathForFormat(QStringLiteral("/x/Beach"), FileFormat::Jpeg);
        setTmpDir(_tmp.path());
        QVERIFY(path.isEmpty());
        QCOMPARE(absolute, QStringLiteral("/x/Beach"));
    }

    // The process folder is private whatever the umask, stable for the run, and removed
    // with all inside; something already at its path that is not a private folder of ours
    // is neither written into nor removed.
    void plantedThingIsNeverUsed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("nothing there") << "none";
        QTest::newRow("symlink to a folder") << "symlink";
        QTest::newRow("dangling symlink") << "dangling";
        QTest::newRow("plain file") << "file";
        QTest::newRow("folder others may write into") << "loose";
        QTest::newRow("another user's folder") << "foreign";
    }
    void plantedThingIsNeverUsed()
    {
        QFETCH(QString, kind);
        const QString planted = TmpFilePath::processFolderPath();
        const QByteArray plantedName = QFile::encodeName(planted);
        QTemporaryDir target;
        QVERIFY(target.isValid());
        if (kind == "symlink") {
            QVERIFY(QFile::link(target.path(), planted));
        } else if (kind == "dangling") {
            QVERIFY(QFile::link(target.path() + "/missing", planted));
        } else if (kind == "file") {
            QVERIFY(writeFile(planted, "not a folder"));
        } else if (kind == "loose") {
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(plantedName.constData(), 0777) == 0);
        } else if (kind == "foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can make a folder that belongs to someone else");
            QVERIFY(QDir().mkdir(planted));
            QVERIFY(::chmod(plantedName.constData(), 0700) == 0);
            QVERIFY(::chown(plantedName.constData(), 65534, 65534) == 0);
        }
        const bool wasLink = QFileInfo(planted).isSymLink();

        const mode_t oldMask = ::umask(0);
        const QString path = beach();
        ::umask(oldMask);
        const QString folder = folderOf(path);
        QVERIFY(kind == "none" ? folder == planted : folder.startsWith(planted + "-"));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QVERIFY(writeFile(path, "output"));
        QCOMPARE(beach(), path); // stable for the rest of the run
        QVERIFY(QFileInfo::exists(path));
        // A folder inside is removed too, a link inside is removed, not followed.
        QVERIFY(QDir().mkdir(folder + "/sub"));
        QVERIFY(QFile::link(target.path(), folder + "/link"));

        // Nothing reached the planted thing or what it points to.
        const auto entries = QDir::NoDotAndDotDot | QDir::AllEntries;
        QCOMPARE(QDir(target.path()).entryList(entries), QStringList());
        if (kind == "loose" || kind == "foreign")
            QCOMPARE(QDir(planted).entryList(entries), QStringList());

        QVERIFY(writeFile(target.path() + "/keep.txt", "keep"));
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(QFileInfo::exists(target.path() + "/keep.txt"));
        if (kind == "none") {
            // Removing again, with nothing there, is harmless; the next path makes it again.
            TmpFilePath::removeTmpFiles();
            QCOMPARE(beach(), path);
            return;
        }
        const QFileInfo after(planted);
        QCOMPARE(after.isSymLink(), wasLink);
        QVERIFY(after.isSymLink() || after.exists());
    }

    // Output settings.
    void init()
    {
        _defaults.reset();
        _settingsDir = std::make_unique<QTemporaryDir>();
        _defaults =
            std::make_unique<UserDefaults>(_settingsDir->filePath(QStringLiteral("s.plist")));
    }

    void readingRules_data()
    {
        QTest::addColumn<QVariant>("storedFormat");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("lossy"); // and the size limit reads as on
        QTest::addColumn<bool>("transparent");
        QTest::addColumn<bool>("metadata");
        // Every stored boolean is on; the format decides what reads as on.
        QTest::newRow("missing") << QVariant() << 101 << true << false << true;
        QTest::newRow("jpeg") << QVariant(101) << 101 << true << false << true;
        QTest::newRow("png") << QVariant(102) << 102 << false << true << false;
        QTest::newRow("tiff") << QVariant(103) << 103 << false << true << true;
        QTest::newRow("gif code") << QVariant(104) << 101 << true << false << true;
        QTest::newRow("string 102")
            << QVariant(QStringLiteral("102")) << 102 << false << true << false;
    }

    void readingRules()
    {
        QFETCH(QVariant, storedFormat);
        if (storedFormat.isValid())
            _defaults->setObject(storedFormat, DefFileFormat);
        for (const QString& key : {DefLimitFilesize, DefTransparentBackground, DefPreserveMetadata})
            _defaults->setBool(true, key);
        OutputSettings s(*_defaults);
        QTEST(codeForFileFormat(s.fileFormat()), "format");
        QTEST(s.lossyFormat(), "lossy");
        QTEST(s.limitFilesize(), "lossy");
        QTEST(s.transparentBackgroundSupported(), "transparent");
        QTEST(s.transparentBackground(), "transparent");
        QTEST(s.metadataSupported(), "metadata");
        QTEST(s.preserveMetadata(), "metadata");
        // Reading never corrects what is stored.
        QCOMPARE(_defaults->objectForKey(DefFileFormat), storedFormat);
    }

    void setterReactions()
    {
        OutputSettings s(*_defaults);
        QSignalSpy stale(&s, &OutputSettings::outputStale);
        QSignalSpy color(&s, &OutputSettings::borderColorNeeded);

        // PNG with transparency, then JPEG: the colour comes back.
        s.setFileFormat(FileFormat::Png);
        QCOMPARE(color.takeLast()[0].toBool(), false);
        s.setTransparentBackground(true);
        QCOMPARE(color.takeLast()[0].toBool(), true);
        s.setFileFormat(FileFormat::Tiff);
        QCOMPARE(color.takeLast()[0].toBool(), true);
        s.setFileFormat(FileFormat::Jpeg);
        QCOMPARE(color.takeLast()[0].toBool(), false);
        // The stored choice outlives a format that cannot show it.
        QVERIFY(!s.transparentBackground() && _defaults->boolForKey(DefTransparentBackground));
        s.setFileFormat(FileFormat::Png);
        QVERIFY(s.transparentBackground());
        s.setFileFormat(FileFormat::Jpeg);
        color.clear();

        stale.clear();
        s.setJpegQuality(70);
        QCOMPARE(stale.count(), 1);
        QCOMPARE(_defaults->integerForKey(DefJpegQuality), 70);
        s.setPreserveMetadata(false);
        QCOMPARE(stale.count(), 2);
        // The defaults observation makes the limit's change stale, once.
        s.setLimitFilesize(true);
        QCOMPARE(stale.count(), 3);
        // The size field edits the defaults directly; no setter runs.
        _defaults->setInteger(800, DefFilesizeLimit);
        QCOMPARE(stale.count(), 4);
        QCOMPARE(s.filesizeLimit(), 800);
        QVERIFY(color.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWriter)
#include "test_writer.moc"
