#include "TestSupport.h"
#include "output/ImageMetadata.h"
#include "output/ImageReader.h"
#include "output/TestFiles.h"

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
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Starts the framer; `input` goes to its standard input, which is then closed. With
// closedStdout its standard output is a pipe whose reader is already gone, as in
// "velluma-frame ... | head -c1".
QProcess* start(const QStringList& args, const QByteArray& input = {}, bool closedStdout = false)
{
    auto* p = new QProcess;
    int ends[2] = {-1, -1};
    if (closedStdout && ::pipe(ends) == 0) {
        ::close(ends[0]);
        p->setChildProcessModifier([ends] { ::dup2(ends[1], STDOUT_FILENO); });
    }
    p->start(VELLUMA_FRAME_BINARY, args);
    if (ends[1] >= 0)
        ::close(ends[1]);
    p->write(input);
    p->closeWriteChannel();
    return p;
}

// Waits for the framer and deletes it; a run that hangs is killed with it.
Run finish(QProcess* p)
{
    const std::unique_ptr<QProcess> owned(p);
    const bool exited = p->waitForFinished(120000) && p->exitStatus() == QProcess::NormalExit;
    return {exited ? p->exitCode() : -1, p->readAllStandardOutput(), p->readAllStandardError()};
}

Run run(const QStringList& args, const QByteArray& input = {})
{
    return finish(start(args, input));
}

// The JSON objects a run printed, by input; every line of its output must be one.
QHash<QString, QJsonObject> jsonLines(const Run& run, bool* allParsed)
{
    QHash<QString, QJsonObject> lines;
    *allParsed = run.exitCode >= 0;
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        *allParsed = *allParsed && !object.isEmpty() && !lines.contains(object["input"].toString());
        lines.insert(object["input"].toString(), object);
    }
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
        std::memset(mask.scanLine(y), 255, size_t(band));
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
        QVERIFY(leftBandMask(40, 30, 4).save(_dir.path() + "/band.png"));
        QVERIFY(leftBandMask(30, 40, 3).save(_dir.path() + "/portrait.png"));
        // A frame without a band whose post mask cuts out its middle.
        QVERIFY(leftBandMask(40, 30, 0).save(_dir.path() + "/plain.png"));
        QImage postMask(40, 30, QImage::Format_ARGB32);
        postMask.fill(Qt::transparent);
        for (int y = 10; y < 20; ++y)
            std::fill_n(reinterpret_cast<QRgb*>(postMask.scanLine(y)) + 15, 10, qRgb(0, 0, 0));
        QVERIFY(postMask.save(_dir.path() + "/plain_postmask.png"));
        // Installed as the user's own, framed with by "Collection/Name", with its post mask.
        const QString mine = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             "/Velluma User Frames/Mine";
        QVERIFY(QDir().mkpath(mine) && QFile::copy(_dir.path() + "/band.png", mine + "/Band.png"));
        QVERIFY(QFile::copy(_dir.path() + "/plain_postmask.png", mine + "/Band_postmask.png"));
        // A drawn frame with text, which needs fonts: a red band down its left edge.
        QVERIFY(writeFile(_dir.path() + "/text.svg",
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 80 60\">"
                          "<rect width=\"8\" height=\"60\" fill=\"red\"/><text x=\"10\" "
                          "y=\"50\" font-size=\"12\">Happy Birthday</text></svg>"));
    }

    // Help is status 0 on standard output; a mistake in the command is status 2 on standard
    // error, before anything is written.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        const QString a = _photos + "/a.png";
        auto row = [](const char* tag, const QStringList& args, int status = 2) {
            QTest::newRow(tag) << args << status;
        };
        row("help", {"--help"}, 0);
        row("version", {"--version"}, 0);
        row("frames installed", {"--list-frames"}, 0);
        row("no photo", {});
        row("unknown option", {"--sparkle", a});
        row("quality 0", {"-q", "0", a});
        row("quality 101", {"-q", "101", a});
        row("format gif", {"-F", "gif", a});
        row("colour", {"-c", "notacolour", a});
        row("offset one number", {"--offset", "5", a});
        row("jobs 0", {"-j", "0", a});
        row("negative limit", {"-l", "-5", a});
        row("missing value", {a, "-o"});
        row("missing frame file", {"-f", _dir.path() + "/nothing.png", a});
        row("unknown installed frame", {"-f", "Mine/Nothing", a});
        row("frame not a picture", {"-f", _photos + "/broken.jpg", a});
        row("shard past its count", {"--shard", "4/4", a});
        row("resume and force", {"--resume", "--force", a});
        row("missing list", {"--files-from", _dir.filePath("none")});
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        const QString out = freshOut();
        const Run r = run(QStringList{"-o", out} + args);
        QCOMPARE(r.exitCode, status);
        QCOMPARE(r.out.isEmpty(), status != 0);
        QCOMPARE(r.err.isEmpty(), status == 0);
        QVERIFY(QDir(out).entryList(QDir::Files).isEmpty());
    }

    // One run on one photo: the file written, its format, whether it kept the photo's tags
    // and, where asked, one pixel of a PNG of a.png. Options a format cannot honour (a clear
    // JPEG, a size limit on PNG) do not stop it.
    void outputs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("written"); // of b.jpg, which is tagged, or of a.png
        QTest::addColumn<bool>("metadata");   // the photo's tags kept
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRgb>("colour");
        auto format = [](const char* tag, const QStringList& args, const char* written,
                         bool metadata = false) {
            QTest::newRow(tag) << args << written << metadata << QPoint(-1, -1) << QRgb(0);
        };
        format("default", {}, "b.jpg");
        format("png", {"-F", "png"}, "b.png");
        format("jpeg, -m", {"-m"}, "b.jpg", true);
        format("tiff, -m", {"-m", "-F", "tiff"}, "b.tiff", true);
        format("webp, -m", {"-m", "-F", "webp"}, "b.webp", true);
        format("avif, -m", {"-m", "-F", "avif"}, "b.avif", true);
        format("transparent JPEG", {"-t"}, "b.jpg");
        format("limit on PNG", {"-F", "png", "-l", "100"}, "b.png");

        const QString band = _dir.path() + "/band.png";
        const QString portrait = _dir.path() + "/portrait.png";
        const QImage photo = gradientPhoto(80, 60);
        const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
        auto pixel = [](const char* tag, const QStringList& args, QPoint at, QRgb colour) {
            QTest::newRow(tag) << args + QStringList{"-F", "png"} << "a.png" << false << at
                               << colour;
        };
        // The frame's band is stretched from 4 of 40 columns to 8 of 80.
        pixel("white by default", {"-f", band}, {2, 30}, qRgb(255, 255, 255));
        pixel("photo inside", {"-f", band}, {40, 30}, photo.pixel(40, 30));
        pixel("hex colour", {"-f", band, "-c", "#ff0000"}, {2, 30}, red);
        pixel("named colour", {"-f", band, "-c", "blue"}, {2, 30}, blue);
        pixel("transparent", {"-f", band, "-t"}, {2, 30}, qRgba(0, 0, 0, 0));
        pixel("flip", {"-f", band, "--flip", "-c", "red"}, {77, 30}, red);
        // A portrait frame turns a quarter counter-clockwise: its left band runs along the
        // bottom, unless told not to turn.
        pixel("turned", {"-f", portrait, "-c", "red"}, {40, 58}, red);
        pixel("no-rotate", {"-f", portrait, "-c", "red", "--no-rotate"}, {2, 30}, red);
        // 10 to the right and 5 down: y grows upward.
        pixel("offset", {"--offset", "10,-5"}, {30, 30}, photo.pixel(20, 25));
        // Cut out where the post mask is opaque and refilled with the colour.
        pixel("post mask", {"-f", _dir.path() + "/plain.png", "-c", "red"}, {40, 30}, red);
        pixel("installed frame by name", {"-f", "Mine/Band", "-c", "blue"}, {40, 30}, blue);
        pixel("drawing with text", {"-f", _dir.path() + "/text.svg"}, {2, 30}, red);
    }
    void outputs()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, written);
        QFETCH(bool, metadata);
        QFETCH(QPoint, at);
        QFETCH(QRgb, colour);
        const QString out = freshOut() + "/new/deeper", file = out + "/" + written;
        const Run r = run(QStringList{"-o", out} + args +
                          QStringList{_photos + (written.startsWith('b') ? "/b.jpg" : "/a.png")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), file);
        // Nothing but the output is left in the folder.
        QCOMPARE(entries(out), QStringList{written});
        const ImageMetadata tags = ImageMetadata::metadataForFile(file);
        QCOMPARE(tags.value("Exif.Image.Artist") == "Frame Tester", metadata);
        QCOMPARE(ImageReader::readImage(file).size(), QSize(80, 60));
        // Qt has no AVIF reader; the other formats are what Qt takes them for.
        const QString extension = QFileInfo(file).suffix();
        const QByteArray decoder = extension == "jpg" ? "jpeg" : extension.toLatin1();
        QVERIFY(decoder == "avif" || QImageReader(file).format() == decoder);
        if (at.x() < 0)
            return;
        const QRgb got = QImage(file).convertToFormat(QImage::Format_ARGB32).pixel(at);
        if (qAlpha(colour) == 0) // a clear pixel's colour does not matter
            QCOMPARE(qAlpha(got), 0);
        else
            QCOMPARE(QColor::fromRgba(got), QColor::fromRgba(colour));
    }

    void closedStandardOutputDoesNotStopTheBatch()
    {
        const QString out = freshOut();
        const Run r = finish(start(
            {"-o", out, _photos + "/a.png", _photos + "/b.jpg", _photos + "/c.tiff"}, {}, true));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 3);
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
        QStringList args;
        if (kind.startsWith("input") || kind.startsWith("link")) {
            photo = old;
            QVERIFY(QFile::copy(_photos + "/b.jpg", photo));
        } else if (kind.startsWith("folder")) {
            QVERIFY(QDir().mkpath(old));
        } else if (kind.startsWith("twice")) {
            QVERIFY(QDir().mkpath(folder + "/other"));
            QVERIFY(gradientPhoto(20, 10).save(folder + "/other/a.jpg"));
            args << folder + "/other/a.jpg";
        } else {
            QVERIFY(writeFile(old, "older output"));
        }
        if (kind == "file" || kind == "below")
            out = old + (kind == "below" ? "/sub" : "");
        if (kind.startsWith("link")) {
            out = folder + "-link";
            QVERIFY(QFile::link(folder, out));
        }
        if (kind.endsWith("force"))
            args << "--force";
        const QByteArray before = readAll(old);
        const Run r = run(QStringList{"-o", out, photo} + args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
        QCOMPARE(readAll(old) == before, kept);
        QCOMPARE(QDir(folder).entryList({".velluma*"}, QDir::Files | QDir::Hidden), QStringList());
        // The first photo's output is the one that stays.
        QVERIFY(kept || QImage(old).size() == QSize(80, 60));
    }

    void sizeLimit()
    {
        const QString source = _dir.path() + "/noise%2.png"; // a placeholder in the name
        QVERIFY(noisePhoto(300, 300).save(source));
        const QString out = freshOut();
        QCOMPARE(run({"-o", out, "-l", "40", source, _photos + "/a.png"}).exitCode, 0);
        const qint64 size = QFileInfo(out + "/noise%2.jpg").size();
        QVERIFY(size > 0 && size < 40 * 1024);
        // No quality fits one kilobyte: nothing is written.
        const QString none = freshOut();
        QCOMPARE(run({"-o", none, "-l", "1", source}).exitCode, 1);
        QVERIFY(!QFileInfo::exists(none + "/noise%2.jpg"));
    }

    // Four runs side by side share one list: each photo is framed by exactly one of them,
    // every JSON line tells the file as it was written, and the files are those of one run
    // that frames them all alone.
    void shardsFrameEachPhotoOnce()
    {
        const QString out = _dir.filePath("shards"), alone = _dir.filePath("alone");
        const QStringList options{"-l", "2", "-m", "-o"};
        const QStringList list = _batch + QStringList{_photos + "/broken.jpg"};
        QList<QProcess*> runs;
        for (int k = 0; k < 4; ++k)
            runs << start(options + QStringList{out, "--files-from", "-", "--json", "-j", "2",
                                                "--shard", QStringLiteral("%1/4").arg(k)},
                          list.join('\n').toUtf8() + '\n');
        QHash<QString, QJsonObject> all;
        for (QProcess* run : runs) {
            bool parsed = false;
            const QHash<QString, QJsonObject> lines = jsonLines(finish(run), &parsed);
            QVERIFY(parsed);
            for (auto it = lines.begin(); it != lines.end(); ++it)
                QVERIFY2(!all.contains(it.key()), qPrintable(it.key()));
            all.insert(lines);
        }
        QCOMPARE(all.size(), list.size());
        QCOMPARE(all.value(list.last())["status"].toString(), QString("failed"));
        QVERIFY(!all.value(list.last())["error"].toString().isEmpty());
        QCOMPARE(run(options + QStringList{alone, "-j", "1"} + _batch).exitCode, 0);
        for (const QString& photo : std::as_const(_batch)) {
            const QJsonObject line = all.value(photo);
            const QFileInfo output(line["output"].toString());
            QCOMPARE(std::tuple(line["status"].toString(), output.absolutePath(),
                                line["bytes"].toInteger(),
                                QSize(line["width"].toInt(), line["height"].toInt())),
                     std::tuple(QString("written"), out, output.size(),
                                QImageReader(output.filePath()).size()));
            QCOMPARE(readAll(output.filePath()), readAll(alone + "/" + output.fileName()));
        }
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), _batch.size());
    }

    // A NUL-separated list holds any name, a newline included, and adds to the arguments.
    void nulSeparatedList()
    {
        const QString odd = _dir.filePath("new\nline.png");
        QVERIFY(QFile::copy(_batch[0], odd));
        const QString out = _dir.filePath("nul");
        QCOMPARE(run({"-0", "--files-from", "-", "-o", out, _batch[1]},
                     QFile::encodeName(odd) + '\0' + QFile::encodeName(_batch[2]) + '\0')
                     .exitCode,
                 0);
        QCOMPARE(entries(out), QStringList({"new\nline.jpg", "p1.jpg", "p2.jpg"}));
    }

    // A run killed outright while writing is finished by --resume: the outputs it had
    // finished stay as they are. Hidden files go when their writer is gone: at once for this
    // machine's, after an hour for another machine's or a name without the machine.
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
        QCOMPARE(finish(p).exitCode, -1);
        QVERIFY(!hidden(out).isEmpty());
        QHash<QString, QDateTime> finished;
        for (const QFileInfo& file : QDir(out).entryInfoList(QDir::Files))
            finished.insert(file.fileName(), file.lastModified());
        QVERIFY(finished.size() < big.size());
        auto plant = [&out](const QString& name, int age) {
            QFile f(out + "/" + name);
            return f.open(QIODevice::WriteOnly) && f.write("partial") == 7 && f.flush() &&
                   f.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                 QFileDevice::FileModificationTime);
        };
        // Of two hours ago, then of now. No process id is ever above 2^22.
        const QString dead = ".velluma-frame-4194305-",
                      mine = ".velluma-frame-" + QString::number(::getpid()) + "-aB3dE9";
        const QStringList old{dead + "aB3dE9", ".velluma-frame-Xy12Zq", mine, ".unrelated"};
        QStringList expected{dead + "fresh1", dead + "elsewhere-aB3dE9"};
        for (const QString& name : old + expected)
            QVERIFY(plant(name, old.contains(name) ? 2 * 3600 : 0));
        expected << mine << ".unrelated";

        bool parsed = false;
        const QHash<QString, QJsonObject> lines = jsonLines(
            run(QStringList{"--resume", "--json", "-F", "png", "-o", out} + big), &parsed);
        QVERIFY(parsed);
        for (const QString& photo : std::as_const(big)) {
            expected << QFileInfo(photo).completeBaseName() + ".png";
            const bool done = finished.contains(expected.last());
            QCOMPARE(lines.value(photo)["status"].toString(),
                     QString(done ? "skipped" : "written"));
            QVERIFY(!done || QFileInfo(out + "/" + expected.last()).lastModified() ==
                                 finished.value(expected.last()));
        }
        expected.sort();
        QCOMPARE(entries(out), expected);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
