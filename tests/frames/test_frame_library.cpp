#include "TestSupport.h"
#include "compositing/FrameGeometry.h"
#include "foundation/PropertyList.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "output/TestFiles.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <unistd.h>

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QStringList fileNames(const ThumbnailList& list)
{
    QStringList names;
    for (const ThumbnailEntry& e : list)
        names.append(QFileInfo(e.path).fileName());
    return names;
}

enum class FrameFile { None, Png, TurnedJpeg, Drawing, BrokenDrawing };
enum class MaskFile { None, Good, Broken, Drawing };

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

// Compares the centres of the result's quadrants with the source pixels that must land there:
// turned is a quarter turn clockwise (EXIF orientation 6), flip mirrors the upright picture.
void compareQuadrants(const QImage& actual, const QImage& source, bool turned, bool flip)
{
    const QSize size = turned ? source.size().transposed() : source.size();
    QCOMPARE(actual.size(), size);
    const QImage argb = actual.convertToFormat(QImage::Format_ARGB32);
    for (const int x : {size.width() / 4, size.width() * 3 / 4}) {
        for (const int y : {size.height() / 4, size.height() * 3 / 4}) {
            const int ux = flip ? size.width() - 1 - x : x;
            const QRgb want =
                turned ? source.pixel(y, source.height() - 1 - ux) : source.pixel(ux, y);
            const QRgb got = argb.pixel(x, y);
            QVERIFY2(qAbs(qRed(got) - qRed(want)) <= 8 && qAbs(qGreen(got) - qGreen(want)) <= 8 &&
                         qAbs(qBlue(got) - qBlue(want)) <= 8 &&
                         qAbs(qAlpha(got) - qAlpha(want)) <= 8,
                     qPrintable(QString("at %1,%2").arg(x).arg(y)));
        }
    }
}

// The shipped frame library: frames that stay sharp on a large photo (vector, or bitmaps big
// enough not to be enlarged much), frame property lists the program can use, thumbnails
// shipped with them.
const QString Root = QStringLiteral(VELLUMA_SOURCE_RESOURCES "/borders");
const QString OptionsSuffix = QStringLiteral("_frame.plist");

// The size in view-box units for SVG, in pixels for bitmaps; empty when unreadable.
QSizeF frameSize(const QString& path)
{
    if (path.endsWith(QLatin1String(".svg"))) {
        QSvgRenderer svg(path);
        return svg.isValid() ? svg.viewBoxF().size() : QSizeF();
    }
    return QSizeF(QImageReader(path).size());
}

// The frame a property list or post mask belongs to: the image file with the same stem.
QString ownerOf(const QString& stem)
{
    for (const char* extension : {".svg", ".png", ".jpg"})
        if (QFileInfo::exists(stem + QLatin1String(extension)))
            return stem + QLatin1String(extension);
    return {};
}

} // namespace

class TestFrameLibrary : public QObject {
    Q_OBJECT

private slots:
    void thumbnail_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("portrait 800x1200") << QSize(800, 1200) << QSize(32, 48);
        QTest::newRow("half rounds up") << QSize(97, 96) << QSize(49, 48);
        QTest::newRow("thinner than a pixel") << QSize(1, 100) << QSize();
        QTest::newRow("wider: capped") << QSize(5000, 100) << QSize(384, 48);
    }

    void thumbnail()
    {
        QFETCH(QSize, frame);
        QFETCH(QSize, expected);
        QCOMPARE(ThumbnailCache::thumbnailSizeForImageSize(frame), expected);
        if (!expected.isValid())
            return;
        QCOMPARE(
            ThumbnailCache::thumbnailImageForImage(solid(frame.width(), frame.height(), Qt::white))
                .size(),
            expected);
        if (frame.width() > 1000) // capped: the middle of the frame
            return;
        // Left half opaque red, right half transparent: the right half comes out black, in the
        // image and in the cached JPEG.
        QImage image(frame, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter(&image).fillRect(0, 0, frame.width() / 2, frame.height(), QColor(255, 0, 0));
        QTemporaryDir dir;
        const QString path = dir.filePath("Alpha.png");
        QVERIFY(image.save(path));
        const QImage thumb = ThumbnailCache::thumbnailImageForPath(path);
        const QImage cached(ThumbnailCache::cachePathForPath(path));
        for (const QImage& made : {ThumbnailCache::thumbnailImageForImage(image), thumb, cached}) {
            QVERIFY(!made.hasAlphaChannel());
            const QRgb left = made.pixel(2, 20), right = made.pixel(expected.width() - 3, 20);
            QVERIFY(qRed(left) > 230 && qRed(right) < 16 && qGreen(left) < 16);
        }
    }

    void cache_data()
    {
        QTest::addColumn<QByteArray>("cacheBytes"); // null: no cache file
        QTest::addColumn<int>("cacheAge");    // seconds the cache file is older than the frame
        QTest::addColumn<bool>("cacheShown"); // else made afresh from the frame
        const QByteArray stale = encoded(solid(72, 48, Qt::red), "JPEG");
        QTest::newRow("no cache") << QByteArray() << 0 << false;
        QTest::newRow("cache is used") << stale << -60 << true;
        QTest::newRow("frame edited since") << stale << 60 << false;
        QTest::newRow("truncated jpeg") << stale.left(40) << 0 << false;
        QTest::newRow("not thumbnail sized")
            << encoded(solid(300, 200, Qt::red), "JPEG") << 0 << false;
    }

    void cache()
    {
        QFETCH(QByteArray, cacheBytes);
        QFETCH(int, cacheAge);
        QFETCH(bool, cacheShown);
        QTemporaryDir dir;
        const QString path = dir.filePath("Frame.png"),
                      cache = dir.filePath("tncache/Frame_png.jpg");
        QVERIFY(solid(1200, 800, Qt::green).save(path));
        if (!cacheBytes.isNull()) {
            QVERIFY(QDir().mkpath(dir.filePath("tncache")));
            QVERIFY(writeFile(cache, cacheBytes));
            QFile file(cache);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QFileInfo(path).lastModified().addSecs(-cacheAge),
                                     QFileDevice::FileModificationTime));
        }
        const QImage thumb = ThumbnailCache::thumbnailImageForPath(path);
        QCOMPARE(thumb.size(), QSize(72, 48));
        QCOMPARE(qRed(thumb.pixel(10, 10)) > 200, cacheShown);
        QCOMPARE(qGreen(thumb.pixel(10, 10)) > 200, !cacheShown);
        QCOMPARE(QImageReader(cache).format(), QByteArray("jpeg"));
        QCOMPARE(QImage(cache).size(), QSize(72, 48));
        // The cache is read before the frame: it answers even for a vanished frame.
        QVERIFY(QFile::remove(path));
        QCOMPARE(ThumbnailCache::thumbnailImageForPath(path).size(), QSize(72, 48));
    }

    void collectionNames_data()
    {
        QTest::addColumn<QByteArray>("plist"); // empty: no file
        QTest::addColumn<QStringList>("expected");
        const QStringList listing{"Alpha", "Beta", "Gamma"};
        const QVariantList order{QString("Beta"), QString("Ghost"), QString("Alpha")};
        QTest::newRow("no plist: folders in name order") << QByteArray() << listing;
        QTest::newRow("order file decides, names without folders kept")
            << PropertyList::toData(order) << QStringList{"Beta", "Ghost", "Alpha"};
        QTest::newRow("other types left out")
            << PropertyList::toData(QVariantList{QString("Gamma"), 5, QVariantMap{{"a", 1}},
                                                 QVariantList{QString("Alpha")}, QString("Beta")})
            << QStringList{"Gamma", "Beta"};
        QTest::newRow("unsafe names left out")
            << PropertyList::toData(QVariantList{QString(".hidden"), QString("../Alpha"),
                                                 QString("a/b"), QString(""), QString("Alpha")})
            << QStringList{"Alpha"};
        QTest::newRow("empty array: no collections")
            << PropertyList::toData(QVariantList{}) << QStringList{};
    }

    void collectionNames()
    {
        QFETCH(QByteArray, plist);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        // Made out of order so that creation order does not explain the result.
        for (const char* name : {"Gamma", "Beta", ".hidden", "Alpha"})
            QVERIFY(QDir().mkpath(root.filePath(name)));
        QVERIFY(writeFile(root.filePath("Loose file.png"), "x"));
        if (!plist.isEmpty())
            QVERIFY(writeFile(root.filePath("collections.plist"), plist));
        QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()), expected);
    }

    void collectionFiltersFiles()
    {
        // Post masks and layouts lie beside their frames; only the frames are listed, and a
        // frame is found by its collection and name with or without its extension.
        QTemporaryDir root;
        const QString dir = root.filePath("Set");
        QVERIFY(QDir().mkpath(dir + "/Sub.png"));
        const QImage wide = solid(120, 80, Qt::white);
        QVERIFY(wide.save(dir + "/b Frame.png"));
        QVERIFY(solid(80, 120, Qt::white).save(dir + "/A Frame.jpg"));
        for (const char* name : {"A Frame_postmask.png", ".hidden.png"})
            QVERIFY(wide.save(dir + "/" + name));
        QVERIFY(wide.save(dir + "/Plain", "PNG"));
        QVERIFY(writeFile(dir + "/notes.txt", "hello"));
        QVERIFY(PropertyList::toFile(QVariantList{QString("x")}, dir + "/collections.plist"));
        const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 300 200\">"
                               "<rect width=\"300\" height=\"20\" fill=\"red\"/></svg>";
        for (const char* name : {"Film.svg", "Film_postmask.svg"})
            QVERIFY(writeFile(dir + "/" + name, svg));
        for (const char* name : {"Film_frame.plist", "Plain_frame.plist"})
            QVERIFY(writeFile(dir + "/" + name, "<plist><dict/></plist>"));
        const ThumbnailList list = FrameLibrary::collectionForFolder(dir);
        QCOMPARE(fileNames(list), (QStringList{"A Frame.jpg", "b Frame.png", "Film.svg", "Plain"}));
        QCOMPARE(list[0].path, dir + "/A Frame.jpg");
        QCOMPARE(list[0].image.size(), QSize(32, 48));
        // The drawing's thumbnail is drawn from it: red along its top over black.
        QVERIFY(qRed(list[2].image.pixel(36, 1)) > 200 && qRed(list[2].image.pixel(36, 30)) < 30);
        // The second read comes from the cache and lists neither "tncache" nor the post mask.
        QCOMPARE(fileNames(FrameLibrary::collectionForFolder(dir)), fileNames(list));
        QVERIFY(!QFileInfo::exists(dir + "/tncache/A Frame_postmask_png.jpg"));

        const QString none;
        QCOMPARE(FrameLibrary::frameForName("Set/Film", root.path(), none), dir + "/Film.svg");
        QCOMPARE(FrameLibrary::frameForName("Set/b Frame.png", none, root.path()),
                 dir + "/b Frame.png");
        for (const char* missing :
             {"Set/Film_frame", "Set/Nothing", "Set", "../Set/Film", "/Set/Film"})
            QVERIFY2(FrameLibrary::frameForName(missing, root.path(), none).isEmpty(), missing);

        const QString postFolder = root.filePath("Shapes_postmask");
        QVERIFY(QDir().mkpath(postFolder));
        QVERIFY(wide.save(postFolder + "/Heart.png"));
        QVERIFY(FrameLibrary::collectionForFolder(postFolder).isEmpty());
    }

    void collectionsForFoldersKeepsOrder()
    {
        // Frames of several collections are made together; each must land in its own list, in
        // order. A missing folder gives an empty list and is not created.
        QTemporaryDir root;
        const QStringList folders{root.filePath("C0"), root.filePath("Ghost"), root.filePath("C2")};
        for (const int c : {0, 2}) {
            QVERIFY(QDir().mkpath(folders[c]));
            for (int f = 0; f < 4; ++f)
                QVERIFY(solid(40 + 10 * f, 40, QColor(40 * c, 30 * f, 0))
                            .save(folders[c] + QString("/F%1.png").arg(f)));
        }
        const QList<ThumbnailList> all = FrameLibrary::collectionsForFolders(folders);
        QCOMPARE(all.size(), 3);
        QVERIFY(all[1].isEmpty());
        QVERIFY(!QFileInfo::exists(folders[1]));
        for (const int c : {0, 2}) {
            QCOMPARE(all[c].size(), 4);
            for (int f = 0; f < 4; ++f) {
                QCOMPARE(all[c][f].path, folders[c] + QString("/F%1.png").arg(f));
                QCOMPARE(all[c][f].image.width(), qRound((40 + 10 * f) * 48 / 40.0));
            }
        }
        // "My Frames" comes with the first use only; a file where the folder goes gives none.
        const QString folder = FrameLibrary::userFrameFolderIn(root.filePath("share"));
        QVERIFY(QDir(folder + "/My Frames").removeRecursively());
        QCOMPARE(FrameLibrary::userFrameFolderIn(root.filePath("share")), folder);
        QVERIFY(!QFileInfo::exists(folder + "/My Frames"));
        QVERIFY(QDir().mkpath(root.filePath("in the way")));
        QVERIFY(writeFile(root.filePath("in the way/" + QFileInfo(folder).fileName()), "x"));
        QVERIFY(FrameLibrary::userFrameFolderIn(root.filePath("in the way")).isEmpty());
    }

    void checkCollectionName_data()
    {
        using P = FrameLibrary::NameProblem;
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("expected");
        QTest::newRow("fine") << "Fêtes 2024" << int(P::None);
        QTest::newRow("blank") << "   " << int(P::Empty);
        QTest::newRow("backslash") << "a\\b" << int(P::Separator);
        QTest::newRow("dotdot") << ".." << int(P::Hidden);
        QTest::newRow("too long") << QString(256, 'x') << int(P::TooLong);
        QTest::newRow("file on disk") << "AFile" << int(P::Exists);
    }

    void checkCollectionName()
    {
        QFETCH(QString, name);
        QFETCH(int, expected);
        QTemporaryDir root;
        QVERIFY(writeFile(root.filePath("AFile"), "x"));
        QCOMPARE(int(FrameLibrary::checkCollectionName(name, {}, root.path())), expected);
    }

    void safeFileNameForUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* tag, const QString& url, const QString& expected) {
            QTest::newRow(tag) << "https://example.org" + url << expected;
        };
        row("plain", "/a/Old%20Film.png?size=2", "Old Film.png");
        row("encoded dot dot", "/a/%2E%2E", "Downloaded Frame");
        row("encoded slash", "/x%2F..%2F..%2Fevil.png", "evil.png");
        row("backslash", "/..%5C..%5Cx.png", "Downloaded Frame.png");
        row("control chars", "/a%0Ab.png", "ab.png");
        row("placeholder in the name", "/x%252.png", "x%2.png");
        row("very long", "/" + QString(300, 'y') + ".png", "Downloaded Frame.png");
    }

    void safeFileNameForUrl()
    {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        const QString name = FrameLibrary::safeFileNameForUrl(QUrl(url));
        QCOMPARE(name, expected);
        // A taken name gets a number before the extension, and stays in the folder.
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(name), "x"));
        const QFileInfo info(name);
        const QString ext = info.suffix().isEmpty() ? QString() : "." + info.suffix();
        QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), name),
                 dir.filePath(info.completeBaseName() + "-1" + ext));
    }

    void updateCollectionOrder_data()
    {
        QTest::addColumn<QString>("oldName");
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QStringList>("expected");
        auto row = [](const char* tag, const QString& from, const QString& to,
                      QStringList expected) { QTest::newRow(tag) << from << to << expected; };
        row("create appends", "", "Delta", {"Beta", "Alpha", "Delta"});
        row("rename in place", "Beta", "Gamma", {"Gamma", "Alpha"});
        row("remove", "Beta", "", {"Alpha"});
        row("no duplicate", "", "Alpha", {"Beta", "Alpha"});
    }

    void updateCollectionOrder()
    {
        QFETCH(QString, oldName);
        QFETCH(QString, newName);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        for (const char* name : {"Alpha", "Beta", "Gamma", "Delta"})
            QVERIFY(QDir().mkpath(root.filePath(name)));
        QVERIFY(PropertyList::toFile(QVariantList{QString("Beta"), QString("Alpha")},
                                     root.filePath("collections.plist"), true));
        QVERIFY(FrameLibrary::updateCollectionOrder(root.path(), oldName, newName));
        QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()), expected);

        // Without an order file none is made; a garbage one is left as it is.
        QTemporaryDir bare;
        QVERIFY(FrameLibrary::updateCollectionOrder(bare.path(), oldName, newName));
        QVERIFY(!QFileInfo::exists(bare.filePath("collections.plist")));
        QVERIFY(writeFile(bare.filePath("collections.plist"), "garbage"));
        QVERIFY(FrameLibrary::updateCollectionOrder(bare.path(), oldName, newName));
        QFile garbage(bare.filePath("collections.plist"));
        QVERIFY(garbage.open(QIODevice::ReadOnly));
        QCOMPARE(garbage.readAll(), QByteArray("garbage"));
    }

    void loadFrame_data()
    {
        QTest::addColumn<QString>("frame"); // under the test folder; empty: no frame
        QTest::addColumn<QString>("mask");  // where its post mask lies
        QTest::addColumn<FrameFile>("frameFile");
        QTest::addColumn<MaskFile>("maskFile");
        QTest::addColumn<bool>("flip");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("layout"); // the "_frame.plist", none when empty
        QTest::addColumn<int>("left");          // the layout's left inset after the flip; -1: none
        auto row = [](const char* tag, const QString& frame, const QString& mask,
                      FrameFile frameFile, MaskFile maskFile, bool flip, bool ok,
                      const QByteArray& layout = {}, int left = -1) {
            QTest::newRow(tag) << frame << mask << frameFile << maskFile << flip << ok << layout
                               << left;
        };
        using F = FrameFile;
        using M = MaskFile;
        const QByteArray insets = "<plist><dict><key>Insets</key><dict><key>Left</key><integer>10"
                                  "</integer><key>Right</key><integer>4</integer></dict></dict>"
                                  "</plist>";
        row("no frame", "", "", F::None, M::None, true, true);
        row("without post mask", "Gold.png", "Gold_postmask.png", F::Png, M::None, false, true);
        row("two dots, flipped, layout", "Old.Gold.png", "Old.Gold_postmask.png", F::Png, M::Good,
            true, true, insets, 4);
        row("dot in the folder", "a.b/frame", "a.b/frame_postmask.png", F::Png, M::Good, false,
            true);
        row("turned JPEG, flipped", "T.jpeg", "T_postmask.png", F::TurnedJpeg, M::Good, true, true);
        row("unreadable post mask", "Star.png", "Star_postmask.png", F::Png, M::Broken, false,
            false);
        row("missing frame", "Gone.png", "Gone_postmask.png", F::None, M::Good, false, false);
        row("drawing, layout, flipped", "Film.svg", "Film_postmask.svg", F::Drawing, M::Drawing,
            true, true, insets, 4);
        row("layout not a property list", "Mat.png", "", F::Png, M::None, false, true,
            "\x00\x01garbage");
        row("insets wider than the frame", "Film.svg", "", F::Drawing, M::None, false, true,
            QByteArray(insets).replace(">10<", ">1199<"));
        row("malformed drawing", "Broken.svg", "", F::BrokenDrawing, M::None, false, false, insets);
    }

    void loadFrame()
    {
        QFETCH(QString, frame);
        QFETCH(QString, mask);
        QFETCH(FrameFile, frameFile);
        QFETCH(MaskFile, maskFile);
        QFETCH(bool, flip);
        QFETCH(bool, ok);
        QFETCH(QByteArray, layout);
        QFETCH(int, left);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("a.b")));
        const QString framePath = frame.isEmpty() ? QString() : dir.filePath(frame);
        const QString maskPath = mask.isEmpty() ? QString() : dir.filePath(mask);
        const QString stem =
            QFileInfo(framePath).path() + "/" + QFileInfo(framePath).completeBaseName();

        const QImage frameImage = quadrants(0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff);
        const QImage maskImage = quadrants(0x00000000, 0xff000000, 0x80000000, 0x40000000);
        const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 800\">"
                               "<rect width=\"1200\" height=\"100\"/></svg>";
        if (frameFile == FrameFile::Png)
            QVERIFY(frameImage.save(framePath, "PNG"));
        if (frameFile == FrameFile::TurnedJpeg) {
            QVERIFY(frameImage.convertToFormat(QImage::Format_RGB32).save(framePath, "JPEG", 95));
            setTags(framePath, {{"Exif.Image.Orientation", "6"}});
        }
        if (frameFile == FrameFile::Drawing || frameFile == FrameFile::BrokenDrawing)
            QVERIFY(writeFile(framePath, frameFile == FrameFile::Drawing ? svg : svg.left(60)));
        if (maskFile == MaskFile::Good)
            QVERIFY(maskImage.save(maskPath, "PNG"));
        if (maskFile == MaskFile::Broken)
            QVERIFY(writeFile(maskPath, "not a picture"));
        if (maskFile == MaskFile::Drawing)
            QVERIFY(writeFile(maskPath, svg));
        if (!layout.isEmpty())
            QVERIFY(writeFile(stem + "_frame.plist", layout));

        FrameLibrary::LoadedFrame loaded{maskImage, maskImage, {}, {}, {}}; // must be replaced
        QString error;
        QCOMPARE(FrameLibrary::loadFrame(framePath, flip, &loaded, &error), ok);
        if (!ok) {
            QVERIFY(loaded.frame.isNull() && loaded.postMask.isNull() && !loaded.frameDrawing);
            const QString culprit = maskFile == MaskFile::Broken ? maskPath : framePath;
            QVERIFY2(error.startsWith(culprit + ": cannot read the"), qPrintable(error));
            return;
        }
        const bool drawn = frameFile == FrameFile::Drawing;
        QCOMPARE(loaded.frameDrawing != nullptr, drawn);
        if (drawn) {
            QCOMPARE(loaded.frameDrawing->size(), QSizeF(1200, 800));
            QCOMPARE(loaded.frameDrawing->isFlipped(), flip);
        }
        if (frameFile == FrameFile::None || drawn)
            QVERIFY(loaded.frame.isNull());
        else
            compareQuadrants(loaded.frame, frameImage, frameFile == FrameFile::TurnedJpeg, flip);
        QCOMPARE(loaded.postMaskDrawing != nullptr, maskFile == MaskFile::Drawing);
        if (maskFile == MaskFile::Drawing)
            QCOMPARE(loaded.postMaskDrawing->isFlipped(), flip);
        if (maskFile == MaskFile::Good)
            compareQuadrants(loaded.postMask, maskImage, false, flip);
        else
            QVERIFY(loaded.postMask.isNull());
        QCOMPARE(loaded.geometry.hasInsets, left >= 0);
        if (left >= 0)
            QCOMPARE(loaded.geometry.left, left);
    }

    void removeCollection_data()
    {
        QTest::addColumn<QString>("kind"); // what lies under the collection's name
        QTest::addColumn<bool>("ok");
        QTest::newRow("folder of frames") << "folder" << true;
        QTest::newRow("link to a folder elsewhere") << "link" << true;
        QTest::newRow("no user folder") << "no root" << false;
    }

    void removeCollection()
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
        QCOMPARE(
            FrameLibrary::removeCollection(kind == "no root" ? QString() : root, "Set", &error),
            ok);
        QCOMPARE(error.isEmpty(), ok);
        // Nothing left in hiding, and a link takes only itself.
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QCOMPARE(QDir(root).entryList(all), QStringList{"Other"});
        if (kind != "folder")
            QCOMPARE(QDir(elsewhere).entryList(all), (QStringList{"Frame.png", "tncache"}));
    }

    // The shipped frames.
    void shippedFrames_data()
    {
        QTest::addColumn<QString>("path");
        const QStringList collections = FrameLibrary::collectionNamesForFolder(Root);
        int rows = 0;
        for (const QString& collection : collections) {
            for (const QString& path :
                 FrameLibrary::frameCandidatesInFolder(Root + "/" + collection)) {
                QTest::newRow(qPrintable(collection + "/" + QFileInfo(path).fileName())) << path;
                ++rows;
            }
        }
        QVERIFY(rows > 30);
    }

    void shippedFrames()
    {
        QFETCH(QString, path);
        const QString name = QFileInfo(path).fileName();
        if (name.endsWith(OptionsSuffix)) {
            const QString frame = ownerOf(path.chopped(OptionsSuffix.size()));
            QVERIFY2(!frame.isEmpty(), "a frame property list without its frame");
            // Read as the program reads it, without a word against it.
            const QVariant root = PropertyList::fromFile(path);
            QStringList told;
            FrameGeometry::fromPropertyList(root, frameSize(frame), &told);
            QVERIFY(!root.toMap().isEmpty());
            QVERIFY2(told.isEmpty(), qPrintable(told.join('\n')));
            return;
        }
        const QSizeF size = frameSize(path);
        QVERIFY2(!size.isEmpty(), "unreadable");
        // A bitmap mask as large as its frame costs more memory than the photo it frames.
        if (!name.endsWith(QLatin1String(".svg")))
            QVERIFY2(std::max(size.width(), size.height()) >= 4000 &&
                         !ThumbnailCache::isPostMaskPath(path),
                     qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));
        if (ThumbnailCache::isPostMaskPath(path)) {
            // Pixel for unit the same size as its frame, so both are placed and sliced alike.
            QCOMPARE(size, frameSize(ownerOf(path.section("_postmask", 0, 0))));
            return;
        }
        QVERIFY2(!ThumbnailCache::readCacheImage(ThumbnailCache::cachePathForPath(path)).isNull(),
                 "no shipped thumbnail");
    }
};

QTEST_MAIN(TestFrameLibrary)
#include "test_frame_library.moc"
