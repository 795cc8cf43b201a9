#include "TestSupport.h"
#include "compositing/FrameGeometry.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "output/TestFiles.h"

#include "foundation/PropertyList.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <sys/stat.h>
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

// The shipped frame library: frames that stay sharp on a large photo (vector, or bitmaps big
// enough not to be enlarged much), frame property lists the program can use, thumbnails
// shipped with them, and a library small enough to ship.

const QString Root = QStringLiteral(VELLUMA_SOURCE_RESOURCES "/borders");
constexpr int MinBitmapSide = 4000;
constexpr qint64 MaxLibraryBytes = 10 * 1024 * 1024;
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

// The frame drawn small: SVG rendered, bitmaps decoded at a reduced size.
QImage smallFrame(const QString& path, QSizeF size)
{
    const QSize small = size.scaled(QSizeF(240, 240), Qt::KeepAspectRatio).toSize();
    if (path.endsWith(QLatin1String(".svg"))) {
        QImage image(small, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QSvgRenderer(path).render(&painter);
        return image;
    }
    QImageReader reader(path);
    reader.setScaledSize(small);
    return reader.read();
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

private:
private slots:
    void thumbnailSize_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("landscape 1200x800") << QSize(1200, 800) << QSize(72, 48);
        QTest::newRow("portrait 800x1200") << QSize(800, 1200) << QSize(32, 48);
        QTest::newRow("half rounds up") << QSize(97, 96) << QSize(49, 48);
        QTest::newRow("thinner than a pixel") << QSize(1, 100) << QSize();
        QTest::newRow("wider: capped") << QSize(5000, 100) << QSize(384, 48);
    }

    void thumbnailSize()
    {
        QFETCH(QSize, frame);
        QFETCH(QSize, expected);
        QCOMPARE(ThumbnailCache::thumbnailSizeForImageSize(frame), expected);
        if (expected.isValid())
            QCOMPARE(ThumbnailCache::thumbnailImageForImage(
                         solid(frame.width(), frame.height(), Qt::white))
                         .size(),
                     expected);
    }

    void thumbnailPixels()
    {
        // Left half opaque red, right half transparent: the right half comes out black, in the
        // image and in the cached JPEG.
        QImage frame(96, 96, QImage::Format_ARGB32);
        frame.fill(Qt::transparent);
        QPainter(&frame).fillRect(0, 0, 48, 96, QColor(255, 0, 0));
        const QImage thumb = ThumbnailCache::thumbnailImageForImage(frame);
        QVERIFY(!thumb.hasAlphaChannel());
        QCOMPARE(thumb.pixel(5, 20), qRgb(255, 0, 0));
        QCOMPARE(thumb.pixel(40, 20), qRgb(0, 0, 0));
        QTemporaryDir dir;
        const QString path = dir.filePath("Alpha.png");
        QVERIFY(frame.save(path));
        QCOMPARE(ThumbnailCache::thumbnailImageForPath(path).pixel(40, 20), qRgb(0, 0, 0));
        const QImage cached(ThumbnailCache::cachePathForPath(path));
        QVERIFY(qRed(cached.pixel(40, 20)) < 16 && qRed(cached.pixel(5, 20)) > 230);
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
        QTest::newRow("empty file") << QByteArray("") << 0 << false;
        QTest::newRow("garbage") << QByteArray("this is not a jpeg at all") << 0 << false;
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
        const QVariantList order{QString("Beta"), QString("Alpha")};
        QTest::newRow("no plist: folders in name order") << QByteArray() << listing;
        QTest::newRow("xml order decides")
            << PropertyList::toData(order) << QStringList{"Beta", "Alpha"};
        QTest::newRow("names without folders kept")
            << PropertyList::toData(QVariantList{QString("Ghost"), QString("Alpha")})
            << QStringList{"Ghost", "Alpha"};
        QTest::newRow("dictionary root")
            << PropertyList::toData(QVariantMap{{"Beta", 1}}) << listing;
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

    void badFramesLeftOut_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("special"); // fifo, a link to /dev/zero, a dangling link
        QTest::newRow("text") << QByteArray("not an image\n") << "";
        const QByteArray png = encoded(solid(200, 100, Qt::white), "PNG");
        QTest::newRow("truncated png") << png.left(png.size() / 2) << "";
        QTest::newRow("fifo") << QByteArray() << "fifo";
        QTest::newRow("link to /dev/zero") << QByteArray() << "zero";
        QTest::newRow("dangling link") << QByteArray() << "dangling";
    }

    void badFramesLeftOut()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, special);
        QTemporaryDir dir;
        const QString good = dir.filePath("Good.png"), bad = dir.filePath("Bad.png");
        QVERIFY(solid(60, 40, Qt::white).save(good));
        if (special == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
        else if (special == "zero")
            QVERIFY(QFile::link("/dev/zero", bad));
        else if (special == "dangling")
            QVERIFY(QFile::link(dir.filePath("nowhere.png"), bad));
        else
            QVERIFY(writeFile(bad, bytes));
        QCOMPARE(fileNames(FrameLibrary::collectionForFolder(dir.path())), QStringList{"Good.png"});
        QVERIFY(!QFileInfo::exists(dir.filePath("tncache/Bad_png.jpg")));
        // The header check that decides which dropped files are copied (a cut-off body passes it).
        if (QByteArray(QTest::currentDataTag()) != "truncated png")
            QVERIFY(!ThumbnailCache::isImageFile(bad));
        QVERIFY(ThumbnailCache::isImageFile(good));
        QVERIFY(!ThumbnailCache::isImageFile(dir.path()));
    }

    void collectionsForFoldersKeepsOrder()
    {
        // Frames of several collections are made together; each must land in its own list, in
        // order. A missing folder gives an empty list and is not created; so does an unreadable
        // one.
        QTemporaryDir root;
        QStringList folders;
        for (int c = 0; c < 3; ++c) {
            folders.append(root.filePath(QString("C%1").arg(c)));
            QVERIFY(QDir().mkpath(folders.last()));
            for (int f = 0; f < 4; ++f)
                QVERIFY(solid(40 + 10 * f, 40, QColor(40 * c, 30 * f, 0))
                            .save(folders.last() + QString("/F%1.png").arg(f)));
        }
        folders.insert(1, root.filePath("Ghost"));
        const bool asRoot = ::geteuid() == 0; // permissions do not bind root
        if (!asRoot)
            QVERIFY(QFile::setPermissions(folders[2], QFileDevice::Permissions()));
        const QList<ThumbnailList> all = FrameLibrary::collectionsForFolders(folders);
        QFile::setPermissions(folders[2], QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
        QCOMPARE(all.size(), 4);
        QVERIFY(all[1].isEmpty());
        QVERIFY(!QFileInfo::exists(root.filePath("Ghost")));
        QCOMPARE(all[2].size(), asRoot ? 4 : 0);
        for (int c : {0, 3}) {
            QCOMPARE(all[c].size(), 4);
            for (int f = 0; f < 4; ++f) {
                QCOMPARE(all[c][f].path, folders[c] + QString("/F%1.png").arg(f));
                QCOMPARE(all[c][f].image.width(), qRound((40 + 10 * f) * 48 / 40.0));
            }
        }
    }

    void userFrameFolder()
    {
        QTemporaryDir data;
        const QString dataFolder = data.filePath("share"); // not there yet
        const QString folder = FrameLibrary::userFrameFolderIn(dataFolder);
        QCOMPARE(folder, dataFolder + "/Velluma User Frames");
        QVERIFY(QFileInfo(folder + "/My Frames").isDir());
        // "My Frames" comes with the first use only.
        QVERIFY(QDir(folder + "/My Frames").removeRecursively());
        QCOMPARE(FrameLibrary::userFrameFolderIn(dataFolder), folder);
        QVERIFY(!QFileInfo::exists(folder + "/My Frames"));
        // A file where the folder should be.
        QVERIFY(writeFile(data.filePath("Velluma User Frames"), "in the way"));
        QVERIFY(FrameLibrary::userFrameFolderIn(data.path()).isEmpty());
        QVERIFY(FrameLibrary::collectionNamesForFolder(QString()).isEmpty());
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
        QTest::newRow("hidden") << ".secret" << int(P::Hidden);
        QTest::newRow("too long") << QString(256, 'x') << int(P::TooLong);
        QTest::newRow("listed") << "Listed" << int(P::Exists);
        QTest::newRow("file on disk") << "AFile" << int(P::Exists);
    }

    void checkCollectionName()
    {
        QFETCH(QString, name);
        QFETCH(int, expected);
        QTemporaryDir root;
        QVERIFY(writeFile(root.filePath("AFile"), "x"));
        QCOMPARE(int(FrameLibrary::checkCollectionName(name, {"Listed"}, root.path())), expected);
    }

    void safeFileNameForUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* tag, const QString& url, const QString& expected) {
            QTest::newRow(tag) << "https://example.org" + url << expected;
        };
        row("plain", "/a/Old%20Film.png?size=2", "Old Film.png");
        row("empty last component", "/frames/", "Downloaded Frame");
        row("encoded dot dot", "/a/%2E%2E", "Downloaded Frame");
        row("encoded slash", "/x%2F..%2F..%2Fevil.png", "evil.png");
        row("hidden", "/.bashrc", "Downloaded Frame");
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
        QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), name), dir.filePath(name));
        QVERIFY(writeFile(dir.filePath(name), "x"));
        const QFileInfo info(name);
        const QString ext = info.suffix().isEmpty() ? QString() : "." + info.suffix();
        QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), name),
                 dir.filePath(info.completeBaseName() + "-1" + ext));
        QVERIFY(writeFile(dir.filePath(info.completeBaseName() + "-1" + ext), "x"));
        QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), name),
                 dir.filePath(info.completeBaseName() + "-2" + ext));
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
        QTest::addColumn<QString>("mask");  // where its post mask belongs
        QTest::addColumn<FrameFile>("frameFile");
        QTest::addColumn<MaskFile>("maskFile");
        QTest::addColumn<bool>("flip");
        QTest::addColumn<bool>("ok");
        auto row = [](const char* tag, const QString& frame, const QString& mask,
                      FrameFile frameFile, MaskFile maskFile, bool flip, bool ok) {
            QTest::newRow(tag) << frame << mask << frameFile << maskFile << flip << ok;
        };
        using F = FrameFile;
        using M = MaskFile;
        row("no frame", "", "", F::None, M::None, true, true);
        row("without post mask", "Gold.png", "Gold_postmask.png", F::Png, M::None, false, true);
        row("two dots, flipped", "Old.Gold.png", "Old.Gold_postmask.png", F::Png, M::Good, true,
            true);
        row("dot in the folder", "a.b/frame", "a.b/frame_postmask.png", F::Png, M::Good, false,
            true);
        row("leading dot", ".frame", ".frame_postmask.png", F::Png, M::Good, true, true);
        row("turned JPEG", "Turned.jpg", "Turned_postmask.png", F::TurnedJpeg, M::Good, false,
            true);
        row("turned JPEG, flipped", "T.jpeg", "T_postmask.png", F::TurnedJpeg, M::Good, true, true);
        row("unreadable post mask", "Star.png", "Star_postmask.png", F::Png, M::Broken, false,
            false);
        row("missing frame", "Gone.png", "Gone_postmask.png", F::None, M::Good, false, false);
    }

    void loadFrame()
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

    void removeCollection_data()
    {
        QTest::addColumn<QString>("kind"); // what lies under the collection's name
        QTest::addColumn<bool>("ok");
        QTest::newRow("folder of frames") << "folder" << true;
        QTest::newRow("link to a folder elsewhere") << "link" << true;
        QTest::newRow("nothing") << "" << true;
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

    void drawingsAndLayouts_data()
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
        QTest::newRow("drawing, layout, flipped")
            << "Film.svg" << insets << true << true << true << 40;
        QTest::newRow("bitmap, layout") << "Mat.png" << insets << false << false << true << 100;
        QTest::newRow("layout not a property list")
            << "Mat.png" << QByteArray("\x00\x01garbage") << false << false << true << -1;
        QTest::newRow("insets wider than the frame")
            << "Film.svg" << QByteArray(insets).replace("100", "1190") << false << false << true
            << -1;
        QTest::newRow("malformed drawing")
            << "Broken.svg" << insets << false << false << false << -1;
    }

    void drawingsAndLayouts()
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
            QVERIFY(quadrants(0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff)
                        .scaled(1200, 800)
                        .save(path));
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
        if (!name.endsWith(QLatin1String(".svg")))
            QVERIFY2(std::max(size.width(), size.height()) >= MinBitmapSide,
                     qPrintable(QString("%1 x %2").arg(size.width()).arg(size.height())));
        if (ThumbnailCache::isPostMaskPath(path)) {
            // Pixel for unit the same size as its frame, so both are placed and sliced alike.
            const QString frame = ownerOf(path.section("_postmask", 0, 0));
            QVERIFY2(!frame.isEmpty(), "a post mask without its frame");
            QCOMPARE(size, frameSize(frame));
            // A bitmap mask as large as its frame costs more memory than the photo it frames.
            QVERIFY2(name.endsWith(QLatin1String(".svg")), "a bitmap post mask");
            // The photo is cut somewhere, but not in the middle.
            const QImage mask = smallFrame(path, size).convertToFormat(QImage::Format_Alpha8);
            QCOMPARE(int(mask.constScanLine(mask.height() / 2)[mask.width() / 2]), 0);
            int cut = 0;
            for (int y = 0; y < mask.height(); ++y)
                cut = std::max(cut, int(*std::max_element(mask.constScanLine(y),
                                                          mask.constScanLine(y) + mask.width())));
            QCOMPARE(cut, 255);
            return;
        }
        QVERIFY2(!ThumbnailCache::readCacheImage(ThumbnailCache::cachePathForPath(path)).isNull(),
                 "no shipped thumbnail");
        const QImage frame = smallFrame(path, size);
        const QPoint centre(frame.width() / 2, frame.height() / 2);
        if (frame.hasAlphaChannel()) {
            // The photo shows through the middle, under a light wash at most.
            QVERIFY2(qAlpha(frame.pixel(centre)) <= 51,
                     qPrintable(QString::number(qAlpha(frame.pixel(centre)))));
            return;
        }
        // Masks: dark middle (the photo), bright along the edge (the frame).
        QVERIFY(qGray(frame.pixel(centre)) < 40);
        QVERIFY(std::max({qGray(frame.pixel(0, centre.y())), qGray(frame.pixel(centre.x(), 0)),
                          qGray(frame.pixel(0, 0))}) > 150);
    }

    void shippedLibrarySize()
    {
        qint64 total = 0;
        QDirIterator it(Root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            total += QFileInfo(it.next()).size();
        QVERIFY2(total < MaxLibraryBytes, qPrintable(QString::number(total)));
    }
};

QTEST_MAIN(TestFrameLibrary)
#include "test_frame_library.moc"
