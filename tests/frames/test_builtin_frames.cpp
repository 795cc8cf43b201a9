#include "compositing/FrameGeometry.h"
#include "foundation/PropertyList.h"
#include "frames/FrameLibrary.h"
#include "frames/ThumbnailCache.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QtTest>

#include <algorithm>

// The shipped frame library: frames that stay sharp on a large photo (vector, or bitmaps big
// enough not to be enlarged much), frame property lists the program can use, thumbnails
// shipped with them, and a library small enough to ship.
namespace {

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

class TestBuiltinFrames : public QObject {
    Q_OBJECT

private:
private slots:
    void files_data()
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

    void files()
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

    void library()
    {
        qint64 total = 0;
        QDirIterator it(Root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            total += QFileInfo(it.next()).size();
        QVERIFY2(total < MaxLibraryBytes, qPrintable(QString::number(total)));
    }
};

QTEST_GUILESS_MAIN(TestBuiltinFrames)
#include "test_builtin_frames.moc"
