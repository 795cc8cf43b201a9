#include "HostileInputs.h"
#include "LocalHttpServer.h"
#include "RawArguments.h"
#include "TestSupport.h"
#include "app/AppController.h"
#include "app/OutputController.h"
#include "compositing/Document.h"
#include "foundation/NativeFile.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
#include "output/FileFormat.h"
#include "output/TmpFilePath.h"
#include "ui/ZTWindow.h"
#include "ui/frames/FrameDownloader.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

// Every hostile input through every way a file enters Velluma: the window's open, the
// frame chosen in the panel, the collections listed, the settings read at start, a frame
// dropped as a URL and the batch framer. Each is refused with a message that names it, or
// skipped, and the program goes on to the next good file.
// Then the system failing under a save: a disk that fills, a folder that cannot be written,
// a temporary folder someone else put in place.
// Nothing already on disk is lost or changed, nothing half-written is left, and the user is
// told why in the system's words.

namespace {

// Makes the input at path, or skips the row saying why it cannot.
#define MAKE_HOSTILE(kind, path)                                                                   \
    do {                                                                                           \
        if (QString skip_; !makeHostile(kind, path, &skip_)) {                                     \
            QVERIFY2(!skip_.isEmpty(), "the hostile input could not be made");                     \
            QSKIP(qPrintable(skip_));                                                              \
        }                                                                                          \
    } while (false)

#define VERIFY_FIFO_UNOPENED(fifo)                                                                 \
    QVERIFY2(!(fifo) || !(fifo)->wasOpened(), "the FIFO was opened and would have hung")

void addRows(const QList<Hostile>& kinds)
{
    QTest::addColumn<Hostile>("kind");
    for (Hostile kind : kinds)
        QTest::newRow(hostileName(kind)) << kind;
}

// Serves the bytes given for each path, as a frame's web server would.
class BodyServer : public LocalHttpServer {
public:
    QHash<QByteArray, QByteArray> bodies;

protected:
    void respond(QTcpSocket* socket, const QByteArray& path) override
    {
        const QByteArray body = bodies.value(path);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> _dir;
    QString path(const QString& name) const { return _dir->filePath(name); }

private slots:
    void init()
    {
        _dir = std::make_unique<QTemporaryDir>();
        QVERIFY(_dir->isValid());
    }

    void openPhoto_data() { addRows(hostilePictures()); }
    void openPhoto()
    {
        QFETCH(Hostile, kind);
        // Only the broken EXIF opens silently; what decodes of a cut JPEG is shown, with a
        // word that the rest is missing; everything else is refused.
        const bool opens = kind == Hostile::BrokenExif || kind == Hostile::TruncatedJpeg;
        UserDefaults defaults(path("prefs.plist"));
        AppController app(defaults);
        QVERIFY(app.applicationOpenFile(writePhoto(path("before.png"))));
        const QString photo = path("photo.jpg");
        MAKE_HOSTILE(kind, photo);
        SheetCatcher sheets(QString(), app.mainWindow());
        const auto fifo = watchIfFifo(kind, photo);

        QCOMPARE(app.applicationOpenFile(photo), opens);
        VERIFY_FIFO_UNOPENED(fifo);
        QCOMPARE(sheets.shown(), kind != Hostile::BrokenExif);
        QVERIFY2(!sheets.shown() || (sheets.last().text.contains("photo.jpg") &&
                                     sheets.last().informative.size() > 10),
                 qPrintable(sheets.last().text + ": " + sheets.last().informative));
        QCOMPARE(app.filename(), QString(opens ? "photo" : "before"));
        QCOMPARE(app.document()->framedPhoto().photo.size(), opens ? QSize(96, 64) : QSize(60, 40));
        // The window goes on.
        QVERIFY(app.applicationOpenFile(writePhoto(path("after.png"))));
        QCOMPARE(app.filename(), QString("after"));
    }

    void chooseFrame_data()
    {
        QTest::addColumn<Hostile>("kind");
        QTest::addColumn<bool>("asMask"); // the frame is good, its post mask hostile
        QTest::addColumn<QString>("name");
        for (Hostile kind : hostilePictures()) {
            if (kind == Hostile::BrokenExif)
                continue;
            QTest::newRow(hostileName(kind)) << kind << false << "Frame.png";
            QTest::addRow("%s mask", hostileName(kind)) << kind << true << "Frame.png";
        }
        for (Hostile kind : hostileDrawings)
            QTest::addRow("%s %s", qPrintable(hostileDrawingName(kind)), hostileName(kind))
                << kind << false << hostileDrawingName(kind);
    }
    void chooseFrame()
    {
        QFETCH(Hostile, kind);
        QFETCH(bool, asMask);
        QFETCH(QString, name);
        const QString frame = path(name);
        const QString bad = asMask ? FrameLibrary::postMaskPathFor(frame) : frame;
        QVERIFY(!asMask || !writePhoto(frame).isEmpty());
        MAKE_HOSTILE(kind, bad);
        const auto fifo = watchIfFifo(kind, bad);

        FrameLibrary::LoadedFrame loaded;
        QString error;
        QVERIFY(!FrameLibrary::loadFrame(frame, false, &loaded, &error));
        QVERIFY2(error.startsWith(bad + ':'), qPrintable(error));
        QVERIFY(loaded.frame.isNull() && !loaded.frameDrawing);

        // The window shows and saves the photo without a frame rather than a broken one.
        UserDefaults defaults(path("prefs.plist"));
        AppController app(defaults);
        QVERIFY(app.applicationOpenFile(writePhoto(path("photo.png"))));
        app.setBorderPath(frame);
        const FramedPhoto& shown = app.document()->framedPhoto();
        QVERIFY(shown.frame.isNull() && !shown.frameDrawing);
        QCOMPARE(shown.photo.size(), QSize(60, 40));
        QVERIFY(!app.output()->writeImageToFile(path("framed.png"), FileFormat::Png, 90).isEmpty());
        VERIFY_FIFO_UNOPENED(fifo);
    }

    void propertyLists_data() { addRows(hostilePropertyLists); }
    void propertyLists()
    {
        QFETCH(Hostile, kind);
        // As the user's order of collections, hostile like every other file among the frames.
        const QString root = path("Frames"), alpha = root + "/Alpha";
        for (const char* name : {"Beta", "Alpha", "Gamma"})
            QVERIFY(QDir().mkpath(root + '/' + name));
        MAKE_HOSTILE(kind, root + "/collections.plist");
        const auto fifo = watchIfFifo(kind, root + "/collections.plist");
        QCOMPARE(FrameLibrary::collectionNamesForFolder(root),
                 (QStringList{"Alpha", "Beta", "Gamma"}));

        QVERIFY(!writePhoto(alpha + "/Good.png").isEmpty());
        int made = 0;
        for (Hostile picture : hostilePictures())
            made += makeHostile(picture, alpha + QString("/%1.png").arg(hostileName(picture)));
        QVERIFY(made >= 10);
        QStringList drawings;
        for (Hostile drawing : hostileDrawings) {
            drawings << alpha + '/' + hostileName(drawing) + hostileDrawingName(drawing).mid(5);
            QVERIFY(makeHostile(drawing, drawings.last()));
        }
        const ThumbnailList listed = FrameLibrary::collectionForFolder(alpha);
        QVERIFY(!listed.isEmpty());
        // Every frame listed can be chosen, or says why not.
        for (const ThumbnailEntry& entry : listed) {
            FrameLibrary::LoadedFrame loaded;
            QString error;
            if (!FrameLibrary::loadFrame(entry.path, false, &loaded, &error))
                QVERIFY2(error.contains(entry.path), qPrintable(error));
            QVERIFY2(!drawings.contains(entry.path), qPrintable(entry.path));
        }
        VERIFY_FIFO_UNOPENED(fifo);

        // The same list as the settings read at start.
        const QString file = path("Velluma.plist");
        MAKE_HOSTILE(kind, file);
        const auto settingsFifo = watchIfFifo(kind, file);
        QElapsedTimer clock;
        clock.start();
        UserDefaults defaults(file);
        defaults.registerDefaults({{"JpegQuality", 90}});
        QCOMPARE(defaults.integerForKey("JpegQuality"), 90);
        QVERIFY2(clock.elapsed() < 5000, "reading the settings took seconds");
        VERIFY_FIFO_UNOPENED(settingsFifo);
        // Whatever sat there is kept aside for the user (an empty file holds nothing to keep),
        // and the settings are written anew.
        const QFileInfo backup(defaults.backupPath());
        QCOMPARE(backup.isSymLink() || backup.exists(), kind != Hostile::ZeroBytes);
        defaults.setInteger(70, "JpegQuality");
        QVERIFY(defaults.synchronize());
        QCOMPARE(UserDefaults(file).integerForKey("JpegQuality"), 70);
    }

    void downloadFrame_data()
    {
        addRows({Hostile::TruncatedJpeg, Hostile::TruncatedPng, Hostile::TruncatedTiff,
                 Hostile::TruncatedWebp, Hostile::HugeHeader, Hostile::ZeroBytes,
                 Hostile::RandomBytes, Hostile::DeepXmlPlist, Hostile::PackedDrawing,
                 Hostile::EntityBomb, Hostile::CarriedDrawing, Hostile::BrokenExif});
    }
    void downloadFrame()
    {
        QFETCH(Hostile, kind);
        const bool saved = kind == Hostile::BrokenExif;
        BodyServer server;
        server.bodies.insert("/Frame.png", hostileBytes(kind));
        const QString folder = path("My Frames");
        QVERIFY(QDir().mkpath(folder));
        // Left by a download that ended with the program, days ago.
        QFile stale(folder + "/.velluma-download-Ab12Cd");
        QVERIFY(stale.open(QIODevice::WriteOnly) &&
                stale.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                  QFileDevice::FileModificationTime));

        FrameDownloader downloader;
        downloader.setLimits(1024 * 1024, 10000);
        QSignalSpy finished(&downloader, &FrameDownloader::downloadFinished);
        QVERIFY(downloader.download(server.url("/Frame.png"), folder));
        QVERIFY(finished.wait(15000));
        QCOMPARE(finished.at(0).at(1).toString().isEmpty(), !saved);
        // Nothing half-downloaded stays behind.
        QCOMPARE(entries(folder), saved ? QStringList{"Frame.png"} : QStringList());
        QCOMPARE(downloader.activeDownloads(), 0);
    }

    void batchFramer_data()
    {
        // One at a time to PNG, or two at once to JPEG, which JPEG photos go to band by band.
        QTest::addColumn<int>("jobs");
        QTest::newRow("one at a time, PNG") << 1;
        QTest::newRow("two at once, JPEG") << 2;
    }
    void batchFramer()
    {
        // Every hostile picture and a missing one in one batch with two good photos: the good
        // ones are framed, each bad one is named on standard error and gets no output, the
        // status says so.
        QFETCH(int, jobs);
        const QString format = jobs == 1 ? "png" : "jpg";
        const QString in = path("in"), out = path("out");
        QVERIFY(QDir().mkpath(in));
        QStringList args{"-o", out, "-F", format, "-j", QString::number(jobs)};
        args << writePhoto(in + "/first.png") << in + "/missing.jpg";
        QStringList refused{"missing"}, framed{"first", "last"};
        std::optional<FifoWatch> fifo;
        for (Hostile kind : hostilePictures()) {
            const QString stem = QString(hostileName(kind)).replace(' ', '-');
            const QString file = in + '/' + stem + ".jpg";
            if (!makeHostile(kind, file)) // an unreadable file, for root
                continue;
            if (kind == Hostile::Fifo)
                fifo.emplace(file);
            args << file;
            (kind == Hostile::BrokenExif ? framed : refused) << stem;
        }
        args << writePhoto(in + "/last.png");

        QProcess framer;
        framer.start(VELLUMA_FRAME_BINARY, args);
        QVERIFY(framer.waitForFinished(60000));
        const QString err = framer.readAllStandardError();
        QCOMPARE(framer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(framer.exitCode(), 1);
        VERIFY_FIFO_UNOPENED(fifo);
        for (const QString& stem : std::as_const(refused))
            QVERIFY2(err.contains(stem + ".jpg"), qPrintable(stem + ": " + err));
        for (QString& name : framed) {
            name += '.' + format;
            QVERIFY2(!QImage(out + '/' + name).isNull(), qPrintable(name));
        }
        framed.sort();
        QCOMPARE(entries(out), framed);
    }

    // Linux names are bytes, and "\xff\xfe" is no UTF-8: Qt decodes it to U+FFFD twice, which
    // names another file or none. Beside each photo lies such a decoy under the decoded name;
    // the photo given by its bytes is the one read, and the batch framer's output keeps the
    // bytes.
    void namesOfBytes()
    {
        const QByteArray in = QFile::encodeName(path("in")), out = QFile::encodeName(path("out"));
        QVERIFY(QDir().mkpath(QFile::decodeName(in)));
        const QByteArray jpeg = in + "/\xff\xfe.jpg", png = in + "/\xfd.png";
        // QTemporaryDir cannot remove what QDir cannot list.
        const auto removeNamed = qScopeGuard([&] {
            std::filesystem::remove_all(in.constData());
            std::filesystem::remove_all(out.constData());
        });
        QVERIFY(writeNamed(jpeg, encodedPicture("jpeg", 96, 64)));
        QVERIFY(writeNamed(png, encodedPicture("png", 48, 32)));
        for (const QByteArray& name : {jpeg, png})
            QVERIFY(writeNamed(QFile::encodeName(QFile::decodeName(name)),
                               encodedPicture("png", 8, 8)));

        UserDefaults defaults(path("prefs.plist"));
        AppController app(defaults);
        SheetCatcher sheets(QString(), app.mainWindow());
        QVERIFY(app.applicationOpenNativeFile(jpeg));
        QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(96, 64));
        QCOMPARE(app.filename(), QString("\uFFFD\uFFFD"));
        app.openFiles({png});
        QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(48, 32));
        app.openFiles({in + "/\xfc.jpg"});
        QVERIFY2(sheets.last().text.contains("\uFFFD.jpg"), qPrintable(sheets.last().text));

        QProcess framer;
        startWithArguments(framer, VELLUMA_FRAME_BINARY, {"-o", out, jpeg, png});
        QVERIFY(framer.waitForFinished(60000));
        QVERIFY2(framer.exitCode() == 0, framer.readAllStandardError().constData());
        // Listed as the bytes they are: QDir skips names it cannot decode.
        QList<QByteArray> names;
        for (const auto& entry : std::filesystem::directory_iterator(out.constData()))
            names << QByteArray::fromStdString(entry.path().filename().native());
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (QList<QByteArray>{"\xfd.jpg", "\xff\xfe.jpg"}));
        for (const auto& [name, size] :
             {std::pair{names.at(0), QSize(48, 32)}, std::pair{names.at(1), QSize(96, 64)}})
            QCOMPARE(QImage(NativeFile(out + '/' + name).path()).size(), size);
        // An output folder of such a name would be made under the decoded one: refused.
        QProcess refused;
        startWithArguments(refused, VELLUMA_FRAME_BINARY, {"-o", in + "/\xfb", jpeg});
        QVERIFY(refused.waitForFinished(60000));
        QCOMPARE(refused.exitCode(), 2);
        QCOMPARE(entries(QFile::decodeName(in)).size(), 2); // the decoys
    }

    void saveFails_data()
    {
        // The window (a PNG or TIFF goes to the disk as it is encoded) or the batch framer.
        QTest::addColumn<QString>("writer");
        QTest::addColumn<bool>("diskFull"); // else the folder is read-only
        for (const char* writer : {"window", "window, PNG", "window, TIFF", "batch framer"}) {
            QTest::addRow("%s, disk full", writer) << QString(writer) << true;
            QTest::addRow("%s, read-only folder", writer) << QString(writer) << false;
        }
    }
    void saveFails()
    {
        QFETCH(QString, writer);
        QFETCH(bool, diskFull);
        const QString out = path("out");
        const QByteArray native = QFile::encodeName(out);
        QVERIFY(QDir().mkpath(out));
        // Root writes into any folder whatever its permissions: for root a read-only folder
        // is a mount made read-only.
        const bool mounted = diskFull || ::geteuid() == 0;
        const QString why = mounted ? mountFullDisk(out) : QString();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const auto undo = qScopeGuard([&] {
            if (mounted)
                unmountFolder(out);
            else
                ::chmod(native.constData(), 0755);
        });
        // The old output, small enough for the full disk; the new one, noise, is not.
        const QString old = out + "/noise.jpg";
        QVERIFY(writeFile(old, "old output"));
        if (!diskFull)
            QVERIFY(mounted ? ::mount(nullptr, native.constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                                      nullptr) == 0
                            : ::chmod(native.constData(), 0555) == 0);
        const QString photo = path("noise.png");
        QVERIFY(noisePhoto(300, 300).save(photo));
        const QString reason =
            std::strerror(diskFull ? ENOSPC : (::geteuid() == 0 ? EROFS : EACCES));

        QString error;
        if (writer.startsWith("window")) {
            UserDefaults defaults(path("prefs.plist"));
            AppController app(defaults);
            QVERIFY(app.applicationOpenFile(photo));
            const FileFormat format = writer == "window"        ? FileFormat::Jpeg
                                      : writer == "window, PNG" ? FileFormat::Png
                                                                : FileFormat::Tiff;
            QVERIFY(app.output()->writeImageToFile(old, format, 95, &error).isEmpty());
            // The window still holds the photo; a save elsewhere works.
            QVERIFY(
                !app.output()->writeImageToFile(path("else.jpg"), FileFormat::Jpeg, 95).isEmpty());
        } else {
            QProcess framer;
            framer.start(VELLUMA_FRAME_BINARY, {"-o", out, "--force", photo});
            QVERIFY(framer.waitForFinished(60000));
            QCOMPARE(framer.exitCode(), 1);
            error = framer.readAllStandardError();
        }
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(entries(out), QStringList{"noise.jpg"});
        QCOMPARE(readAll(old), QByteArray("old output"));
    }

    void plantedTemporaryFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("symlink to a folder") << "symlink";
        QTest::newRow("another user's folder") << "foreign";
        QTest::newRow("our folder, open to others") << "open";
    }
    void plantedTemporaryFolder()
    {
        // Someone put a thing where the window's copy makes its temporary folder, before the
        // window needed it.
        QFETCH(QString, kind);
        const QString planted = TmpFilePath::processFolderPath();
        const QByteArray native = QFile::encodeName(planted);
        QTemporaryDir target;
        QVERIFY(target.isValid());
        const auto cleanup = qScopeGuard([&] {
            TmpFilePath::removeTmpFiles();
            QFile::remove(planted);
            QDir(planted).removeRecursively();
        });
        if (kind == "foreign" && ::geteuid() != 0)
            QSKIP("only root can make a folder that belongs to someone else");
        if (kind == "symlink")
            QVERIFY(QFile::link(target.path(), planted));
        else
            QVERIFY(QDir().mkdir(planted) && ::chmod(native.constData(), 0777) == 0);
        QVERIFY(kind != "foreign" || ::chown(native.constData(), 65534, 65534) == 0);

        UserDefaults defaults(path("prefs.plist"));
        AppController app(defaults);
        QVERIFY(app.applicationOpenFile(writePhoto(path("Beach.png"))));
        app.output()->copy();
        const QList<QUrl> urls = QGuiApplication::clipboard()->mimeData()->urls();
        QCOMPARE(urls.size(), 1);
        const QString copied = urls.first().toLocalFile();
        QCOMPARE(QImage(copied).size(), QSize(60, 40));
        const QString folder = QFileInfo(copied).absolutePath();
        QVERIFY2(folder.startsWith(planted + '-'), qPrintable(folder));
        QVERIFY(TmpFilePath::isPrivateFolder(folder));
        // Nothing reached the planted thing or what it points to, and it is still there.
        QCOMPARE(entries(target.path()), QStringList());
        QVERIFY(kind == "symlink" || entries(planted).isEmpty());
        TmpFilePath::removeTmpFiles();
        QVERIFY(!QFileInfo::exists(folder));
        QCOMPARE(QFileInfo(planted).isSymLink(), kind == "symlink");
        QVERIFY(QFileInfo(target.path()).isDir());
    }
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
