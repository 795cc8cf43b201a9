#include "HostileInputs.h"
#include "LocalHttpServer.h"
#include "RawArguments.h"
#include "TestSupport.h"
#include "app/AppController.h"
#include "compositing/Document.h"
#include "foundation/NativeFile.h"
#include "foundation/UserDefaults.h"
#include "frames/FrameLibrary.h"
#include "ui/ZTWindow.h"
#include "ui/frames/FrameDownloader.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <optional>

// Every hostile input through every way a file enters Velluma: the window's open, the
// frame chosen in the panel, the collections listed, the settings read at start, a frame
// dropped as a URL and the batch framer. Each is refused with a message that names it, or
// skipped, and the program goes on to the next good file.

namespace {

// What an entry point does with the input.
enum class Outcome {
    Opens,   // read whole: the damage is in data Velluma does not need
    Damaged, // what could be read is shown, and the user is told the rest is missing
    Refused, // nothing is read, and the user is told
};

// Makes the input at path, or skips the row saying why it cannot.
#define MAKE_HOSTILE(kind, path)                                                                   \
    do {                                                                                           \
        QString skip_;                                                                             \
        if (!makeHostile(kind, path, &skip_)) {                                                    \
            if (skip_.isEmpty())                                                                   \
                QFAIL("the hostile input could not be made");                                      \
            QSKIP(qPrintable(skip_));                                                              \
        }                                                                                          \
    } while (false)

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
private slots:
    void init();
    void openPhoto_data();
    void openPhoto();
    void chooseFrame_data();
    void chooseFrame();
    void propertyLists_data();
    void propertyLists();
    void downloadFrame_data();
    void downloadFrame();
    void batchFramer();
    void namesOfBytes();

private:
    std::unique_ptr<QTemporaryDir> _dir;
    QString path(const QString& name) const { return _dir->filePath(name); }
};

void TestHostile::init()
{
    _dir = std::make_unique<QTemporaryDir>();
    QVERIFY(_dir->isValid());
}

void TestHostile::openPhoto_data()
{
    QTest::addColumn<Hostile>("kind");
    QTest::addColumn<Outcome>("outcome");
    for (Hostile kind : hostilePictures()) {
        Outcome outcome = Outcome::Refused;
        if (kind == Hostile::BrokenExif)
            outcome = Outcome::Opens;
        else if (kind == Hostile::TruncatedJpeg)
            outcome = Outcome::Damaged;
        QTest::newRow(hostileName(kind)) << kind << outcome;
    }
}

void TestHostile::openPhoto()
{
    QFETCH(Hostile, kind);
    QFETCH(Outcome, outcome);
    UserDefaults defaults(path(QStringLiteral("prefs.plist")));
    AppController app(defaults);
    QVERIFY(app.applicationOpenFile(writePhoto(path(QStringLiteral("before.png")))));
    const QString photo = path(QStringLiteral("photo.jpg"));
    MAKE_HOSTILE(kind, photo);
    SheetCatcher sheets(QString(), app.mainWindow());
    const auto fifo = watchIfFifo(kind, photo);

    QCOMPARE(app.applicationOpenFile(photo), outcome != Outcome::Refused);
    QVERIFY2(!fifo || !fifo->wasOpened(), "the FIFO was opened and would have hung");
    QCOMPARE(sheets.shown(), outcome != Outcome::Opens);
    if (outcome == Outcome::Refused) {
        QCOMPARE(sheets.last().text, QStringLiteral("Unable to Open 'photo.jpg'"));
        QCOMPARE(app.filename(), QStringLiteral("before"));
        QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(60, 40));
    } else {
        if (outcome == Outcome::Damaged)
            QCOMPARE(sheets.last().text, QStringLiteral("'photo.jpg' Is Damaged"));
        QCOMPARE(app.filename(), QStringLiteral("photo"));
        QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(96, 64));
    }
    QVERIFY2(!sheets.shown() || sheets.last().informative.size() > 10,
             qPrintable(sheets.last().informative));
    // An image file is not called "not an image file".
    if (kind == Hostile::HugeHeader || kind == Hostile::HugeAvif)
        QVERIFY2(sheets.last().informative.contains(QStringLiteral("100000 x 100000 pixels")),
                 qPrintable(sheets.last().informative));
    if (kind == Hostile::TruncatedPng)
        QVERIFY2(
            sheets.last().informative.startsWith(QStringLiteral("\"photo.jpg\" could not be read")),
            qPrintable(sheets.last().informative));
    // The window goes on.
    QVERIFY(app.applicationOpenFile(writePhoto(path(QStringLiteral("after.png")))));
    QCOMPARE(app.filename(), QStringLiteral("after"));
}

void TestHostile::chooseFrame_data()
{
    QTest::addColumn<Hostile>("kind");
    QTest::addColumn<bool>("asMask"); // the frame is good, its post mask hostile
    QTest::addColumn<QString>("name");
    const QString png = QStringLiteral("Frame.png");
    for (Hostile kind : hostilePictures()) {
        if (kind == Hostile::BrokenExif)
            continue;
        QTest::newRow(hostileName(kind)) << kind << false << png;
        QTest::newRow(qPrintable(QStringLiteral("%1 mask").arg(hostileName(kind))))
            << kind << true << png;
    }
    for (Hostile kind : hostileDrawings())
        QTest::newRow(qPrintable(hostileDrawingName(kind) + QLatin1Char(' ') + hostileName(kind)))
            << kind << false << hostileDrawingName(kind);
}

void TestHostile::chooseFrame()
{
    QFETCH(Hostile, kind);
    QFETCH(bool, asMask);
    QFETCH(QString, name);
    const QString frame = path(name);
    const QString bad = asMask ? FrameLibrary::postMaskPathFor(frame) : frame;
    if (asMask)
        QVERIFY(!writePhoto(frame).isEmpty());
    MAKE_HOSTILE(kind, bad);
    const auto fifo = watchIfFifo(kind, bad);

    FrameLibrary::LoadedFrame loaded;
    QString error;
    QVERIFY(!FrameLibrary::loadFrame(frame, false, &loaded, &error));
    QVERIFY2(error.startsWith(bad + QLatin1Char(':')), qPrintable(error));
    QVERIFY(loaded.frame.isNull() && !loaded.frameDrawing);

    // The window shows the photo without a frame rather than a broken one.
    UserDefaults defaults(path(QStringLiteral("prefs.plist")));
    AppController app(defaults);
    QVERIFY(app.applicationOpenFile(writePhoto(path(QStringLiteral("photo.png")))));
    app.setBorderPath(frame);
    QVERIFY(app.document()->framedPhoto().frame.isNull());
    QVERIFY(!app.document()->framedPhoto().frameDrawing);
    QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(60, 40));
    QVERIFY2(!fifo || !fifo->wasOpened(), "the FIFO was opened and would have hung");
}

void TestHostile::propertyLists_data()
{
    QTest::addColumn<Hostile>("kind");
    for (Hostile kind : hostilePropertyLists())
        QTest::newRow(hostileName(kind)) << kind;
}

void TestHostile::propertyLists()
{
    QFETCH(Hostile, kind);
    // As the user's order of collections, hostile like every other file among the frames.
    const QString root = path(QStringLiteral("Frames"));
    for (const char* name : {"Beta", "Alpha", "Gamma"})
        QVERIFY(QDir().mkpath(root + QLatin1Char('/') + QLatin1String(name)));
    MAKE_HOSTILE(kind, root + QStringLiteral("/collections.plist"));
    const auto fifo = watchIfFifo(kind, root + QStringLiteral("/collections.plist"));
    QCOMPARE(FrameLibrary::collectionNamesForFolder(root), (QStringList{"Alpha", "Beta", "Gamma"}));

    const QString alpha = root + QStringLiteral("/Alpha");
    QVERIFY(!writePhoto(alpha + QStringLiteral("/Good.png")).isEmpty());
    int made = 0;
    for (Hostile picture : hostilePictures()) {
        if (makeHostile(picture, alpha + QStringLiteral("/%1.png").arg(hostileName(picture))))
            ++made;
    }
    QVERIFY(made >= 10);
    QStringList drawings;
    for (Hostile drawing : hostileDrawings()) {
        drawings << alpha + QLatin1Char('/') + hostileName(drawing) +
                        hostileDrawingName(drawing).mid(5); // the extension
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
    QVERIFY2(!fifo || !fifo->wasOpened(), "the FIFO was opened and would have hung");

    // The same list as the settings read at start.
    const QString file = path(QStringLiteral("Velluma.plist"));
    MAKE_HOSTILE(kind, file);
    const auto settingsFifo = watchIfFifo(kind, file);
    QElapsedTimer clock;
    clock.start();
    UserDefaults defaults(file);
    defaults.registerDefaults({{QStringLiteral("JpegQuality"), 90}});
    QCOMPARE(defaults.integerForKey(QStringLiteral("JpegQuality")), 90);
    QVERIFY2(clock.elapsed() < 5000, "reading the settings took seconds");
    QVERIFY2(!settingsFifo || !settingsFifo->wasOpened(),
             "the FIFO was opened and would have hung");
    // Whatever sat there is kept aside for the user (an empty file holds nothing to keep),
    // and the settings are written anew.
    QCOMPARE(QFileInfo(defaults.backupPath()).isSymLink() ||
                 QFileInfo::exists(defaults.backupPath()),
             kind != Hostile::ZeroBytes);
    defaults.setInteger(70, QStringLiteral("JpegQuality"));
    QVERIFY(defaults.synchronize());
    QCOMPARE(UserDefaults(file).integerForKey(QStringLiteral("JpegQuality")), 70);
}

void TestHostile::downloadFrame_data()
{
    QTest::addColumn<Hostile>("kind");
    QTest::addColumn<bool>("saved");
    for (Hostile kind : {Hostile::TruncatedJpeg, Hostile::TruncatedPng, Hostile::TruncatedTiff,
                         Hostile::TruncatedWebp, Hostile::HugeHeader, Hostile::ZeroBytes,
                         Hostile::RandomBytes, Hostile::DeepXmlPlist, Hostile::PackedDrawing,
                         Hostile::EntityBomb, Hostile::CarriedDrawing, Hostile::BrokenExif})
        QTest::newRow(hostileName(kind)) << kind << (kind == Hostile::BrokenExif);
}

void TestHostile::downloadFrame()
{
    QFETCH(Hostile, kind);
    QFETCH(bool, saved);
    const QString made = path(QStringLiteral("made"));
    MAKE_HOSTILE(kind, made);
    QFile madeFile(made);
    QVERIFY(madeFile.open(QIODevice::ReadOnly));
    BodyServer server;
    server.bodies.insert("/Frame.png", madeFile.readAll());
    const QString folder = path(QStringLiteral("My Frames"));
    QVERIFY(QDir().mkpath(folder));
    // Left by a download that ended with the program, days ago.
    QFile stale(folder + QStringLiteral("/.velluma-download-Ab12Cd"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    QVERIFY(stale.setFileTime(QDateTime::currentDateTime().addDays(-2),
                              QFileDevice::FileModificationTime));
    stale.close();

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

void TestHostile::batchFramer()
{
    // Every hostile picture in one batch with two good photos: the good ones are framed,
    // each bad one is named on standard error and gets no output, the status says so.
    const QString in = path(QStringLiteral("in")), out = path(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(in));
    QStringList args{QStringLiteral("-o"),
                     out,
                     QStringLiteral("-F"),
                     QStringLiteral("jpg"),
                     QStringLiteral("-j"),
                     QStringLiteral("2"),
                     writePhoto(in + QStringLiteral("/first.png"))};
    QStringList refused, framed{QStringLiteral("first.jpg")};
    std::optional<FifoWatch> fifo;
    for (Hostile kind : hostilePictures()) {
        const QString stem = QString::fromLatin1(hostileName(kind)).replace(QLatin1Char(' '), '-');
        const QString file = in + QLatin1Char('/') + stem + QStringLiteral(".jpg");
        if (!makeHostile(kind, file)) {
            qInfo("%s: skipped, it cannot be made hostile here", hostileName(kind));
            continue;
        }
        if (kind == Hostile::Fifo)
            fifo.emplace(file);
        args << file;
        (kind == Hostile::BrokenExif ? framed : refused) << stem;
    }
    args << writePhoto(in + QStringLiteral("/last.png"));
    framed << QStringLiteral("last.jpg") << QStringLiteral("broken-EXIF.jpg");
    framed.removeAll(QStringLiteral("broken-EXIF"));

    QProcess framer;
    framer.start(QStringLiteral(VELLUMA_FRAME_BINARY), args);
    QVERIFY(framer.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(framer.readAllStandardError());
    QCOMPARE(framer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(framer.exitCode(), 1);
    QVERIFY2(!fifo || !fifo->wasOpened(), "the FIFO was opened and would have hung");
    framed.sort();
    QCOMPARE(entries(out), framed);
    for (const QString& stem : std::as_const(refused))
        QVERIFY2(err.contains(stem + QStringLiteral(".jpg")), qPrintable(stem + ": " + err));
    for (const QString& name : std::as_const(framed))
        QVERIFY2(!QImage(out + QLatin1Char('/') + name).isNull(), qPrintable(name));
}

// Linux names are bytes, and "\xff\xfe" is no UTF-8: Qt decodes it to U+FFFD twice, which
// names another file or none. Beside each photo lies such a decoy under the decoded name; the
// photo given by its bytes is the one read, and the batch framer's output keeps the bytes.
void TestHostile::namesOfBytes()
{
    const QByteArray in = QFile::encodeName(path(QStringLiteral("in")));
    const QByteArray out = QFile::encodeName(path(QStringLiteral("out")));
    QVERIFY(QDir().mkpath(QFile::decodeName(in)));
    const QByteArray jpeg = in + "/\xff\xfe.jpg", png = in + "/\xfd.png";
    // QTemporaryDir cannot remove what QDir cannot list.
    const auto removeNamed = qScopeGuard([&] {
        for (const QByteArray& name : {jpeg, png, out + "/\xff\xfe.jpg", out + "/\xfd.jpg"})
            ::unlink(name.constData());
    });
    QVERIFY(writeNamed(jpeg, encodedPicture("jpeg", 96, 64)));
    QVERIFY(writeNamed(png, encodedPicture("png", 48, 32)));
    for (const QByteArray& name : {jpeg, png})
        QVERIFY(
            writeNamed(QFile::encodeName(QFile::decodeName(name)), encodedPicture("png", 8, 8)));

    UserDefaults defaults(path(QStringLiteral("prefs.plist")));
    AppController app(defaults);
    SheetCatcher sheets(QString(), app.mainWindow());
    QVERIFY(app.applicationOpenNativeFile(jpeg));
    QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(96, 64));
    QCOMPARE(app.filename(), QStringLiteral("\uFFFD\uFFFD"));
    app.openFiles({png});
    QCOMPARE(app.document()->framedPhoto().photo.size(), QSize(48, 32));
    app.openFiles({in + "/\xfc.jpg"});
    QCOMPARE(sheets.last().text, QStringLiteral("Unable to Open '\uFFFD.jpg'"));

    QProcess framer;
    startWithArguments(framer, QStringLiteral(VELLUMA_FRAME_BINARY), {"-o", out, jpeg, png});
    QVERIFY(framer.waitForFinished(60000));
    QVERIFY2(framer.exitCode() == 0, framer.readAllStandardError().constData());
    // Listed as the bytes they are: QDir skips names it cannot decode.
    QList<QByteArray> names;
    if (DIR* folder = ::opendir(out.constData())) {
        while (const dirent* entry = ::readdir(folder))
            names << QByteArray(entry->d_name);
        ::closedir(folder);
    }
    names.removeAll(".");
    names.removeAll("..");
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (QList<QByteArray>{"\xfd.jpg", "\xff\xfe.jpg"}));
    // An output folder of such a name would be made under the decoded one: refused.
    QProcess refused;
    startWithArguments(refused, QStringLiteral(VELLUMA_FRAME_BINARY), {"-o", in + "/\xfb", jpeg});
    QVERIFY(refused.waitForFinished(60000));
    QCOMPARE(refused.exitCode(), 2);
    QVERIFY(refused.readAllStandardError().contains("output folder's name is not UTF-8"));
    QCOMPARE(entries(QFile::decodeName(in)).size(), 2); // the decoys
    for (const auto& [name, size] :
         {std::pair{names.at(0), QSize(48, 32)}, std::pair{names.at(1), QSize(96, 64)}}) {
        NativeFile written(out + '/' + name);
        const QImage framed(written.path());
        QCOMPARE(framed.size(), size);
    }
}

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
