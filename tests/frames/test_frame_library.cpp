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

namespace {

QByteArray encoded(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "JPEG") ? bytes : QByteArray();
}

QStringList fileNames(const ThumbnailList& list)
{
    QStringList names;
    for (const ThumbnailEntry& e : list)
        names.append(QFileInfo(e.path).fileName());
    return names;
}

enum class FrameFile { None, Png, TurnedJpeg, Drawing };
enum class MaskFile { None, Good, Drawing };

// Four flat quadrants on 16-pixel block edges, so that JPEG keeps their colours.
QImage quadrants(QRgb topLeft, QRgb topRight, QRgb bottomLeft, QRgb bottomRight)
{
    QImage image(64, 32, QImage::Format_ARGB32);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(0, 0, 32, 16, QColor::fromRgba(topLeft));
    p.fillRect(32, 0, 32, 16, QColor::fromRgba(topRight));
    p.fillRect(0, 16, 32, 16, QColor::fromRgba(bottomLeft));
    p.fillRect(32, 16, 32, 16, QColor::fromRgba(bottomRight));
    return image;
}

// Compares the centres of the result's quadrants with the source pixels that must land there:
// turned is a quarter turn clockwise (EXIF orientation 6), flip mirrors the upright picture.
void compareQuadrants(const QImage& actual, const QImage& source, bool turned, bool flip)
{
    const QSize size = turned ? source.size().transposed() : source.size();
    QCOMPARE(actual.size(), size);
    const QImage argb = actual.convertToFormat(QImage::Format_ARGB32);
    for (const int x : {size.width() / 4, size.width() * 3 / 4})
        for (const int y : {size.height() / 4, size.height() * 3 / 4}) {
            const int ux = flip ? size.width() - 1 - x : x;
            const QRgb want =
                turned ? source.pixel(y, source.height() - 1 - ux) : source.pixel(ux, y);
            const QRgb got = argb.pixel(x, y);
            for (int shift : {0, 8, 16, 24})
                QVERIFY2(qAbs(int(got >> shift & 0xff) - int(want >> shift & 0xff)) <= 8,
                         qPrintable(QString("at %1,%2").arg(x).arg(y)));
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
    void thumbnails()
    {
        // None for a frame thinner than a pixel; capped in width.
        QCOMPARE(ThumbnailCache::thumbnailSizeForImageSize(QSize(1, 100)), QSize());
        QCOMPARE(ThumbnailCache::thumbnailImageForImage(solid(5000, 100, Qt::white)).size(),
                 QSize(384, 48));
        const QByteArray stale = encoded(solid(72, 48, Qt::red));
        // the cache file (null: none), seconds it is older than the frame, whether it is shown
        // (else the thumbnail is made afresh from the frame)
        const std::tuple<const char*, QByteArray, int, bool> rows[] = {
            {"no cache", QByteArray(), 0, false},
            {"cache is used", stale, -60, true},
            {"frame edited since", stale, 60, false},
            {"truncated jpeg", stale.left(40), 0, false},
            {"not thumbnail sized", encoded(solid(300, 200, Qt::red)), 0, false}};
        for (const auto& [tag, cacheBytes, cacheAge, cacheShown] : rows) {
            QTemporaryDir dir;
            const QString path = dir.filePath("Frame.png"),
                          cache = dir.filePath("tncache/Frame_png.jpg");
            QVERIFY(solid(1200, 800, Qt::green).save(path));
            if (!cacheBytes.isNull()) {
                QVERIFY(QDir().mkpath(dir.filePath("tncache")) && writeFile(cache, cacheBytes));
                QFile file(cache);
                QVERIFY(file.open(QIODevice::ReadWrite) &&
                        file.setFileTime(QFileInfo(path).lastModified().addSecs(-cacheAge),
                                         QFileDevice::FileModificationTime));
            }
            const QImage thumb = ThumbnailCache::thumbnailImageForPath(path);
            const QRgb shown = thumb.pixel(10, 10);
            QVERIFY2(thumb.size() == QSize(72, 48) && QImage(cache, "jpeg").size() == thumb.size(),
                     tag);
            QVERIFY2(std::pair(qRed(shown) > 200, qGreen(shown) > 200) ==
                         std::pair(cacheShown, !cacheShown),
                     tag);
            // The cache is read before the frame: it answers even for a vanished frame.
            QVERIFY(QFile::remove(path));
            QVERIFY2(ThumbnailCache::thumbnailImageForPath(path).size() == thumb.size(), tag);
        }
    }

    void collectionOrder()
    {
        QTemporaryDir root;
        const QString order = root.filePath("collections.plist");
        // Made out of order so that creation order does not explain the result.
        for (const char* name : {"Gamma", "Beta", ".hidden", "Alpha"})
            QVERIFY(QDir().mkpath(root.filePath(name)));
        QVERIFY(writeFile(root.filePath("Loose file.png"), "x"));
        QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()),
                 (QStringList{"Alpha", "Beta", "Gamma"}));
        // The order file decides and keeps names without folders; other types and unsafe names
        // are left out.
        const std::pair<QVariantList, QStringList> read[] = {
            {{"Beta", "Ghost", "Alpha"}, {"Beta", "Ghost", "Alpha"}},
            {{"Gamma", 5, QVariantMap{{"a", 1}}, QVariantList{"Alpha"}, "Beta"}, {"Gamma", "Beta"}},
            {{".hidden", "../Alpha", "a/b", "", "Alpha"}, {"Alpha"}},
            {{}, {}}};
        for (const auto& [listed, expected] : read) {
            QVERIFY(PropertyList::toFile(listed, order));
            QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()), expected);
        }
        // Changes: old name, new name, the order after (created, renamed, removed, no
        // duplicate). Without an order file none is made; a garbage one is left as it is.
        const std::tuple<QString, QString, QStringList> changes[] = {
            {"", "Delta", {"Beta", "Alpha", "Delta"}},
            {"Beta", "Gamma", {"Gamma", "Alpha"}},
            {"Beta", "", {"Alpha"}},
            {"", "Alpha", {"Beta", "Alpha"}}};
        for (const auto& [oldName, newName, expected] : changes) {
            QVERIFY(PropertyList::toFile(QVariantList{"Beta", "Alpha"}, order, true));
            QVERIFY(FrameLibrary::updateCollectionOrder(root.path(), oldName, newName));
            QCOMPARE(FrameLibrary::collectionNamesForFolder(root.path()), expected);
            QVERIFY(QFile::remove(order));
            QVERIFY(FrameLibrary::updateCollectionOrder(root.path(), oldName, newName));
            QVERIFY(!QFileInfo::exists(order) && writeFile(order, "garbage"));
            QVERIFY(FrameLibrary::updateCollectionOrder(root.path(), oldName, newName));
            QCOMPARE(readAll(order), QByteArray("garbage"));
        }
        // Names for a new collection.
        using P = FrameLibrary::NameProblem;
        const std::pair<QString, P> names[] = {
            {"Fêtes 2024", P::None},         {"   ", P::Empty},
            {"a\\b", P::Separator},          {"..", P::Hidden},
            {QString(256, 'x'), P::TooLong}, {"Loose file.png", P::Exists}};
        for (const auto& [name, expected] : names)
            QVERIFY2(FrameLibrary::checkCollectionName(name, {}, root.path()) == expected,
                     qPrintable(name));
    }

    void collectionListing()
    {
        // Post masks and layouts lie beside their frames; only the frames are listed, and a
        // frame is found by its collection and name with or without its extension.
        QTemporaryDir root;
        const QString dir = root.filePath("Set");
        QVERIFY(QDir().mkpath(dir + "/Sub.png"));
        const QImage wide = solid(120, 80, Qt::white);
        QVERIFY(solid(80, 120, Qt::white).save(dir + "/A Frame.jpg"));
        for (const char* name : {"b Frame.png", "A Frame_postmask.png", ".hidden.png"})
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
        // Frames of several collections are made together; each must land in its own list, in
        // order. A missing folder gives an empty list and is not created.
        const QString ghost = root.filePath("Ghost"), many = root.filePath("Many");
        QVERIFY(QDir().mkpath(many));
        for (int f = 0; f < 4; ++f)
            QVERIFY(solid(40 + 10 * f, 40, QColor(30 * f, 0, 0))
                        .save(many + QString("/F%1.png").arg(f)));
        const QList<ThumbnailList> all = FrameLibrary::collectionsForFolders({dir, ghost, many});
        QCOMPARE(all.size(), 3);
        QCOMPARE(fileNames(all[0]),
                 (QStringList{"A Frame.jpg", "b Frame.png", "Film.svg", "Plain"}));
        QCOMPARE(std::pair(all[0][0].path, all[0][0].image.size()),
                 std::pair(dir + "/A Frame.jpg", QSize(32, 48)));
        QVERIFY(all[1].isEmpty() && !QFileInfo::exists(ghost));
        QCOMPARE(all[2].size(), 4);
        for (int f = 0; f < 4; ++f)
            QCOMPARE(
                std::pair(all[2][f].path, all[2][f].image.width()),
                std::pair(many + QString("/F%1.png").arg(f), qRound((40 + 10 * f) * 48 / 40.0)));
        // The second read comes from the cache and lists neither "tncache" nor the post mask.
        QCOMPARE(fileNames(FrameLibrary::collectionForFolder(dir)), fileNames(all[0]));
        QVERIFY(!QFileInfo::exists(dir + "/tncache/A Frame_postmask_png.jpg"));

        const QString none;
        QCOMPARE(FrameLibrary::frameForName("Set/Film", root.path(), none), dir + "/Film.svg");
        QCOMPARE(FrameLibrary::frameForName("Set/b Frame.png", none, root.path()),
                 dir + "/b Frame.png");
        for (const char* missing :
             {"Set/Film_frame", "Set/Nothing", "Set", "../Set/Film", "/Set/Film"})
            QVERIFY2(FrameLibrary::frameForName(missing, root.path(), none).isEmpty(), missing);

        const QString postFolder = root.filePath("Shapes_postmask");
        QVERIFY(QDir().mkpath(postFolder) && wide.save(postFolder + "/Heart.png"));
        QVERIFY(FrameLibrary::collectionForFolder(postFolder).isEmpty());
        // "My Frames" comes with the first use only; a file where the folder goes gives none.
        const QString folder = FrameLibrary::userFrameFolderIn(root.filePath("share"));
        QVERIFY(QDir(folder + "/My Frames").removeRecursively());
        QCOMPARE(FrameLibrary::userFrameFolderIn(root.filePath("share")), folder);
        QVERIFY(!QFileInfo::exists(folder + "/My Frames"));
        QVERIFY(QDir().mkpath(root.filePath("in the way")));
        QVERIFY(writeFile(root.filePath("in the way/" + QFileInfo(folder).fileName()), "x"));
        QVERIFY(FrameLibrary::userFrameFolderIn(root.filePath("in the way")).isEmpty());
    }

    void safeFileNameForUrl()
    {
        const std::pair<QString, QString> rows[] = {
            {"/a/Old%20Film.png?size=2", "Old Film.png"},
            {"/a/%2E%2E", "Downloaded Frame"},
            {"/x%2F..%2F..%2Fevil.png", "evil.png"},
            {"/..%5C..%5Cx.png", "Downloaded Frame.png"},
            {"/a%0Ab.png", "ab.png"},  // control characters
            {"/x%252.png", "x%2.png"}, // a placeholder in the name
            {"/" + QString(300, 'y') + ".png", "Downloaded Frame.png"}};
        for (const auto& [url, expected] : rows) {
            const QString name =
                FrameLibrary::safeFileNameForUrl(QUrl("https://example.org" + url));
            QCOMPARE(name, expected);
            // A taken name gets a number before the extension, and stays in the folder.
            QTemporaryDir dir;
            QVERIFY(writeFile(dir.filePath(name), "x"));
            const QFileInfo info(name);
            const QString ext = info.suffix().isEmpty() ? QString() : "." + info.suffix();
            QCOMPARE(FrameLibrary::uniqueDestinationPath(dir.path(), name),
                     dir.filePath(info.completeBaseName() + "-1" + ext));
        }
    }

    void loadFrame()
    {
        using F = FrameFile;
        using M = MaskFile;
        const QByteArray insets = "<plist><dict><key>Insets</key><dict><key>Left</key><integer>10"
                                  "</integer><key>Right</key><integer>4</integer></dict></dict>"
                                  "</plist>";
        // The frame under the test folder (empty: none), where its post mask lies, what they
        // are, flipped, the "_frame.plist" (none when empty), its left inset after the flip
        // (-1: none). Unreadable frames and post masks are rows of test_hostile.
        const std::tuple<QString, QString, FrameFile, MaskFile, bool, QByteArray, int> rows[] = {
            {"", "", F::None, M::None, true, {}, -1},
            {"Gold.png", "Gold_postmask.png", F::Png, M::None, false, {}, -1},
            {"Old.Gold.png", "Old.Gold_postmask.png", F::Png, M::Good, true, insets, 4},
            {"a.b/frame", "a.b/frame_postmask.png", F::Png, M::Good, false, {}, -1},
            {"T.jpeg", "T_postmask.png", F::TurnedJpeg, M::Good, true, {}, -1},
            {"Film.svg", "Film_postmask.svg", F::Drawing, M::Drawing, true, insets, 4},
            {"Mat.png", "", F::Png, M::None, false, "\x00\x01garbage", -1},
            {"Wide.svg", "", F::Drawing, M::None, false,
             QByteArray(insets).replace(">10<", ">1199<"), -1}};
        const QImage frameImage = quadrants(0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff);
        const QImage maskImage = quadrants(0x00000000, 0xff000000, 0x80000000, 0x40000000);
        const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1200 800\">"
                               "<rect width=\"1200\" height=\"100\"/></svg>";
        for (const auto& [frame, mask, frameFile, maskFile, flip, layout, left] : rows) {
            QTemporaryDir dir;
            QVERIFY(QDir().mkpath(dir.filePath("a.b")));
            const QString framePath = frame.isEmpty() ? QString() : dir.filePath(frame);
            const QString maskPath = mask.isEmpty() ? QString() : dir.filePath(mask);
            const QString stem =
                QFileInfo(framePath).path() + "/" + QFileInfo(framePath).completeBaseName();
            if (frameFile == F::Png)
                QVERIFY(frameImage.save(framePath, "PNG"));
            if (frameFile == F::TurnedJpeg) {
                QVERIFY(
                    frameImage.convertToFormat(QImage::Format_RGB32).save(framePath, "JPEG", 95));
                setTags(framePath, {{"Exif.Image.Orientation", "6"}});
            }
            if (frameFile == F::Drawing)
                QVERIFY(writeFile(framePath, svg));
            if (maskFile == M::Good)
                QVERIFY(maskImage.save(maskPath, "PNG"));
            if (maskFile == M::Drawing)
                QVERIFY(writeFile(maskPath, svg));
            if (!layout.isEmpty())
                QVERIFY(writeFile(stem + "_frame.plist", layout));

            FrameLibrary::LoadedFrame loaded{maskImage, maskImage, {}, {}, {}}; // must be replaced
            QString error;
            QVERIFY2(FrameLibrary::loadFrame(framePath, flip, &loaded, &error), qPrintable(error));
            // Drawings: their size and whether mirrored; -1 for none.
            auto drawn = [](const auto& d) {
                return d ? std::pair(d->size(), int(d->isFlipped())) : std::pair(QSizeF(), -1);
            };
            const bool bitmap = frameFile == F::Png || frameFile == F::TurnedJpeg;
            QCOMPARE(std::tuple(drawn(loaded.frameDrawing), drawn(loaded.postMaskDrawing).second,
                                loaded.frame.isNull(), loaded.postMask.isNull(),
                                loaded.geometry.hasInsets ? loaded.geometry.left : -1),
                     std::tuple(frameFile == F::Drawing ? std::pair(QSizeF(1200, 800), int(flip))
                                                        : std::pair(QSizeF(), -1),
                                maskFile == M::Drawing ? int(flip) : -1, !bitmap,
                                maskFile != M::Good, left));
            if (bitmap)
                compareQuadrants(loaded.frame, frameImage, frameFile == F::TurnedJpeg, flip);
            if (maskFile == M::Good)
                compareQuadrants(loaded.postMask, maskImage, false, flip);
        }
    }

    void removeCollection()
    {
        // What lies under the collection's name: a folder of frames, a link to a folder
        // elsewhere, or no user folder at all.
        for (const QString kind : {"folder", "link", "no root"}) {
            QTemporaryDir dir;
            const QString root = dir.filePath("root"), elsewhere = dir.filePath("elsewhere");
            QVERIFY(QDir().mkpath(root + "/Other") && QDir().mkpath(elsewhere + "/tncache"));
            QVERIFY(writeFile(elsewhere + "/Frame.png", "frame"));
            if (kind == "folder")
                QVERIFY(QDir().rename(elsewhere, root + "/Set"));
            if (kind == "link")
                QVERIFY(QFile::link(elsewhere, root + "/Set"));
            QString error;
            const bool ok = kind != "no root";
            QCOMPARE(FrameLibrary::removeCollection(ok ? root : QString(), "Set", &error), ok);
            QCOMPARE(error.isEmpty(), ok);
            // Nothing left in hiding, and a link takes only itself.
            QCOMPARE(entries(root), QStringList{"Other"});
            if (kind != "folder")
                QCOMPARE(entries(elsewhere), (QStringList{"Frame.png", "tncache"}));
        }
    }

    // The shipped frames.
    void shippedFrames_data()
    {
        QTest::addColumn<QString>("path");
        int rows = 0;
        for (const QString& collection : FrameLibrary::collectionNamesForFolder(Root))
            for (const QString& path :
                 FrameLibrary::frameCandidatesInFolder(Root + "/" + collection)) {
                QTest::newRow(qPrintable(collection + "/" + QFileInfo(path).fileName())) << path;
                ++rows;
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
        // A bitmap mask as large as its frame costs more memory than the photo it frames; a
        // drawn one is the same size as its frame, so both are placed and sliced alike.
        if (ThumbnailCache::isPostMaskPath(path)) {
            QVERIFY(name.endsWith(QLatin1String(".svg")));
            QCOMPARE(size, frameSize(ownerOf(path.section("_postmask", 0, 0))));
        }
    }
};

QTEST_MAIN(TestFrameLibrary)
#include "test_frame_library.moc"
