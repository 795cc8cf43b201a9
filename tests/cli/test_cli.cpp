#include "output/ImageMetadata.h"
#include "output/TestFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// With closedStdout, standard output is a pipe whose reader is already gone, as in
// "velluma-frame ... | head -c1".
Run run(const QStringList& args, bool closedStdout = false)
{
    QProcess p;
    int ends[2] = {-1, -1};
    if (closedStdout && ::pipe(ends) == 0) {
        ::close(ends[0]);
        p.setChildProcessModifier([&ends] { ::dup2(ends[1], STDOUT_FILENO); });
    }
    const auto closeWriteEnd = qScopeGuard([&ends] {
        if (ends[1] >= 0)
            ::close(ends[1]);
    });
    p.start(QStringLiteral(VELLUMA_FRAME_BINARY), args);
    Run r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// A gray mask frame whose only bright part is a band along its left edge.
QImage leftBandMask(int w, int h, int band)
{
    QImage mask(w, h, QImage::Format_Grayscale8);
    mask.fill(0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < band; ++x)
            mask.setPixel(x, y, qRgb(255, 255, 255));
    return mask;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private:
    QTemporaryDir _dir;
    QString _photos; // 80x60 landscape photos

    QString freshOut()
    {
        static int n = 0;
        return _dir.path() + QStringLiteral("/out%1").arg(++n);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(_dir.isValid());
        _photos = _dir.path() + "/photos";
        QVERIFY(QDir().mkpath(_photos));
        QVERIFY(gradientPhoto(80, 60).save(_photos + "/a.png"));
        QVERIFY(gradientPhoto(80, 60).save(_photos + "/b.jpg", "JPEG", 95));
        QVERIFY(gradientPhoto(80, 60).save(_photos + "/c.tiff"));
        QVERIFY(writeFile(_photos + "/broken.jpg", "this is not a picture"));
        QVERIFY(noisePhoto(120, 90).save(_photos + "/cut.jpg", "JPEG", 90));
        const QByteArray whole = readAll(_photos + "/cut.jpg");
        QVERIFY(writeFile(_photos + "/cut.jpg", whole.left(whole.size() * 3 / 10)));
        QVERIFY(leftBandMask(40, 30, 4).save(_dir.path() + "/band.png"));
        QVERIFY(leftBandMask(30, 40, 3).save(_dir.path() + "/portrait.png"));
        // A frame without a band whose post mask cuts out its middle.
        QVERIFY(leftBandMask(40, 30, 0).save(_dir.path() + "/plain.png"));
        QImage postMask(40, 30, QImage::Format_ARGB32);
        postMask.fill(Qt::transparent);
        for (int y = 10; y < 20; ++y)
            for (int x = 15; x < 25; ++x)
                postMask.setPixel(x, y, qRgba(0, 0, 0, 255));
        QVERIFY(postMask.save(_dir.path() + "/plain_postmask.png"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        const QString a = _dir.path() + "/photos/a.png";
        QTest::newRow("no photo") << QStringList();
        QTest::newRow("unknown option") << QStringList{"--sparkle", a};
        QTest::newRow("quality 0") << QStringList{"-q", "0", a};
        QTest::newRow("quality 101") << QStringList{"-q", "101", a};
        QTest::newRow("format gif") << QStringList{"-F", "gif", a};
        QTest::newRow("colour") << QStringList{"-c", "notacolour", a};
        QTest::newRow("offset one number") << QStringList{"--offset", "5", a};
        QTest::newRow("jobs 0") << QStringList{"-j", "0", a};
        QTest::newRow("negative limit") << QStringList{"-l", "-5", a};
        QTest::newRow("missing value") << QStringList{a, "-o"};
        QTest::newRow("missing frame file") << QStringList{"-f", _dir.path() + "/nothing.png", a};
        QTest::newRow("frame not a picture") << QStringList{"-f", _photos + "/broken.jpg", a};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const QString out = freshOut();
        const Run r = run(QStringList{"-o", out} + args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(!r.err.isEmpty() && r.out.isEmpty());
        QVERIFY(QDir(out).entryList(QDir::Files).isEmpty());
    }

    void helpAndVersion()
    {
        Run r = run({"--help"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: velluma-frame [options] PHOTO..."));
        for (const char* option :
             {"--frame", "--color", "--transparent", "--format", "--quality", "--limit",
              "--keep-metadata", "--no-rotate", "--flip", "--offset", "--output", "--force",
              "--jobs", "--verbose", "--list-frames"})
            QVERIFY2(r.out.contains(QLatin1String(option)), option);
        // A file of exactly the limit is too large: the help must not promise it.
        QVERIFY(r.out.contains("WebP or AVIF under KB kilobytes"));
        r = run({"--version"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("velluma-frame "));
    }

    // Installed frames are listed by collection and framed with by "Collection/Name".
    void installedFrames()
    {
        const QString mine = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             "/Velluma User Frames/Mine";
        QVERIFY(QDir().mkpath(mine));
        QVERIFY(QFile::copy(_dir.path() + "/band.png", mine + "/Band.png"));
        QVERIFY(QFile::copy(_dir.path() + "/plain_postmask.png", mine + "/Band_postmask.png"));
        QVERIFY(writeFile(mine + "/Band_frame.plist", "<plist><dict><key>KeepAspect</key>"
                                                      "<true/></dict></plist>"));
        Run r = run({"--list-frames"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("Mine (yours)\n  Mine/Band\n"), qPrintable(r.out));
        QVERIFY(!r.out.contains("postmask") && !r.out.contains("_frame"));
        const QRegularExpression builtin("^Classic Borders \\(built-in\\)\n  Classic Borders/",
                                         QRegularExpression::MultilineOption);
        QVERIFY(r.out.contains(builtin));

        const QString byName = freshOut(), byPath = freshOut();
        QCOMPARE(run({"-f", "Mine/Band", "-o", byName, _photos + "/a.png"}).exitCode, 0);
        QCOMPARE(run({"-f", mine + "/Band.png", "-o", byPath, _photos + "/a.png"}).exitCode, 0);
        QCOMPARE(readAll(byName + "/a.jpg"), readAll(byPath + "/a.jpg"));
        r = run({"-f", "Mine/Nothing", "-o", freshOut(), _photos + "/a.png"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("--list-frames"), qPrintable(r.err));
    }

    // Options that have no effect in a format are named on stderr.
    void formats_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("decoder");
        QTest::addColumn<QString>("note");
        QTest::newRow("default") << QStringList{} << "jpg" << QByteArray("jpeg") << "";
        QTest::newRow("png") << QStringList{"-F", "png"} << "png" << QByteArray("png") << "";
        QTest::newRow("tiff") << QStringList{"-F", "tiff"} << "tiff" << QByteArray("tiff") << "";
        QTest::newRow("webp") << QStringList{"-F", "webp"} << "webp" << QByteArray("webp") << "";
        QTest::newRow("transparent JPEG")
            << QStringList{"-t"} << "jpg" << QByteArray("jpeg") << "--transparent";
        QTest::newRow("limit on PNG")
            << QStringList{"-F", "png", "-l", "100"} << "png" << QByteArray("png") << "--limit";
    }
    void formats()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, extension);
        QFETCH(QByteArray, decoder);
        QFETCH(QString, note);
        const QString out = freshOut() + "/new/deeper";
        const Run r = run(QStringList{"-o", out} + args + QStringList{_photos + "/a.png"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(note.isEmpty() ? r.err.isEmpty() : r.err.contains(note));
        const QString expected = out + "/a." + extension;
        QCOMPARE(r.out.trimmed(), expected);
        QImageReader reader(expected);
        QCOMPARE(reader.format(), decoder);
        QCOMPARE(reader.read().size(), QSize(80, 60));
        // Nothing but the output is left in the folder.
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"a." + extension});
    }

    // One pixel of a PNG output of photo a.png.
    void pixels_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRgb>("colour");
        const QString band = _dir.path() + "/band.png";
        const QString portrait = _dir.path() + "/portrait.png";
        const QImage photo = gradientPhoto(80, 60);
        const QRgb red = qRgb(255, 0, 0);
        // The frame's band is stretched from 4 of 40 columns to 8 of 80.
        QTest::newRow("white by default")
            << QStringList{"-f", band} << QPoint(2, 30) << qRgb(255, 255, 255);
        QTest::newRow("photo inside")
            << QStringList{"-f", band} << QPoint(40, 30) << photo.pixel(40, 30);
        QTest::newRow("hex colour")
            << QStringList{"-f", band, "-c", "#ff0000"} << QPoint(2, 30) << red;
        QTest::newRow("named colour")
            << QStringList{"-f", band, "-c", "blue"} << QPoint(2, 30) << qRgb(0, 0, 255);
        QTest::newRow("transparent")
            << QStringList{"-f", band, "-t"} << QPoint(2, 30) << qRgba(0, 0, 0, 0);
        QTest::newRow("flip") << QStringList{"-f", band, "--flip", "-c", "red"} << QPoint(77, 30)
                              << red;
        // A portrait frame turns a quarter counter-clockwise: its left band runs along the
        // bottom, unless told not to turn.
        QTest::newRow("turned") << QStringList{"-f", portrait, "-c", "red"} << QPoint(40, 58)
                                << red;
        QTest::newRow("no-rotate")
            << QStringList{"-f", portrait, "-c", "red", "--no-rotate"} << QPoint(2, 30) << red;
        // 10 to the right and 5 down: y grows upward.
        QTest::newRow("offset") << QStringList{"--offset", "10,-5"} << QPoint(30, 30)
                                << photo.pixel(20, 25);
        // Cut out where the post mask is opaque and refilled with the colour.
        QTest::newRow("post mask")
            << QStringList{"-f", _dir.path() + "/plain.png", "-c", "red"} << QPoint(40, 30) << red;
    }
    void pixels()
    {
        QFETCH(QStringList, args);
        QFETCH(QPoint, at);
        QFETCH(QRgb, colour);
        const QString out = freshOut();
        const Run r =
            run(QStringList{"-o", out, "-F", "png"} + args + QStringList{_photos + "/a.png"});
        QCOMPARE(r.exitCode, 0);
        const QImage image = QImage(out + "/a.png").convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(80, 60));
        if (qAlpha(colour) == 0) // a clear pixel's colour does not matter
            QCOMPARE(qAlpha(image.pixel(at)), 0);
        else
            QCOMPARE(QColor::fromRgba(image.pixel(at)), QColor::fromRgba(colour));
    }

    void outputFolderThatCannotBeMade()
    {
        const QString file = _dir.path() + "/a-file";
        QVERIFY(writeFile(file, "x"));
        Run r = run({"-o", file + "/sub", _photos + "/a.png", _photos + "/b.jpg"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains("a.png") && r.err.contains("b.jpg"));
        QCOMPARE(run({"-o", file, _photos + "/a.png"}).exitCode, 1);
        QCOMPARE(readAll(file), QByteArray("x"));
    }

    void fullDiskIsNamed()
    {
        const QString out = freshOut();
        QVERIFY(QDir().mkpath(out));
        const QString notMounted = mountFullDisk(out);
        if (!notMounted.isEmpty())
            QSKIP(qPrintable(notMounted));
        const auto unmount = qScopeGuard([&] { unmountFolder(out); });
        const QString photo = _dir.path() + "/large-noise.png";
        QVERIFY(noisePhoto(300, 300).save(photo));
        const Run r = run({"-o", out, "-F", "png", photo});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(r.err));
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Left by runs killed outright: only files of an hour ago whose process is gone go.
    void staleHiddenFilesAreRemoved()
    {
        const QString out = freshOut();
        QVERIFY(QDir().mkpath(out));
        const QDateTime old = QDateTime::currentDateTime().addSecs(-2 * 3600);
        const QString running = QString::number(QCoreApplication::applicationPid());
        // No process id is ever above 2^22.
        const QStringList stale{".velluma-frame-4194305-aB3dE9", ".velluma-frame-Xy12Zq"};
        const QStringList kept{".velluma-frame-" + running + "-aB3dE9", ".unrelated"};
        for (const QString& name : stale + kept) {
            QFile f(out + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("partial") == 7 && f.flush());
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QVERIFY(writeFile(out + "/.velluma-frame-4194305-fresh1", "partial"));
        QCOMPARE(run({"-o", out, _photos + "/a.png"}).exitCode, 0);
        QStringList left = QDir(out).entryList(QDir::Files | QDir::Hidden);
        QStringList expected = kept + QStringList{".velluma-frame-4194305-fresh1", "a.jpg"};
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
    }

    void existingOutputNeedsForce()
    {
        const QString out = freshOut();
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeFile(out + "/a.jpg", "older output"));
        const Run r = run({"-o", out, _photos + "/a.png"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("--force"));
        QCOMPARE(readAll(out + "/a.jpg"), QByteArray("older output"));
        QCOMPARE(run({"-o", out, "--force", _photos + "/a.png"}).exitCode, 0);
        QCOMPARE(QImageReader(out + "/a.jpg").format(), QByteArray("jpeg"));
    }

    void inputIsNeverOverwritten_data()
    {
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("plain") << false << false;
        QTest::newRow("force") << true << false;
        QTest::newRow("force, folder reached through a link") << true << true;
    }
    void inputIsNeverOverwritten()
    {
        QFETCH(bool, force);
        QFETCH(bool, throughLink);
        const QString folder = freshOut();
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(_photos + "/b.jpg", folder + "/b.jpg"));
        const QByteArray before = readAll(folder + "/b.jpg");
        QString outFolder = folder;
        if (throughLink) {
            outFolder = folder + "-link";
            QVERIFY(QFile::link(folder, outFolder));
        }
        QStringList args{"-o", outFolder, "-F", "jpg"};
        if (force)
            args << "--force";
        const Run r = run(args << folder + "/b.jpg");
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("input"));
        QCOMPARE(readAll(folder + "/b.jpg"), before);
    }

    void failingPhotosDoNotStopTheOthers_data()
    {
        QTest::addColumn<QString>("jobs");
        QTest::addColumn<QString>("format"); // JPEG photos go out as JPEG band by band
        QTest::newRow("one at a time") << "1"
                                       << "png";
        QTest::newRow("two at once") << "2"
                                     << "jpg";
    }
    void failingPhotosDoNotStopTheOthers()
    {
        QFETCH(QString, jobs);
        QFETCH(QString, format);
        const QString out = freshOut();
        const Run r = run({"-o", out, "-j", jobs, "-F", format, _photos + "/a.png",
                           _photos + "/broken.jpg", _photos + "/b.jpg", _photos + "/missing.jpg",
                           _photos + "/cut.jpg", _photos + "/c.tiff"});
        QCOMPARE(r.exitCode, 1);
        QStringList written = r.out.split('\n', Qt::SkipEmptyParts);
        written.sort();
        QCOMPARE(written,
                 (QStringList{out + "/a." + format, out + "/b." + format, out + "/c." + format}));
        QVERIFY(r.err.contains("broken.jpg") && r.err.contains("missing.jpg"));
        QVERIFY(r.err.contains(QRegularExpression("cut.jpg.*the data ends early")));
        QVERIFY(!r.err.contains("\r")); // no progress bar when stderr is not a terminal
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    void closedStandardOutputDoesNotStopTheBatch()
    {
        const QString out = freshOut();
        const Run r =
            run({"-o", out, _photos + "/a.png", _photos + "/b.jpg", _photos + "/c.tiff"}, true);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 3);
        QCOMPARE(r.err.count("standard output"), 1);
    }

    void progressBarOnATerminal_data()
    {
        QTest::addColumn<int>("photos");
        QTest::newRow("batch") << 3;
        QTest::newRow("one photo") << 1;
    }
    void progressBarOnATerminal()
    {
        QFETCH(int, photos);
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (script.isEmpty())
            QSKIP("no 'script' to run the program on a terminal");
        const QString out = freshOut();
        QString command = QStringLiteral("'%1' -o '%2'").arg(VELLUMA_FRAME_BINARY, out);
        const QStringList names{"a.png", "b.jpg", "c.tiff"};
        for (int i = 0; i < photos; ++i)
            command += QStringLiteral(" '%1/%2'").arg(_photos, names[i]);
        QProcess p;
        p.start(script, {"-qec", command, "/dev/null"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 0);
        const QString text = QString::fromLocal8Bit(p.readAll());
        const bool bar = photos > 1;
        QCOMPARE(text.contains(QStringLiteral("] 1/%1").arg(photos)), bar);
        QCOMPARE(text.contains(QLatin1Char('#')), bar);
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), photos);
    }

    void sameOutputTwiceInOneRun()
    {
        const QString other = _dir.path() + "/other";
        QVERIFY(QDir().mkpath(other));
        QVERIFY(gradientPhoto(20, 10).save(other + "/a.jpg"));
        const QString out = freshOut();
        const Run r = run({"-o", out, "--force", _photos + "/a.png", other + "/a.jpg"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out.trimmed(), out + "/a.jpg");
        // The first photo's output is the one that stays.
        QCOMPARE(QImage(out + "/a.jpg").size(), QSize(80, 60));
    }

    void sizeLimitAndAttempts()
    {
        const QString source = _dir.path() + "/noise.png";
        QVERIFY(noisePhoto(300, 300).save(source));
        const QString out = freshOut();
        Run r = run({"-o", out, "-l", "40", "-v", source});
        QCOMPARE(r.exitCode, 0);
        const qint64 size = QFileInfo(out + "/noise.jpg").size();
        QVERIFY(size > 0 && size < 40 * 1024);
        const QStringList attempts = r.err.split('\n', Qt::SkipEmptyParts);
        QVERIFY(attempts.size() >= 2);
        QVERIFY(attempts.first().startsWith("attempt quality=90 size="));
        for (const QString& line : attempts)
            QVERIFY2(QRegularExpression("^attempt quality=\\d+ size=\\d+$").match(line).hasMatch(),
                     qPrintable(line));
        QVERIFY(attempts.last().endsWith(QStringLiteral(" size=%1").arg(size)));

        // With several photos each line names its photo, placeholders in names and all.
        const QString percent = _dir.path() + "/pct%2.png";
        QVERIFY(QFile::copy(_photos + "/a.png", percent));
        r = run({"-o", freshOut(), "-l", "1000", "-v", percent, _photos + "/b.jpg"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains(percent + ": attempt quality=90 size="), qPrintable(r.err));

        // No quality fits one kilobyte: nothing is written.
        const QString none = freshOut();
        QCOMPARE(run({"-o", none, "-l", "1", source}).exitCode, 1);
        QVERIFY(!QFileInfo::exists(none + "/noise.jpg"));
    }

    void metadataOnlyWhenAsked_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("expected");
        QTest::newRow("jpeg, -m") << QStringList{"-m"} << "jpg" << true;
        QTest::newRow("tiff, -m") << QStringList{"-m", "-F", "tiff"} << "tiff" << true;
        QTest::newRow("png, -m") << QStringList{"-m", "-F", "png"} << "png" << false;
        QTest::newRow("webp, -m") << QStringList{"-m", "-F", "webp"} << "webp" << true;
        QTest::newRow("avif, -m") << QStringList{"-m", "-F", "avif"} << "avif" << true;
        QTest::newRow("avif") << QStringList{"-F", "avif"} << "avif" << false;
        QTest::newRow("jpeg") << QStringList{} << "jpg" << false;
    }
    void metadataOnlyWhenAsked()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, extension);
        QFETCH(bool, expected);
        const QString source = _dir.path() + "/exif.jpg";
        if (!QFileInfo::exists(source)) {
            QVERIFY(gradientPhoto(40, 30).save(source, "JPEG", 90));
            setTags(source, {{"Exif.Image.Artist", "Frame Tester"}});
        }
        const QString out = freshOut();
        QCOMPARE(run(QStringList{"-o", out} + args + QStringList{source}).exitCode, 0);
        const QString written = out + "/exif." + extension;
        QVERIFY(QFileInfo::exists(written));
        QCOMPARE(ImageMetadata::metadataForFile(written).value("Exif.Image.Artist") ==
                     "Frame Tester",
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
