#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/TestFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
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

QProcess* start(const QStringList& args, const QByteArray& input = {})
{
    auto* p = new QProcess;
    p->start(QStringLiteral(VELLUMA_FRAME_BINARY), args);
    p->write(input);
    p->closeWriteChannel();
    return p;
}

// The JSON objects a run printed, by input; every line of its output must be one.
QHash<QString, QJsonObject> jsonLines(QProcess* p, bool* allParsed)
{
    QHash<QString, QJsonObject> lines;
    *allParsed = p->waitForFinished(120000);
    for (const QByteArray& line : p->readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        *allParsed = *allParsed && !object.isEmpty() && !lines.contains(object["input"].toString());
        lines.insert(object["input"].toString(), object);
    }
    delete p;
    return lines;
}

QStringList hidden(const QString& folder)
{
    return QDir(folder).entryList({".velluma-frame-*"}, QDir::Files | QDir::Hidden);
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
    QString _photos;    // 80x60 landscape photos
    QStringList _batch; // absolute, each of its own size and colour

    QString freshOut()
    {
        static int n = 0;
        return _dir.path() + QStringLiteral("/out%1").arg(++n);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(_dir.isValid());
        for (int i = 0; i < 10; ++i) {
            _batch << _dir.filePath(QStringLiteral("p%1.png").arg(i));
            QVERIFY(gradientPhoto(60 + i, 40, i * 20).save(_batch.last()));
        }
        _photos = _dir.path() + "/photos";
        QVERIFY(QDir().mkpath(_photos));
        QVERIFY(gradientPhoto(80, 60).save(_photos + "/a.png"));
        QVERIFY(gradientPhoto(80, 60).save(_photos + "/b.jpg", "JPEG", 95));
        setTags(_photos + "/b.jpg", {{"Exif.Image.Artist", "Frame Tester"}});
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
        // A drawn frame with text, which needs fonts: a red band down its left edge.
        QVERIFY(writeFile(_dir.path() + "/text.svg",
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 80 60\">"
                          "<rect width=\"8\" height=\"60\" fill=\"red\"/><text x=\"10\" "
                          "y=\"50\" font-size=\"12\">Happy Birthday</text></svg>"));
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
        QTest::newRow("shard past its count") << QStringList{"--shard", "4/4", a};
        QTest::newRow("shard of none") << QStringList{"--shard", "0/0", a};
        QTest::newRow("shard without count") << QStringList{"--shard", "1", a};
        QTest::newRow("resume and force") << QStringList{"--resume", "--force", a};
        QTest::newRow("missing list") << QStringList{"--files-from", _dir.filePath("none")};
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
        for (const char* option : {"--help", "--version"}) {
            const Run r = run({option});
            QCOMPARE(r.exitCode, 0);
            QVERIFY(!r.out.isEmpty() && r.err.isEmpty());
        }
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
        QTest::addColumn<bool>("metadata"); // the photo's tags kept
        auto row = [](const char* tag, const QStringList& args, const char* extension,
                      const char* decoder, const char* note = "", bool metadata = false) {
            QTest::newRow(tag) << args << extension << QByteArray(decoder) << note << metadata;
        };
        row("default", {}, "jpg", "jpeg");
        row("png", {"-F", "png"}, "png", "png");
        row("jpeg, -m", {"-m"}, "jpg", "jpeg", "", true);
        row("tiff, -m", {"-m", "-F", "tiff"}, "tiff", "tiff", "", true);
        row("webp, -m", {"-m", "-F", "webp"}, "webp", "webp", "", true);
        row("avif, -m", {"-m", "-F", "avif"}, "avif", "avif", "", true);
        row("transparent JPEG", {"-t"}, "jpg", "jpeg", "--transparent");
        row("limit on PNG", {"-F", "png", "-l", "100"}, "png", "png", "--limit");
    }
    void formats()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, extension);
        QFETCH(QByteArray, decoder);
        QFETCH(QString, note);
        QFETCH(bool, metadata);
        const QString out = freshOut() + "/new/deeper";
        const Run r = run(QStringList{"-o", out} + args + QStringList{_photos + "/b.jpg"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(note.isEmpty() ? r.err.isEmpty() : r.err.contains(note), qPrintable(r.err));
        const QString expected = out + "/b." + extension;
        const ImageMetadata written = ImageMetadata::metadataForFile(expected);
        QCOMPARE(written.value("Exif.Image.Artist") == "Frame Tester", metadata);
        QCOMPARE(r.out.trimmed(), expected);
        QCOMPARE(ImageReader::readImage(expected).size(), QSize(80, 60));
        // Qt has no AVIF reader; the other formats are what Qt takes them for.
        QVERIFY(decoder == "avif" || QImageReader(expected).format() == decoder);
        // Nothing but the output is left in the folder.
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{"b." + extension});
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
        auto row = [](const char* tag, const QStringList& args, QPoint at, QRgb colour) {
            QTest::newRow(tag) << args << at << colour;
        };
        // The frame's band is stretched from 4 of 40 columns to 8 of 80.
        row("white by default", {"-f", band}, {2, 30}, qRgb(255, 255, 255));
        row("photo inside", {"-f", band}, {40, 30}, photo.pixel(40, 30));
        row("hex colour", {"-f", band, "-c", "#ff0000"}, {2, 30}, red);
        row("named colour", {"-f", band, "-c", "blue"}, {2, 30}, qRgb(0, 0, 255));
        row("transparent", {"-f", band, "-t"}, {2, 30}, qRgba(0, 0, 0, 0));
        row("flip", {"-f", band, "--flip", "-c", "red"}, {77, 30}, red);
        // A portrait frame turns a quarter counter-clockwise: its left band runs along the
        // bottom, unless told not to turn.
        row("turned", {"-f", portrait, "-c", "red"}, {40, 58}, red);
        row("no-rotate", {"-f", portrait, "-c", "red", "--no-rotate"}, {2, 30}, red);
        // 10 to the right and 5 down: y grows upward.
        row("offset", {"--offset", "10,-5"}, {30, 30}, photo.pixel(20, 25));
        // Cut out where the post mask is opaque and refilled with the colour.
        row("post mask", {"-f", _dir.path() + "/plain.png", "-c", "red"}, {40, 30}, red);
        row("drawing with text", {"-f", _dir.path() + "/text.svg"}, {2, 30}, red);
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

    // A file already at the output's place is replaced only with --force, and never when
    // it is a photo of the batch itself or another photo's output of this run.
    void existingFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("kept");
        QTest::newRow("no force") << "plain" << 1 << "--force" << true;
        QTest::newRow("force") << "force" << 0 << "" << false;
        QTest::newRow("input") << "input" << 1 << "input" << true;
        QTest::newRow("input, force") << "input, force" << 1 << "input" << true;
        QTest::newRow("input through a link, force") << "link, force" << 1 << "input" << true;
        QTest::newRow("output folder is a file") << "file" << 1 << "a.png" << true;
        QTest::newRow("below a file") << "below" << 1 << "a.png" << true;
        QTest::newRow("same output twice") << "twice, force" << 1 << "a.png" << false;
        // Placing the finished file fails: a folder has the output's name.
        QTest::newRow("a folder in the way, force") << "folder, force" << 1 << "a.png" << true;
    }
    void existingFiles()
    {
        QFETCH(QString, kind);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(bool, kept);
        const QString folder = freshOut();
        QVERIFY(QDir().mkpath(folder));
        QString out = folder, photo = _photos + "/a.png", old = folder + "/a.jpg";
        QStringList more;
        if (kind.startsWith("input") || kind.startsWith("link")) {
            photo = old;
            QVERIFY(QFile::copy(_photos + "/b.jpg", photo));
        } else if (kind == "file" || kind == "below") {
            out = old + (kind == "below" ? "/sub" : "");
            QVERIFY(writeFile(old, "older output"));
        } else if (kind.startsWith("folder")) {
            QVERIFY(QDir().mkpath(old));
        } else if (kind.startsWith("twice")) {
            QVERIFY(QDir().mkpath(folder + "/other"));
            QVERIFY(gradientPhoto(20, 10).save(folder + "/other/a.jpg"));
            more << folder + "/other/a.jpg";
        } else {
            QVERIFY(writeFile(old, "older output"));
        }
        if (kind.startsWith("link")) {
            out = folder + "-link";
            QVERIFY(QFile::link(folder, out));
        }
        const QByteArray before = readAll(old);
        QStringList args{"-o", out};
        if (kind.endsWith("force"))
            args << "--force";
        const Run r = run(args << photo << more);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
        QCOMPARE(readAll(old) == before, kept);
        QCOMPARE(QDir(folder).entryList({".velluma*"}, QDir::Files | QDir::Hidden), QStringList());
        // The first photo's output is the one that stays.
        if (!kept)
            QCOMPARE(QImage(old).size(), QSize(80, 60));
    }

    void sizeLimit()
    {
        const QString source = _dir.path() + "/noise%2.png"; // a placeholder in the name
        QVERIFY(noisePhoto(300, 300).save(source));
        const QString out = freshOut();
        const Run r = run({"-o", out, "-l", "40", "-v", source, _photos + "/a.png"});
        QCOMPARE(r.exitCode, 0);
        const qint64 size = QFileInfo(out + "/noise%2.jpg").size();
        QVERIFY(size > 0 && size < 40 * 1024);
        QVERIFY2(r.err.contains(QStringLiteral("%1: attempt quality=").arg(source)),
                 qPrintable(r.err));
        // No quality fits one kilobyte: nothing is written.
        const QString none = freshOut();
        QCOMPARE(run({"-o", none, "-l", "1", source}).exitCode, 1);
        QVERIFY(!QFileInfo::exists(none + "/noise%2.jpg"));
    }

    // Four runs side by side share one list: each photo is framed by exactly one of them,
    // and every JSON line tells the file as it was written.
    void shardsFrameEachPhotoOnce()
    {
        const QString out = _dir.filePath("shards");
        const QStringList list = _batch + QStringList{_photos + "/broken.jpg"};
        QList<QProcess*> runs;
        for (int k = 0; k < 4; ++k)
            runs << start({"--files-from", "-", "--shard", QStringLiteral("%1/4").arg(k), "--json",
                           "-j", "2", "-o", out},
                          list.join('\n').toUtf8() + '\n');
        QHash<QString, QJsonObject> all;
        for (QProcess* run : runs) {
            bool parsed = false;
            const QHash<QString, QJsonObject> lines = jsonLines(run, &parsed);
            QVERIFY(parsed);
            for (auto it = lines.begin(); it != lines.end(); ++it)
                QVERIFY2(!all.contains(it.key()), qPrintable(it.key()));
            all.insert(lines);
        }
        QCOMPARE(all.size(), list.size());
        QCOMPARE(all.value(list.last())["status"].toString(), QString("failed"));
        QVERIFY(!all.value(list.last())["error"].toString().isEmpty());
        for (const QString& photo : std::as_const(_batch)) {
            const QJsonObject line = all.value(photo);
            QCOMPARE(line["status"].toString(), QString("written"));
            const QString output = line["output"].toString();
            QCOMPARE(QFileInfo(output).absolutePath(), out);
            QCOMPARE(line["bytes"].toInteger(), QFileInfo(output).size());
            QCOMPARE(QSize(line["width"].toInt(), line["height"].toInt()),
                     QImageReader(output).size());
            QVERIFY(line["quality"].toInt() > 0 && line["milliseconds"].toInteger() >= 0);
        }
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), _batch.size());
    }

    // A NUL-separated list holds any name, a newline included, and adds to the arguments.
    void nulSeparatedList()
    {
        const QString odd = _dir.filePath("new\nline.png");
        QVERIFY(QFile::copy(_batch[0], odd));
        const QString out = _dir.filePath("nul");
        QProcess* p = start({"-0", "--files-from", "-", "-o", out, _batch[1]},
                            QFile::encodeName(odd) + '\0' + QFile::encodeName(_batch[2]) + '\0');
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
        delete p;
        QStringList written = QDir(out).entryList(QDir::Files);
        written.sort();
        QCOMPARE(written, QStringList({"new\nline.jpg", "p1.jpg", "p2.jpg"}));
    }

    // Killed outright while writing, a run is finished by --resume: the outputs it had
    // finished stay as they are and its hidden files go.
    void resumeAfterKill()
    {
        const QString out = _dir.filePath("resume");
        QStringList big;
        for (int i = 0; i < 6; ++i) {
            big << _dir.filePath(QStringLiteral("big%1.png").arg(i));
            QVERIFY(noisePhoto(1200 + i, 900).save(big.last()));
        }
        QProcess* p = start(QStringList{"-j", "1", "-F", "png", "-o", out} + big);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 60000 &&
               (QDir(out).entryList(QDir::Files).isEmpty() || hidden(out).isEmpty()))
            QThread::usleep(200);
        ::kill(pid_t(p->processId()), SIGKILL);
        QVERIFY(p->waitForFinished(10000));
        delete p;
        QVERIFY(!hidden(out).isEmpty());
        // Another host's, in a folder shared between hosts: its process cannot be asked.
        const QString elsewhere = out + "/.velluma-frame-4194305-elsewhere-aB3dE9";
        QVERIFY(writeFile(elsewhere, "partial"));
        QHash<QString, QDateTime> finished;
        for (const QFileInfo& file : QDir(out).entryInfoList(QDir::Files))
            finished.insert(file.fileName(), file.lastModified());
        QVERIFY(finished.size() < big.size());

        bool parsed = false;
        const QHash<QString, QJsonObject> lines = jsonLines(
            start(QStringList{"--resume", "--json", "-F", "png", "-o", out} + big), &parsed);
        QVERIFY(parsed);
        QCOMPARE(hidden(out), QStringList{QFileInfo(elsewhere).fileName()});
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), big.size());
        for (const QString& photo : std::as_const(big)) {
            const QString name = QFileInfo(photo).completeBaseName() + ".png";
            QCOMPARE(lines.value(photo)["status"].toString(),
                     finished.contains(name) ? QString("skipped") : QString("written"));
            if (finished.contains(name))
                QCOMPARE(QFileInfo(out + "/" + name).lastModified(), finished.value(name));
        }
    }

    // The same photos and options give the same bytes whatever the number of jobs.
    void sameBytesEveryRun_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("jpeg") << QStringList{"-q", "80"};
        QTest::newRow("jpeg under a limit, metadata") << QStringList{"-l", "2", "-m"};
        QTest::newRow("png, transparent") << QStringList{"-F", "png", "-t"};
        QTest::newRow("tiff, metadata") << QStringList{"-F", "tiff", "-m", "--flip"};
    }
    void sameBytesEveryRun()
    {
        QFETCH(QStringList, options);
        QList<QHash<QString, QByteArray>> results;
        for (const char* jobs : {"1", "3"}) {
            const QString out = _dir.filePath("same-" + QString::number(qHash(options)) + jobs);
            QProcess* p = start(options + QStringList{"-j", jobs, "-o", out} + _batch.mid(0, 4));
            QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
            delete p;
            QHash<QString, QByteArray> files;
            for (const QString& name : QDir(out).entryList(QDir::Files))
                files.insert(name, readAll(out + "/" + name));
            QCOMPARE(files.size(), 4);
            results << files;
        }
        QCOMPARE(results[0], results[1]);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
