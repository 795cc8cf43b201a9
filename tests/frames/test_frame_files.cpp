#include "frames/FrameLibrary.h"

#include "output/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum class FrameFile { None, Png, TurnedJpeg };
enum class MaskFile { None, Good, Broken };

// Four flat quadrants on 16-pixel block edges, so that JPEG keeps their colours.
QImage quadrants(QRgb topLeft, QRgb topRight, QRgb bottomLeft, QRgb bottomRight)
{
    QImage image(64, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(
                x, y, y < 16 ? (x < 32 ? topLeft : topRight) : (x < 32 ? bottomLeft : bottomRight));
    return image;
}

// The source pixel that lands at (x, y) of the result, whose width is resultWidth: turned
// is a quarter turn clockwise (EXIF orientation 6), flip mirrors the upright picture.
QRgb expectedAt(const QImage& source, int resultWidth, int x, int y, bool turned, bool flip)
{
    const int ux = flip ? resultWidth - 1 - x : x;
    return turned ? source.pixel(y, source.height() - 1 - ux) : source.pixel(ux, y);
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8 &&
           qAbs(qBlue(a) - qBlue(b)) <= 8 && qAbs(qAlpha(a) - qAlpha(b)) <= 8;
}

// Compares the centres of the result's quadrants; four distinct colours there tell every
// turn and mirror apart.
void compareQuadrants(const QImage& actual, const QImage& source, bool turned, bool flip)
{
    const QSize size = turned ? source.size().transposed() : source.size();
    QCOMPARE(actual.size(), size);
    const QImage argb = actual.convertToFormat(QImage::Format_ARGB32);
    for (const int x : {size.width() / 4, size.width() * 3 / 4}) {
        for (const int y : {size.height() / 4, size.height() * 3 / 4}) {
            const QRgb want = expectedAt(source, size.width(), x, y, turned, flip);
            QVERIFY2(near(argb.pixel(x, y), want), qPrintable(QString("at %1,%2").arg(x).arg(y)));
        }
    }
}

} // namespace

class TestFrameFiles : public QObject {
    Q_OBJECT
private slots:
    void loadFrame_data();
    void loadFrame();
    void removeCollection_data();
    void removeCollection();
    void drawingsAndLayouts_data();
    void drawingsAndLayouts();
    void companionsAreNotFrames();
};

void TestFrameFiles::loadFrame_data()
{
    QTest::addColumn<QString>("frame"); // under the test folder; empty: no frame
    QTest::addColumn<QString>("mask");  // where its post mask belongs
    QTest::addColumn<FrameFile>("frameFile");
    QTest::addColumn<MaskFile>("maskFile");
    QTest::addColumn<bool>("flip");
    QTest::addColumn<bool>("ok");
    auto row = [](const char* tag, const QString& frame, const QString& mask, FrameFile frameFile,
                  MaskFile maskFile, bool flip, bool ok) {
        QTest::newRow(tag) << frame << mask << frameFile << maskFile << flip << ok;
    };
    using F = FrameFile;
    using M = MaskFile;
    row("no frame", "", "", F::None, M::None, true, true);
    row("without post mask", "Gold.png", "Gold_postmask.png", F::Png, M::None, false, true);
    row("two dots, flipped", "Old.Gold.png", "Old.Gold_postmask.png", F::Png, M::Good, true, true);
    row("dot in the folder", "a.b/frame", "a.b/frame_postmask.png", F::Png, M::Good, false, true);
    row("leading dot", ".frame", ".frame_postmask.png", F::Png, M::Good, true, true);
    row("turned JPEG", "Turned.jpg", "Turned_postmask.png", F::TurnedJpeg, M::Good, false, true);
    row("turned JPEG, flipped", "T.jpeg", "T_postmask.png", F::TurnedJpeg, M::Good, true, true);
    row("unreadable post mask", "Star.png", "Star_postmask.png", F::Png, M::Broken, false, false);
    row("missing frame", "Gone.png", "Gone_postmask.png", F::None, M::Good, false, false);
}

void TestFrameFiles::loadFrame()
{
    QFETCH(QString, frame);
    QFETCH(QString, mask);
    QFETCH(FrameFile, frameFile);
    QFETCH(MaskFile, maskFile);
    QFETCH(bool, flip);
    QFETCH(bool, ok);
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("a.b")));
    const QString framePath = frame.isEmpty() ? QString() : dir.filePath(frame);
    const QString maskPath = mask.isEmpty() ? QString() : dir.filePath(mask);
    QCOMPARE(FrameLibrary::postMaskPathFor(framePath), maskPath);

    const QImage frameImage = quadrants(0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff);
    const QImage maskImage = quadrants(0x00000000, 0xff000000, 0x80000000, 0x40000000);
    if (frameFile == FrameFile::Png)
        QVERIFY(frameImage.save(framePath, "PNG"));
    if (frameFile == FrameFile::TurnedJpeg) {
        QVERIFY(frameImage.convertToFormat(QImage::Format_RGB32).save(framePath, "JPEG", 95));
        setTags(framePath, {{"Exif.Image.Orientation", "6"}});
    }
    if (maskFile == MaskFile::Good)
        QVERIFY(maskImage.save(maskPath, "PNG"));
    if (maskFile == MaskFile::Broken)
        QVERIFY(writeFile(maskPath, "not a picture"));

    FrameLibrary::LoadedFrame loaded{maskImage, maskImage, {}, {}, {}}; // must be replaced
    QString error;
    QCOMPARE(FrameLibrary::loadFrame(framePath, flip, &loaded, &error), ok);
    if (!ok) {
        QVERIFY(loaded.frame.isNull() && loaded.postMask.isNull());
        const QString culprit = maskFile == MaskFile::Broken ? maskPath : framePath;
        QVERIFY2(error.startsWith(culprit + ": cannot read the"), qPrintable(error));
        return;
    }
    if (frameFile == FrameFile::None)
        QVERIFY(loaded.frame.isNull());
    else
        compareQuadrants(loaded.frame, frameImage, frameFile == FrameFile::TurnedJpeg, flip);
    if (maskFile == MaskFile::None)
        QVERIFY(loaded.postMask.isNull());
    else
        compareQuadrants(loaded.postMask, maskImage, false, flip);
}

void TestFrameFiles::removeCollection_data()
{
    QTest::addColumn<QString>("kind"); // what lies under the collection's name
    QTest::addColumn<bool>("ok");
    QTest::newRow("folder of frames") << "folder" << true;
    QTest::newRow("link to a folder elsewhere") << "link" << true;
    QTest::newRow("nothing") << "" << true;
    QTest::newRow("no user folder") << "no root" << false;
}

void TestFrameFiles::removeCollection()
{
    QFETCH(QString, kind);
    QFETCH(bool, ok);
    QTemporaryDir dir;
    const QString root = dir.filePath("root"), elsewhere = dir.filePath("elsewhere");
    QVERIFY(QDir().mkpath(root + "/Other") && QDir().mkpath(elsewhere + "/tncache"));
    QVERIFY(writeFile(elsewhere + "/Frame.png", "frame"));
    if (kind == "folder")
        QVERIFY(QDir().rename(elsewhere, root + "/Set"));
    if (kind == "link")
        QVERIFY(QFile::link(elsewhere, root + "/Set"));

    QString error;
    QCOMPARE(FrameLibrary::removeCollection(kind == "no root" ? QString() : root, "Set", &error),
             ok);
    QCOMPARE(error.isEmpty(), ok);
    // Nothing left in hiding, and a link takes only itself.
    const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
    QCOMPARE(QDir(root).entryList(all), QStringList{"Other"});
    if (kind != "folder")
        QCOMPARE(QDir(elsewhere).entryList(all), (QStringList{"Frame.png", "tncache"}));
}

void TestFrameFiles::drawingsAndLayouts_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QByteArray>("layout");   // the "_frame.plist", none when empty
    QTest::addColumn<bool>("vectorPostMask"); // a "_postmask.svg" beside it
    QTest::addColumn<bool>("flip");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("left"); // the layout's left inset after the flip; -1: plain
    const QByteArray insets = "<plist><dict><key>Insets</key><dict><key>Left</key><integer>100"
                              "</integer><key>Right</key><integer>40</integer></dict></dict>"
                              "</plist>";
    QTest::newRow("drawing") << "Film.svg" << QByteArray() << false << false << true << -1;
    QTest::newRow("drawing, layout, flipped") << "Film.svg" << insets << true << true << true << 40;
    QTest::newRow("bitmap, layout") << "Mat.png" << insets << false << false << true << 100;
    QTest::newRow("layout not a property list")
        << "Mat.png" << QByteArray("\x00\x01garbage") << false << false << true << -1;
    QTest::newRow("insets wider than the frame")
        << "Film.svg" << QByteArray(insets).replace("100", "1190") << false << false << true << -1;
    QTest::newRow("malformed drawing") << "Broken.svg" << insets << false << false << false << -1;
}

void TestFrameFiles::drawingsAndLayouts()
{
    QFETCH(QString, frame);
    QFETCH(QByteArray, layout);
    QFETCH(bool, vectorPostMask);
    QFETCH(bool, flip);
    QFETCH(bool, ok);
    QFETCH(int, left);
    QTemporaryDir dir;
    const QString path = dir.filePath(frame);
    const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 800\">"
                           "<rect width=\"1200\" height=\"100\"/></svg>";
    if (frame.endsWith(".png"))
        QVERIFY(
            quadrants(0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff).scaled(1200, 800).save(path));
    else
        QVERIFY(writeFile(path, frame.startsWith("Broken") ? svg.left(60) : svg));
    const QString stem = path.left(path.lastIndexOf('.'));
    if (!layout.isEmpty())
        QVERIFY(writeFile(stem + "_frame.plist", layout));
    if (vectorPostMask)
        QVERIFY(writeFile(stem + "_postmask.svg", svg));
    QCOMPARE(FrameLibrary::geometryPathFor(path), stem + "_frame.plist");

    FrameLibrary::LoadedFrame loaded;
    QString error;
    QCOMPARE(FrameLibrary::loadFrame(path, flip, &loaded, &error), ok);
    if (!ok) {
        QVERIFY(!loaded.frameDrawing && loaded.frame.isNull());
        QVERIFY2(error.startsWith(path + ": cannot read the frame"), qPrintable(error));
        return;
    }
    const bool drawn = frame.endsWith(".svg");
    QCOMPARE(loaded.frameDrawing != nullptr, drawn);
    QCOMPARE(loaded.frame.isNull(), drawn);
    if (drawn) {
        QCOMPARE(loaded.frameDrawing->size(), QSizeF(1200, 800));
        QCOMPARE(loaded.frameDrawing->isFlipped(), flip);
    }
    QCOMPARE(loaded.postMaskDrawing != nullptr, vectorPostMask);
    if (vectorPostMask)
        QCOMPARE(loaded.postMaskDrawing->isFlipped(), flip);
    QCOMPARE(loaded.geometry.hasInsets, left >= 0);
    if (left >= 0)
        QCOMPARE(loaded.geometry.left, left);
}

void TestFrameFiles::companionsAreNotFrames()
{
    // Post masks and layouts lie beside their frames; only the frames are listed, and a
    // frame is found by its collection and name with or without its extension.
    QTemporaryDir root;
    const QString folder = root.filePath("Set");
    QVERIFY(QDir().mkpath(folder));
    const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 300 200\">"
                           "<rect width=\"300\" height=\"20\" fill=\"red\"/></svg>";
    for (const char* name : {"Film.svg", "Film_postmask.svg"})
        QVERIFY(writeFile(folder + "/" + name, svg));
    QVERIFY(writeFile(folder + "/Film_frame.plist", "<plist><dict/></plist>"));
    QVERIFY(quadrants(0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff).save(folder + "/Mat.png"));
    QVERIFY(writeFile(folder + "/Mat_frame.plist", "<plist><dict/></plist>"));
    QStringList listed;
    for (const ThumbnailEntry& entry : FrameLibrary::collectionForFolder(folder))
        listed.append(QFileInfo(entry.path).fileName());
    QCOMPARE(listed, (QStringList{"Film.svg", "Mat.png"}));
    // The drawing's thumbnail is drawn from it: red along its top over black.
    const QImage thumb = FrameLibrary::collectionForFolder(folder).first().image;
    QCOMPARE(thumb.size(), QSize(72, 48));
    QVERIFY(qRed(thumb.pixel(36, 1)) > 200 && qRed(thumb.pixel(36, 30)) < 30);

    const QString none;
    QCOMPARE(FrameLibrary::frameForName("Set/Film", root.path(), none), folder + "/Film.svg");
    QCOMPARE(FrameLibrary::frameForName("Set/Mat.png", none, root.path()), folder + "/Mat.png");
    for (const char* missing : {"Set/Film_frame", "Set/Nothing", "Set", "../Set/Film", "/Set/Film"})
        QVERIFY2(FrameLibrary::frameForName(missing, root.path(), none).isEmpty(), missing);
}

QTEST_MAIN(TestFrameFiles)
#include "test_frame_files.moc"
