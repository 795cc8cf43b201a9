#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"
#include "output/TestFiles.h"

#include "foundation/PropertyList.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// With an alpha channel: an alpha frame, shown in its own colours. (The shared helpers need
// widgets, which this program does without.)
QImage solid(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

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

} // namespace

class TestFrameLibrary : public QObject {
    Q_OBJECT
private slots:
    void thumbnailSize_data();
    void thumbnailSize();
    void cachePath_data();
    void cachePath();
    void thumbnailPixels();
    void cache_data();
    void cache();
    void collectionNames_data();
    void collectionNames();
    void collectionFiltersFiles();
    void badFramesLeftOut_data();
    void badFramesLeftOut();
    void collectionsForFoldersKeepsOrder();
    void userFrameFolder();
    void checkCollectionName_data();
    void checkCollectionName();
    void safeFileNameForUrl_data();
    void safeFileNameForUrl();
    void updateCollectionOrder_data();
    void updateCollectionOrder();
};

void TestFrameLibrary::thumbnailSize_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("landscape 1200x800") << QSize(1200, 800) << QSize(72, 48);
    QTest::newRow("portrait 800x1200") << QSize(800, 1200) << QSize(32, 48);
    QTest::newRow("half rounds up") << QSize(97, 96) << QSize(49, 48);
    QTest::newRow("thinner than a pixel") << QSize(1, 100) << QSize();
    QTest::newRow("wider: capped") << QSize(5000, 100) << QSize(384, 48);
}

void TestFrameLibrary::thumbnailSize()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, expected);
    QCOMPARE(ThumbnailCache::thumbnailSizeForImageSize(frame), expected);
    if (expected.isValid())
        QCOMPARE(
            ThumbnailCache::thumbnailImageForImage(solid(frame.width(), frame.height(), Qt::white))
                .size(),
            expected);
}

void TestFrameLibrary::cachePath_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* tag, const QString& frame, const QString& expected) {
        QTest::newRow(tag) << frame << expected;
    };
    row("jpg apart from png", "/r/C/Oval.jpg", "/r/C/tncache/Oval_jpg.jpg");
    row("no extension", "/r/C/Oval", "/r/C/tncache/Oval_.jpg");
}

void TestFrameLibrary::cachePath()
{
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    QCOMPARE(ThumbnailCache::cachePathForPath(frame), expected);
}

void TestFrameLibrary::thumbnailPixels()
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

    // A 5000x100 strip, red at its left end and blue at its right, fits whole into the
    // widest box, 384x48: a band 384 * 100 / 5000 = 7.7 pixels high, rows 20 to 27.
    QImage strip = solid(5000, 100, Qt::white);
    QPainter(&strip).fillRect(0, 0, 200, 100, Qt::red);
    QPainter(&strip).fillRect(4800, 0, 200, 100, Qt::blue);
    const QString stripPath = dir.filePath("Strip.png");
    QVERIFY(strip.save(stripPath));
    for (int pass = 0; pass < 2; ++pass) { // made, then read from the cache
        const QImage band = ThumbnailCache::thumbnailImageForPath(stripPath);
        QCOMPARE(band.size(), QSize(384, 48));
        QVERIFY(qRed(band.pixel(3, 23)) > 200 && qBlue(band.pixel(3, 23)) < 60);
        QVERIFY(qBlue(band.pixel(380, 23)) > 200 && qRed(band.pixel(380, 23)) < 60);
        QVERIFY(qGray(band.pixel(192, 21)) > 200 && qGray(band.pixel(192, 26)) > 200);
        QVERIFY(qGray(band.pixel(192, 17)) < 30 && qGray(band.pixel(192, 30)) < 30);
    }
}

void TestFrameLibrary::cache_data()
{
    QTest::addColumn<QByteArray>("cacheBytes"); // null: no cache file
    QTest::addColumn<int>("cacheAge");          // seconds the cache file is older than the frame
    QTest::addColumn<bool>("cacheShown");       // else made afresh from the frame
    const QByteArray stale = encoded(solid(72, 48, Qt::red), "JPEG");
    QTest::newRow("no cache") << QByteArray() << 0 << false;
    QTest::newRow("cache is used") << stale << -60 << true;
    QTest::newRow("frame edited since") << stale << 60 << false;
    QTest::newRow("empty file") << QByteArray("") << 0 << false;
    QTest::newRow("garbage") << QByteArray("this is not a jpeg at all") << 0 << false;
    QTest::newRow("truncated jpeg") << stale.left(40) << 0 << false;
    QTest::newRow("not thumbnail sized") << encoded(solid(300, 200, Qt::red), "JPEG") << 0 << false;
}

void TestFrameLibrary::cache()
{
    QFETCH(QByteArray, cacheBytes);
    QFETCH(int, cacheAge);
    QFETCH(bool, cacheShown);
    QTemporaryDir dir;
    const QString path = dir.filePath("Frame.png"), cache = dir.filePath("tncache/Frame_png.jpg");
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

void TestFrameLibrary::collectionNames_data()
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
    QTest::newRow("dictionary root") << PropertyList::toData(QVariantMap{{"Beta", 1}}) << listing;
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

void TestFrameLibrary::collectionNames()
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

void TestFrameLibrary::collectionFiltersFiles()
{
    QTemporaryDir dir;
    const QImage wide = solid(120, 80, Qt::white);
    QVERIFY(wide.save(dir.filePath("b Frame.png")));
    QVERIFY(solid(80, 120, Qt::white).save(dir.filePath("A Frame.jpg")));
    QVERIFY(wide.save(dir.filePath("A Frame_postmask.png")));
    QVERIFY(wide.save(dir.filePath("Plain"), "PNG"));
    QVERIFY(wide.save(dir.filePath(".hidden.png")));
    QVERIFY(writeFile(dir.filePath("notes.txt"), "hello"));
    QVERIFY(PropertyList::toFile(QVariantList{QString("x")}, dir.filePath("collections.plist")));
    QVERIFY(QDir().mkpath(dir.filePath("Sub.png")));
    const ThumbnailList list = FrameLibrary::collectionForFolder(dir.path());
    QCOMPARE(fileNames(list), (QStringList{"A Frame.jpg", "b Frame.png", "Plain"}));
    QCOMPARE(list[0].path, dir.filePath("A Frame.jpg"));
    QCOMPARE(list[0].image.size(), QSize(32, 48));
    // The second read comes from the cache and lists neither "tncache" nor the post mask.
    QCOMPARE(fileNames(FrameLibrary::collectionForFolder(dir.path())), fileNames(list));
    QVERIFY(!QFileInfo::exists(dir.filePath("tncache/A Frame_postmask_png.jpg")));

    const QString postFolder = dir.filePath("Shapes_postmask");
    QVERIFY(QDir().mkpath(postFolder));
    QVERIFY(wide.save(postFolder + "/Heart.png"));
    QVERIFY(FrameLibrary::collectionForFolder(postFolder).isEmpty());
}

void TestFrameLibrary::badFramesLeftOut_data()
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

void TestFrameLibrary::badFramesLeftOut()
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

void TestFrameLibrary::collectionsForFoldersKeepsOrder()
{
    // Frames of several collections are made together; each must land in its own list, in
    // order. A missing folder gives an empty list and is not created; so does an unreadable one.
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
    QFile::setPermissions(folders[2],
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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

void TestFrameLibrary::userFrameFolder()
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

void TestFrameLibrary::checkCollectionName_data()
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

void TestFrameLibrary::checkCollectionName()
{
    QFETCH(QString, name);
    QFETCH(int, expected);
    QTemporaryDir root;
    QVERIFY(writeFile(root.filePath("AFile"), "x"));
    QCOMPARE(int(FrameLibrary::checkCollectionName(name, {"Listed"}, root.path())), expected);
}

void TestFrameLibrary::safeFileNameForUrl_data()
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

void TestFrameLibrary::safeFileNameForUrl()
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

void TestFrameLibrary::updateCollectionOrder_data()
{
    QTest::addColumn<QString>("oldName");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QStringList>("expected");
    auto row = [](const char* tag, const QString& from, const QString& to, QStringList expected) {
        QTest::newRow(tag) << from << to << expected;
    };
    row("create appends", "", "Delta", {"Beta", "Alpha", "Delta"});
    row("rename in place", "Beta", "Gamma", {"Gamma", "Alpha"});
    row("remove", "Beta", "", {"Alpha"});
    row("no duplicate", "", "Alpha", {"Beta", "Alpha"});
}

void TestFrameLibrary::updateCollectionOrder()
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

QTEST_GUILESS_MAIN(TestFrameLibrary)
#include "test_frame_library.moc"
