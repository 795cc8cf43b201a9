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
            QVERIFY2(near(argb.pixel(x, y), want),
                     qPrintable(QString("at %1,%2: %3 instead of %4")
                                    .arg(x)
                                    .arg(y)
                                    .arg(argb.pixel(x, y), 8, 16, QLatin1Char('0'))
                                    .arg(want, 8, 16, QLatin1Char('0'))));
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
    QCOMPARE(error, ok ? QString() : QString("The folder of 'Set' could not be removed."));
    // Nothing left in hiding, and a link takes only itself.
    const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
    QCOMPARE(QDir(root).entryList(all), QStringList{"Other"});
    if (kind != "folder")
        QCOMPARE(QDir(elsewhere).entryList(all), (QStringList{"Frame.png", "tncache"}));
}

QTEST_MAIN(TestFrameFiles)
#include "test_frame_files.moc"
