#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"

#include "foundation/PropertyList.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void makeFolder(const QString& path)
{
    QVERIFY(QDir().mkpath(path));
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QImage solid(int w, int h, QColor color, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(w, h, format);
    image.fill(color);
    return image;
}

void saveImage(const QImage& image, const QString& path)
{
    QVERIFY2(image.save(path), qPrintable(path));
}

QStringList fileNames(const ThumbnailList& list)
{
    QStringList names;
    for (const ThumbnailEntry& e : list)
        names.append(QFileInfo(e.path).fileName());
    return names;
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xffffffffu;
    for (const char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A real PNG whose header claims the given size: readers learn the size without decoding.
QByteArray pngClaimingSize(quint32 w, quint32 h)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    solid(4, 4, Qt::white).save(&buffer, "PNG");
    // Signature (8), length (4), "IHDR" (4), then width and height.
    auto put = [&png](int at, quint32 v) {
        png[at] = char(v >> 24);
        png[at + 1] = char(v >> 16);
        png[at + 2] = char(v >> 8);
        png[at + 3] = char(v);
    };
    put(16, w);
    put(20, h);
    put(29, crc32(png.mid(12, 17)));
    return png;
}

} // namespace

class TestFrameLibrary : public QObject {
    Q_OBJECT
private slots:
    void thumbnailSize_data();
    void thumbnailSize();
    void cachePath_data();
    void cachePath();
    void thumbnailPixelsOverBlack();
    void thumbnailOfMaskAveragesBorders();
    void cacheIsWrittenAndUsed();
    void corruptCacheIsRebuilt_data();
    void corruptCacheIsRebuilt();
    void collectionNames_data();
    void collectionNames();
    void plistNamesMissingFolderGiveEmptyCollection();
    void collectionFiltersFiles();
    void collectionLeavesOutBadFrames_data();
    void collectionLeavesOutBadFrames();
    void postMaskFolderGivesNoEntries();
    void specialFilesDoNotHang();
    void unreadableFolderIsEmpty();
    void collectionsForFoldersKeepsOrder();
    void userFrameFolderFirstUseOnly();
    void userFrameFolderThatIsAFile();
    void checkCollectionName_data();
    void checkCollectionName();
    void safeFileNameForUrl_data();
    void safeFileNameForUrl();
    void uniqueDestinationPath();
    void isImageFile_data();
    void isImageFile();
    void builtinLibrary();
    void updateCollectionOrder_data();
    void updateCollectionOrder();
};

void TestFrameLibrary::thumbnailSize_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("landscape 1200x800") << QSize(1200, 800) << QSize(72, 48);
    QTest::newRow("portrait 800x1200") << QSize(800, 1200) << QSize(32, 48);
    QTest::newRow("square") << QSize(1000, 1000) << QSize(48, 48);
    QTest::newRow("half rounds up") << QSize(97, 96) << QSize(49, 48);
    QTest::newRow("below half rounds down") << QSize(1001, 1000) << QSize(48, 48);
    QTest::newRow("tall sliver keeps one pixel") << QSize(1, 40) << QSize(1, 48);
    QTest::newRow("thinner than a pixel") << QSize(1, 100) << QSize();
    QTest::newRow("zero width") << QSize(0, 100) << QSize();
    QTest::newRow("zero height") << QSize(100, 0) << QSize();
    QTest::newRow("absurdly wide") << QSize(100000, 10) << QSize();
}

void TestFrameLibrary::thumbnailSize()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, expected);
    QCOMPARE(ThumbnailCache::thumbnailSizeForImageSize(frame), expected);
    if (expected.isValid() && frame.width() <= 2000 && frame.height() <= 2000) {
        const QImage thumb =
            ThumbnailCache::thumbnailImageForImage(solid(frame.width(), frame.height(), Qt::white));
        QCOMPARE(thumb.size(), expected);
    }
}

void TestFrameLibrary::cachePath_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("expected");
    QTest::newRow("png") << "/r/Classic/Oval.png"
                         << "/r/Classic/tncache/Oval_png.jpg";
    QTest::newRow("jpg apart from png") << "/r/Classic/Oval.jpg"
                                        << "/r/Classic/tncache/Oval_jpg.jpg";
    QTest::newRow("tif") << "/r/Classic/Oval.tif"
                         << "/r/Classic/tncache/Oval_tif.jpg";
    QTest::newRow("no extension") << "/r/Classic/Oval"
                                  << "/r/Classic/tncache/Oval_.jpg";
    QTest::newRow("last extension only") << "/r/C/Gold.Oval.png"
                                         << "/r/C/tncache/Gold.Oval_png.jpg";
    QTest::newRow("spaces") << "/r/My Frames/Old Film.png"
                            << "/r/My Frames/tncache/Old Film_png.jpg";
}

void TestFrameLibrary::cachePath()
{
    QFETCH(QString, frame);
    QFETCH(QString, expected);
    QCOMPARE(ThumbnailCache::cachePathForPath(frame), expected);
}

void TestFrameLibrary::thumbnailPixelsOverBlack()
{
    // Left half opaque red, right half fully transparent: the right half must come out black.
    QImage frame(96, 96, QImage::Format_ARGB32);
    frame.fill(Qt::transparent);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 48; ++x)
            frame.setPixel(x, y, qRgba(255, 0, 0, 255));
    const QImage thumb = ThumbnailCache::thumbnailImageForImage(frame);
    QCOMPARE(thumb.size(), QSize(48, 48));
    QVERIFY(!thumb.hasAlphaChannel());
    QCOMPARE(thumb.pixel(5, 20), qRgb(255, 0, 0));
    QCOMPARE(thumb.pixel(40, 20), qRgb(0, 0, 0));
    // Half-transparent white over black is mid gray.
    QImage half(48, 48, QImage::Format_ARGB32);
    half.fill(qRgba(255, 255, 255, 128));
    const QImage grey = ThumbnailCache::thumbnailImageForImage(half);
    QVERIFY(qAbs(qRed(grey.pixel(24, 24)) - 128) <= 1);

    // The cached JPEG carries the same black.
    QTemporaryDir dir;
    const QString path = dir.filePath("Alpha.png");
    saveImage(frame, path);
    const QImage made = ThumbnailCache::thumbnailImageForPath(path);
    QCOMPARE(made.pixel(40, 20), qRgb(0, 0, 0));
    const QImage cached(ThumbnailCache::cachePathForPath(path));
    QCOMPARE(cached.size(), QSize(48, 48));
    QVERIFY(qRed(cached.pixel(40, 20)) < 16 && qGreen(cached.pixel(40, 20)) < 16);
    QVERIFY(qRed(cached.pixel(5, 20)) > 230);
}

void TestFrameLibrary::thumbnailOfMaskAveragesBorders()
{
    // A 1200x800 gray mask with a 30-pixel white border: every thumbnail edge pixel must
    // keep part of the border instead of dropping it between samples.
    QImage mask(1200, 800, QImage::Format_Grayscale8);
    mask.fill(255);
    {
        QPainter p(&mask);
        p.fillRect(30, 30, 1140, 740, Qt::black);
    }
    const QImage thumb = ThumbnailCache::thumbnailImageForImage(mask);
    QCOMPARE(thumb.size(), QSize(72, 48));
    QVERIFY(qGray(thumb.pixel(0, 24)) > 150);
    QVERIFY(qGray(thumb.pixel(36, 0)) > 150);
    QVERIFY(qGray(thumb.pixel(71, 24)) > 150);
    QVERIFY(qGray(thumb.pixel(36, 47)) > 150);
    QCOMPARE(qGray(thumb.pixel(36, 24)), 0);
}

void TestFrameLibrary::cacheIsWrittenAndUsed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Oval.png");
    const QString other = dir.filePath("Oval.jpg");
    saveImage(solid(1200, 800, Qt::white), path);
    saveImage(solid(800, 1200, Qt::white), other);
    QCOMPARE(ThumbnailCache::thumbnailImageForPath(path).size(), QSize(72, 48));
    QCOMPARE(ThumbnailCache::thumbnailImageForPath(other).size(), QSize(32, 48));
    const QString cache = dir.filePath("tncache/Oval_png.jpg");
    QVERIFY(QFileInfo::exists(cache));
    QVERIFY(QFileInfo::exists(dir.filePath("tncache/Oval_jpg.jpg")));
    QCOMPARE(QImageReader(cache).format(), QByteArray("jpeg"));

    // Replacing the frame without touching the cache keeps the old thumbnail.
    saveImage(solid(1200, 800, Qt::blue), path);
    QImage shown = ThumbnailCache::thumbnailImageForPath(path);
    QVERIFY(qBlue(shown.pixel(36, 24)) > 230 && qRed(shown.pixel(36, 24)) > 230);
    // Deleting the cache folder shows the new one and writes it again.
    QVERIFY(QDir(dir.filePath("tncache")).removeRecursively());
    shown = ThumbnailCache::thumbnailImageForPath(path);
    QVERIFY(qBlue(shown.pixel(36, 24)) > 230 && qRed(shown.pixel(36, 24)) < 20);
    QVERIFY(QFileInfo::exists(cache));
    // The cache is read before the frame: a cache beside a vanished frame still answers.
    QVERIFY(QFile::remove(path));
    QVERIFY(!ThumbnailCache::thumbnailImageForPath(path).isNull());
}

void TestFrameLibrary::corruptCacheIsRebuilt_data()
{
    QTest::addColumn<QByteArray>("cacheBytes");
    QTest::newRow("garbage") << QByteArray("this is not a jpeg at all");
    QTest::newRow("empty") << QByteArray();
    QByteArray truncated;
    {
        QBuffer b(&truncated);
        b.open(QIODevice::WriteOnly);
        solid(72, 48, Qt::red).save(&b, "JPEG");
    }
    QTest::newRow("truncated jpeg") << truncated.left(40);
    QByteArray wrongSize;
    {
        QBuffer b(&wrongSize);
        b.open(QIODevice::WriteOnly);
        solid(300, 200, Qt::red).save(&b, "JPEG");
    }
    QTest::newRow("not thumbnail sized") << wrongSize;
}

void TestFrameLibrary::corruptCacheIsRebuilt()
{
    QFETCH(QByteArray, cacheBytes);
    QTemporaryDir dir;
    const QString path = dir.filePath("Frame.png");
    saveImage(solid(1200, 800, Qt::green), path);
    makeFolder(dir.filePath("tncache"));
    writeBytes(ThumbnailCache::cachePathForPath(path), cacheBytes);
    const QImage thumb = ThumbnailCache::thumbnailImageForPath(path);
    QCOMPARE(thumb.size(), QSize(72, 48));
    QVERIFY(qGreen(thumb.pixel(10, 10)) > 230 && qRed(thumb.pixel(10, 10)) < 20);
    const QImage rewritten(ThumbnailCache::cachePathForPath(path));
    QCOMPARE(rewritten.size(), QSize(72, 48));
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
    QTest::newRow("binary order decides")
        << PropertyList::toData(order, true) << QStringList{"Beta", "Alpha"};
    QTest::newRow("garbage") << QByteArray("\x01\x02garbage\xff", 11) << listing;
    QTest::newRow("truncated") << PropertyList::toData(order).left(60) << listing;
    QTest::newRow("dictionary root") << PropertyList::toData(QVariantMap{{"Beta", 1}}) << listing;
    QTest::newRow("string root") << PropertyList::toData(QString("Beta")) << listing;
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
    // Created out of order so that creation order does not explain the result.
    for (const char* name : {"Gamma", "Beta", ".hidden", "Alpha"})
        makeFolder(root.filePath(name));
    writeBytes(root.filePath("Loose file.png"), "x");
    if (!plist.isEmpty())
        writeBytes(root.filePath("collections.plist"), plist);
    QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()), expected);
}

void TestFrameLibrary::plistNamesMissingFolderGiveEmptyCollection()
{
    QTemporaryDir root;
    makeFolder(root.filePath("Alpha"));
    saveImage(solid(30, 20, Qt::white), root.filePath("Alpha/a.png"));
    QVERIFY(PropertyList::toFile(QVariantList{QString("Ghost"), QString("Alpha")},
                                 root.filePath("collections.plist")));
    const QStringList names = FrameLibrary::collectionNamesForFolder(root.path());
    QCOMPARE(names, (QStringList{"Ghost", "Alpha"}));
    const QList<ThumbnailList> lists =
        FrameLibrary::collectionsForFolders({root.filePath("Ghost"), root.filePath("Alpha")});
    QCOMPARE(lists.size(), 2);
    QVERIFY(lists[0].isEmpty());
    QCOMPARE(fileNames(lists[1]), QStringList{"a.png"});
    QVERIFY(!QFileInfo::exists(root.filePath("Ghost")));
}

void TestFrameLibrary::collectionFiltersFiles()
{
    QTemporaryDir dir;
    saveImage(solid(120, 80, Qt::white), dir.filePath("b Frame.png"));
    saveImage(solid(80, 120, Qt::white), dir.filePath("A Frame.jpg"));
    saveImage(solid(120, 80, Qt::white), dir.filePath("A Frame_postmask.png"));
    QVERIFY(solid(120, 80, Qt::white).save(dir.filePath("Plain"), "PNG"));
    saveImage(solid(120, 80, Qt::white), dir.filePath(".hidden.png"));
    writeBytes(dir.filePath("notes.txt"), "hello");
    QVERIFY(PropertyList::toFile(QVariantList{QString("x")}, dir.filePath("collections.plist")));
    makeFolder(dir.filePath("Sub.png"));
    const ThumbnailList list = FrameLibrary::collectionForFolder(dir.path());
    QCOMPARE(fileNames(list), (QStringList{"A Frame.jpg", "b Frame.png", "Plain"}));
    QCOMPARE(list[0].image.size(), QSize(32, 48));
    QCOMPARE(list[1].image.size(), QSize(72, 48));
    QCOMPARE(list[0].path, dir.filePath("A Frame.jpg"));
    // A second read (now from the cache) neither lists "tncache" nor changes the result.
    QVERIFY(QFileInfo(dir.filePath("tncache")).isDir());
    QCOMPARE(fileNames(FrameLibrary::collectionForFolder(dir.path())), fileNames(list));
    QVERIFY(!QFileInfo::exists(dir.filePath("tncache/A Frame_postmask_png.jpg")));
}

void TestFrameLibrary::collectionLeavesOutBadFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("zero-size file") << QByteArray();
    QTest::newRow("text with image name") << QByteArray("not an image\n");
    QByteArray png;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        solid(200, 100, Qt::white).save(&b, "PNG");
    }
    QTest::newRow("truncated png") << png.left(png.size() / 2);
    QTest::newRow("huge claimed size") << pngClaimingSize(100000, 100000);
    QTest::newRow("zero width claimed") << pngClaimingSize(0, 100);
}

void TestFrameLibrary::collectionLeavesOutBadFrames()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    saveImage(solid(60, 40, Qt::white), dir.filePath("Good.png"));
    writeBytes(dir.filePath("Bad.png"), bytes);
    const ThumbnailList list = FrameLibrary::collectionForFolder(dir.path());
    QCOMPARE(fileNames(list), QStringList{"Good.png"});
    QVERIFY(!QFileInfo::exists(dir.filePath("tncache/Bad_png.jpg")));
}

void TestFrameLibrary::postMaskFolderGivesNoEntries()
{
    QTemporaryDir root;
    const QString folder = root.filePath("Shapes_postmask");
    makeFolder(folder);
    saveImage(solid(60, 40, Qt::white), folder + "/Heart.png");
    QVERIFY(FrameLibrary::collectionForFolder(folder).isEmpty());
}

void TestFrameLibrary::specialFilesDoNotHang()
{
    QTemporaryDir dir;
    saveImage(solid(60, 40, Qt::white), dir.filePath("Good.png"));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("Pipe.png")).constData(), 0600), 0);
    QVERIFY(QFile::link("/dev/zero", dir.filePath("Zero.png")));
    QVERIFY(QFile::link(dir.filePath("nowhere.png"), dir.filePath("Dangling.png")));
    const ThumbnailList list = FrameLibrary::collectionForFolder(dir.path());
    QCOMPARE(fileNames(list), QStringList{"Good.png"});
    QVERIFY(!ThumbnailCache::isImageFile(dir.filePath("Pipe.png")));
}

void TestFrameLibrary::unreadableFolderIsEmpty()
{
    if (::geteuid() == 0)
        QSKIP("permissions do not bind root");
    QTemporaryDir root;
    makeFolder(root.filePath("Locked"));
    saveImage(solid(60, 40, Qt::white), root.filePath("Locked/a.png"));
    QVERIFY(QFile::setPermissions(root.filePath("Locked"), QFileDevice::Permissions()));
    QVERIFY(FrameLibrary::collectionForFolder(root.filePath("Locked")).isEmpty());
    QFile::setPermissions(root.filePath("Locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestFrameLibrary::collectionsForFoldersKeepsOrder()
{
    QTemporaryDir root;
    QStringList folders;
    for (int c = 0; c < 4; ++c) {
        const QString folder = root.filePath(QString("C%1").arg(c));
        makeFolder(folder);
        folders.append(folder);
        for (int f = 0; f < 6; ++f)
            saveImage(solid(40 + 10 * f, 40, QColor(40 * c, 30 * f, 0)),
                      folder + QString("/F%1.png").arg(f));
    }
    const QList<ThumbnailList> all = FrameLibrary::collectionsForFolders(folders);
    QCOMPARE(all.size(), 4);
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(fileNames(all[c]),
                 (QStringList{"F0.png", "F1.png", "F2.png", "F3.png", "F4.png", "F5.png"}));
        for (int f = 0; f < 6; ++f) {
            QCOMPARE(all[c][f].image.width(), qRound((40 + 10 * f) * 48 / 40.0));
            QCOMPARE(all[c][f].path, folders[c] + QString("/F%1.png").arg(f));
        }
    }
}

void TestFrameLibrary::userFrameFolderFirstUseOnly()
{
    QTemporaryDir data;
    const QString dataFolder = data.filePath("share"); // not there yet
    const QString folder = FrameLibrary::userFrameFolderIn(dataFolder);
    QCOMPARE(folder, dataFolder + "/Velluma User Frames");
    QVERIFY(QFileInfo(folder + "/My Frames").isDir());
    QVERIFY(QDir(folder + "/My Frames").removeRecursively());
    QCOMPARE(FrameLibrary::userFrameFolderIn(dataFolder), folder);
    QVERIFY(!QFileInfo::exists(folder + "/My Frames"));
    // The real location follows the XDG data home of the test's environment.
    QVERIFY(FrameLibrary::userFrameFolder().endsWith("/Velluma User Frames"));
}

void TestFrameLibrary::userFrameFolderThatIsAFile()
{
    QTemporaryDir data;
    writeBytes(data.filePath("Velluma User Frames"), "in the way");
    QVERIFY(FrameLibrary::userFrameFolderIn(data.path()).isEmpty());
    QVERIFY(FrameLibrary::collectionNamesForFolder(QString()).isEmpty());
    QVERIFY(FrameLibrary::collectionNamesForFolder(data.filePath("Velluma User Frames")).isEmpty());
}

void TestFrameLibrary::checkCollectionName_data()
{
    using P = FrameLibrary::NameProblem;
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::newRow("fine") << "Holidays" << int(P::None);
    QTest::newRow("unicode") << "Fêtes 2024" << int(P::None);
    QTest::newRow("empty") << "" << int(P::Empty);
    QTest::newRow("blank") << "   " << int(P::Empty);
    QTest::newRow("slash") << "a/b" << int(P::Separator);
    QTest::newRow("parent") << "../x" << int(P::Separator);
    QTest::newRow("backslash") << "a\\b" << int(P::Separator);
    QTest::newRow("dot") << ".secret" << int(P::Hidden);
    QTest::newRow("dotdot") << ".." << int(P::Hidden);
    QTest::newRow("too long") << QString(256, 'x') << int(P::TooLong);
    QTest::newRow("listed") << "Listed" << int(P::Exists);
    QTest::newRow("on disk only") << "OnDisk" << int(P::Exists);
    QTest::newRow("file on disk") << "AFile" << int(P::Exists);
}

void TestFrameLibrary::checkCollectionName()
{
    QFETCH(QString, name);
    QFETCH(int, expected);
    QTemporaryDir root;
    makeFolder(root.filePath("OnDisk"));
    writeBytes(root.filePath("AFile"), "x");
    QCOMPARE(int(FrameLibrary::checkCollectionName(name, {"Listed"}, root.path())), expected);
}

void TestFrameLibrary::safeFileNameForUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "https://example.org/frames/Gold.png"
                           << "Gold.png";
    QTest::newRow("encoded space") << "https://example.org/Old%20Film.png"
                                   << "Old Film.png";
    QTest::newRow("query ignored") << "https://example.org/a/b.jpg?size=2"
                                   << "b.jpg";
    QTest::newRow("empty last component") << "https://example.org/frames/"
                                          << "Downloaded Frame";
    QTest::newRow("no path") << "https://example.org"
                             << "Downloaded Frame";
    QTest::newRow("dot dot") << "https://example.org/a/.."
                             << "Downloaded Frame";
    QTest::newRow("encoded dot dot") << "https://example.org/a/%2E%2E"
                                     << "Downloaded Frame";
    QTest::newRow("encoded slash") << "https://example.org/x%2F..%2F..%2Fevil.png"
                                   << "evil.png";
    QTest::newRow("hidden") << "https://example.org/.bashrc"
                            << "Downloaded Frame";
    QTest::newRow("backslash") << "https://example.org/..%5C..%5Cx.png"
                               << "Downloaded Frame.png";
    QTest::newRow("control chars") << "https://example.org/a%0Ab.png"
                                   << "ab.png";
    QTest::newRow("very long") << "https://example.org/" + QString(300, 'y') + ".png"
                               << "Downloaded Frame.png";
}

void TestFrameLibrary::safeFileNameForUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    const QString name = FrameLibrary::safeFileNameForUrl(QUrl(url));
    QCOMPARE(name, expected);
    QTemporaryDir dir;
    const QString dest = FrameLibrary::uniqueDestinationPath(dir.path(), name);
    QCOMPARE(QFileInfo(dest).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
}

void TestFrameLibrary::uniqueDestinationPath()
{
    QTemporaryDir dir;
    QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), "Gold.png"), dir.filePath("Gold.png"));
    writeBytes(dir.filePath("Gold.png"), "x");
    QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), "Gold.png"),
             dir.filePath("Gold-1.png"));
    writeBytes(dir.filePath("Gold-1.png"), "x");
    QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), "Gold.png"),
             dir.filePath("Gold-2.png"));
    writeBytes(dir.filePath("Plain"), "x");
    QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), "Plain"), dir.filePath("Plain-1"));
}

void TestFrameLibrary::isImageFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("expected");
    QByteArray png;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        solid(20, 10, Qt::white).save(&b, "PNG");
    }
    QTest::newRow("png") << png << true;
    QTest::newRow("text") << QByteArray("plain words") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("huge") << pngClaimingSize(50000, 50000) << false;
}

void TestFrameLibrary::isImageFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    writeBytes(dir.filePath("file.dat"), bytes);
    QCOMPARE(ThumbnailCache::isImageFile(dir.filePath("file.dat")), expected);
    QVERIFY(!ThumbnailCache::isImageFile(dir.path()));
}

void TestFrameLibrary::builtinLibrary()
{
    const QString root = FrameLibrary::builtinFrameFolder();
    const QStringList names = FrameLibrary::collectionNamesForFolder(root);
    QVERIFY(names.size() >= 4);
    // The shipped order file decides the order.
    QVariantList order;
    for (const QString& name : names)
        order.append(name);
    QCOMPARE(PropertyList::fromFile(root + "/collections.plist"), QVariant(order));

    int frames = 0, grayMasks = 0, rgbMasks = 0, alphaFrames = 0, portrait = 0, landscape = 0;
    int postMasks = 0;
    qint64 bytes = 0;
    QStringList folders;
    for (const QString& name : names)
        folders.append(root + "/" + name);
    const QList<ThumbnailList> collections = FrameLibrary::collectionsForFolders(folders);
    for (int c = 0; c < collections.size(); ++c) {
        QVERIFY2(collections[c].size() >= 5, qPrintable(names[c]));
        for (const QString& file : QDir(folders[c]).entryList(QDir::Files)) {
            bytes += QFileInfo(folders[c] + "/" + file).size();
            if (file.contains("_postmask")) {
                // A post mask belongs to a frame beside it and cuts with its alpha.
                const QString base = file.left(file.indexOf("_postmask"));
                QVERIFY2(!QDir(folders[c]).entryList({base + ".*"}).isEmpty(), qPrintable(file));
                QVERIFY(QImage(folders[c] + "/" + file).hasAlphaChannel());
                ++postMasks;
            }
        }
        for (const ThumbnailEntry& entry : collections[c]) {
            ++frames;
            const QImage frame(entry.path);
            QVERIFY2(!frame.isNull(), qPrintable(entry.path));
            QVERIFY(qMax(frame.width(), frame.height()) <= 1600);
            portrait += frame.height() > frame.width();
            landscape += frame.width() > frame.height();
            const QPoint centre(frame.width() / 2, frame.height() / 2);
            if (frame.hasAlphaChannel()) {
                ++alphaFrames;
                // The photo shows through the middle of every alpha frame.
                QVERIFY2(qAlpha(frame.pixel(centre)) < 80, qPrintable(entry.path));
            } else {
                frame.format() == QImage::Format_Grayscale8 ? ++grayMasks : ++rgbMasks;
                // Masks: dark middle (the photo), bright somewhere along the edge (the frame).
                QVERIFY2(qGray(frame.pixel(centre)) < 40, qPrintable(entry.path));
                const int edge =
                    std::max({qGray(frame.pixel(0, centre.y())), qGray(frame.pixel(centre.x(), 0)),
                              qGray(frame.pixel(0, 0))});
                QVERIFY2(edge > 150, qPrintable(entry.path));
            }
        }
    }
    QVERIFY(frames >= 30);
    QVERIFY(grayMasks >= 5);
    QVERIFY(rgbMasks >= 1);
    QVERIFY(alphaFrames >= 5);
    QVERIFY(postMasks >= 3);
    QVERIFY(portrait >= 5 && landscape >= 5);
    QVERIFY(bytes < 10 * 1024 * 1024);
}

void TestFrameLibrary::updateCollectionOrder_data()
{
    QTest::addColumn<QString>("oldName");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("create appends") << ""
                                    << "Delta" << QStringList{"Beta", "Alpha", "Delta"};
    QTest::newRow("rename in place") << "Beta"
                                     << "Gamma" << QStringList{"Gamma", "Alpha"};
    QTest::newRow("remove") << "Beta"
                            << "" << QStringList{"Alpha"};
    QTest::newRow("no duplicate") << ""
                                  << "Alpha" << QStringList{"Beta", "Alpha"};
}

void TestFrameLibrary::updateCollectionOrder()
{
    QFETCH(QString, oldName);
    QFETCH(QString, newName);
    QFETCH(QStringList, expected);
    QTemporaryDir root;
    for (const char* name : {"Alpha", "Beta", "Gamma", "Delta"})
        makeFolder(root.filePath(name));
    QVERIFY(PropertyList::toFile(QVariantList{QString("Beta"), QString("Alpha")},
                                 root.filePath("collections.plist"), true));
    QVERIFY(FrameLibrary::updateCollectionOrder(root.path(), oldName, newName));
    QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()), expected);

    // Without an order file the listing decides, and none is made.
    QTemporaryDir bare;
    QVERIFY(FrameLibrary::updateCollectionOrder(bare.path(), oldName, newName));
    QVERIFY(!QFileInfo::exists(bare.filePath("collections.plist")));
    // A garbage order file is left as it is.
    writeBytes(bare.filePath("collections.plist"), "garbage");
    QVERIFY(FrameLibrary::updateCollectionOrder(bare.path(), oldName, newName));
    QFile garbage(bare.filePath("collections.plist"));
    QVERIFY(garbage.open(QIODevice::ReadOnly));
    QCOMPARE(garbage.readAll(), QByteArray("garbage"));
}

QTEST_GUILESS_MAIN(TestFrameLibrary)
#include "test_frame_library.moc"
