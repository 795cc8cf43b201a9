#include "ThumbnailCache.h"

#include "compositing/ImageProcessor.h"
#include "compositing/VectorImage.h"
#include "foundation/InputGuard.h"
#include "output/HeifCodec.h"
#include "output/JxlCodec.h"

#include <QBuffer>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryFile>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

namespace ThumbnailCache {

namespace {
// Read by the threads that make thumbnails.
std::atomic<int> g_deviceScale{1};
} // namespace

void setDeviceScale(int scale)
{
    g_deviceScale = std::clamp(scale, 1, 4);
}

int deviceScale()
{
    return g_deviceScale;
}

QSize thumbnailSizeForImageSize(QSize frameSize)
{
    if (frameSize.width() <= 0 || frameSize.height() <= 0)
        return {};
    const float w = float(frameSize.width()) * float(ThumbnailHeight) / float(frameSize.height());
    const long width = std::lround(w);
    if (width < 1)
        return {};
    return QSize(int(std::min<long>(width, MaxThumbnailWidth)), ThumbnailHeight);
}

QString cachePathForPath(const QString& path)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    // Only the last extension counts, as for "Gold.Oval.png" -> "Gold.Oval" + "png".
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    QString base = fileName;
    QString extension;
    if (dot > 0) {
        base = fileName.left(dot);
        extension = fileName.mid(dot + 1);
    }
    const int scale = deviceScale();
    const QString cacheName = QStringLiteral("%1_%2").arg(base, extension) +
                              (scale > 1 ? QStringLiteral("@%1x").arg(scale) : QString()) +
                              QStringLiteral(".jpg");
    return QStringLiteral("%1/%2/%3").arg(info.path(), ThumbnailCacheDir, cacheName);
}

bool isPostMaskPath(const QString& path)
{
    return path.contains(QStringLiteral("_postmask"));
}

namespace {

// Where a frame of the given size lies in its thumbnail: all of it, or a band across the
// middle for a frame too wide for the widest thumbnail.
QRect thumbnailTarget(QSizeF frame, QSize thumbnail)
{
    QRect target(QPoint(0, 0), thumbnail);
    if (thumbnail.width() == MaxThumbnailWidth) {
        const long height = std::lround(double(thumbnail.width()) * frame.height() / frame.width());
        target.setHeight(int(std::clamp<long>(height, 1, ThumbnailHeight)));
        target.moveTop((ThumbnailHeight - target.height()) / 2);
    }
    return target;
}

// An empty thumbnail of the given size in points, at the device scale.
QImage blankThumbnail(QSize size)
{
    QImage thumbnail(size * deviceScale(), QImage::Format_RGB32);
    thumbnail.setDevicePixelRatio(deviceScale());
    return thumbnail;
}

} // namespace

QImage thumbnailImageForImage(const QImage& image)
{
    if (image.isNull())
        return {};
    const QSize size = thumbnailSizeForImageSize(image.size());
    if (size.isEmpty())
        return {};
    // A mask frame is shown as it frames a photo: white (the colour a photo starts with)
    // where the frame is, a neutral grey where the photo shows.
    const bool mask = ImageProcessor::borderType(image) == ImageProcessor::MaskBorder;
    // Area-averaging scale first: drawing a 1200-pixel frame straight into 48 pixels would
    // sample only a few of its lines and lose thin borders.
    QImage source = mask
                        ? ImageProcessor::overlayFromMask(
                              ImageProcessor::maskBitmap(image),
                              ImageProcessor::ColorComponents(std::array<float, 3>{1, 1, 1}), false)
                        : image;
    if (source.format() != QImage::Format_ARGB32_Premultiplied &&
        source.format() != QImage::Format_RGB32)
        source = source.convertToFormat(
            source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    const QRect target = thumbnailTarget(QSizeF(image.size()), size);
    const QImage scaled = source.scaled(target.size() * deviceScale(), Qt::IgnoreAspectRatio,
                                        Qt::SmoothTransformation);
    if (scaled.isNull())
        return {};
    QImage thumbnail = blankThumbnail(size);
    if (thumbnail.isNull())
        return {};
    thumbnail.fill(mask ? QColor(PhotoGray, PhotoGray, PhotoGray) : QColor(Qt::black));
    QPainter painter(&thumbnail);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(target, scaled);
    painter.end();
    return thumbnail;
}

QImage thumbnailImageForDrawing(const VectorImage& drawing)
{
    const QSizeF frame = drawing.size();
    // The size rule works on whole pixels; a drawing in small units is measured enlarged.
    const double k = std::max(1.0, 1000.0 / std::min(frame.width(), frame.height()));
    const QSize size = thumbnailSizeForImageSize(
        QSize(int(std::lround(frame.width() * k)), int(std::lround(frame.height() * k))));
    if (size.isEmpty())
        return {};
    const QRect target = thumbnailTarget(frame, size);
    QImage thumbnail = blankThumbnail(size);
    if (thumbnail.isNull())
        return {};
    thumbnail.fill(Qt::black);
    QPainter painter(&thumbnail);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter,
                   QTransform(target.width() / frame.width(), 0, 0,
                              target.height() / frame.height(), target.left(), target.top()));
    painter.end();
    return thumbnail;
}

namespace {

bool isRegularFile(const QFileInfo& info)
{
    // Devices, pipes and sockets could block a reader for ever.
    return info.exists() && info.isFile();
}

// A picture reader given a drawing or a packed file (a ".svgz" frame) would unpack it whole.
bool isPictureFile(const QFileInfo& info)
{
    return isRegularFile(info) && info.size() > 0 && InputGuard::checkPictureFile(info.filePath());
}

// HEIF, AVIF and JPEG XL, which Qt has no reader for: decoded whole, within the frame limit.
QImage readPhoneFormat(const QString& path)
{
    QString why;
    if (HeifCodec::isHeifFile(path))
        return HeifCodec::read(path, MaxFramePixels, &why);
    if (JxlCodec::isJxlFile(path))
        return JxlCodec::read(path, MaxFramePixels, &why);
    return {};
}

// Reads the frame at a size near what the thumbnail needs. JPEG decodes at a fraction of
// its size directly; other formats decode whole and are scaled afterwards.
QImage readFrameForThumbnail(const QString& path)
{
    const QFileInfo info(path);
    if (!isPictureFile(info))
        return {};
    if (HeifCodec::isHeifFile(path) || JxlCodec::isJxlFile(path))
        return readPhoneFormat(path);
    QImageReader reader(path);
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() <= 0 || size.height() <= 0)
            return {};
        if (qint64(size.width()) * size.height() > MaxFramePixels)
            return {};
        const QSize target = thumbnailSizeForImageSize(size);
        if (target.isEmpty())
            return {};
        if (reader.supportsOption(QImageIOHandler::ScaledSize) &&
            size.height() > 8 * ThumbnailHeight && reader.format() == "jpeg") {
            // Twice the thumbnail's size, so the final smooth step still averages.
            const QSize reduced = size.scaled(target * 2 * deviceScale(), Qt::KeepAspectRatio);
            if (!reduced.isEmpty())
                reader.setScaledSize(reduced);
        }
    }
    QImage image = reader.read();
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return {};
    return image;
}

} // namespace

QImage readCacheImage(const QString& cachePath)
{
    const QFileInfo info(cachePath);
    if (!isPictureFile(info) || info.size() > MaxCacheFileBytes)
        return {};
    QImageReader reader(cachePath);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    const int scale = deviceScale();
    if (size.isValid() && (size.height() != ThumbnailHeight * scale || size.width() <= 0 ||
                           size.width() > MaxThumbnailWidth * scale))
        return {};
    QImage image = reader.read();
    if (image.isNull() || image.height() != ThumbnailHeight * scale)
        return {};
    image.setDevicePixelRatio(scale);
    return image;
}

QImage thumbnailImageForPath(const QString& path)
{
    const QString cachePath = cachePathForPath(path);
    // A frame edited after its thumbnail was made is newer than the cache file. A vanished
    // frame has no date and keeps its cached thumbnail.
    const QDateTime frameTime = QFileInfo(path).lastModified();
    const QFileInfo cacheInfo(cachePath);
    const bool stale =
        frameTime.isValid() && cacheInfo.exists() && cacheInfo.lastModified() < frameTime;
    QImage cached = stale ? QImage() : readCacheImage(cachePath);
    if (!cached.isNull())
        return cached;
    QImage thumbnail;
    if (VectorImage::isVectorPath(path)) {
        const std::shared_ptr<const VectorImage> drawing = VectorImage::fromFile(path);
        if (!drawing)
            return {};
        thumbnail = thumbnailImageForDrawing(*drawing);
    } else {
        const QImage frame = readFrameForThumbnail(path);
        if (frame.isNull())
            return {};
        thumbnail = thumbnailImageForImage(frame);
    }
    if (thumbnail.isNull())
        return {};
    writeCacheImage(thumbnail, cachePath);
    return thumbnail;
}

std::optional<ThumbnailEntry> thumbnailForPath(const QString& path)
{
    // Companions beside the frames: post masks and layouts.
    if (isPostMaskPath(path) || path.endsWith(QLatin1String("_frame.plist")))
        return std::nullopt;
    QImage image = thumbnailImageForPath(path);
    if (image.isNull())
        return std::nullopt;
    return ThumbnailEntry{path, image};
}

bool writeCacheImage(const QImage& image, const QString& path)
{
    if (image.isNull() || path.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString folder = info.path();
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists()) {
        // One level only: a missing collection folder is not brought back here.
        if (!QDir(QFileInfo(folder).path()).mkdir(folderInfo.fileName()) &&
            !QFileInfo(folder).isDir())
            return false;
    } else if (!folderInfo.isDir()) {
        return false;
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(CacheJpegQuality);
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32)))
        return false;
    buffer.close();
    // A temporary file renamed into place: readers never see half a JPEG. No flush to the
    // disk as a saved document would get; a lost cache file is simply made again, and the
    // sync would cost more than making the thumbnail.
    QTemporaryFile file(folder + QStringLiteral("/.thumbnail-XXXXXX"));
    if (!file.open())
        return false;
    if (file.write(data) != data.size() || !file.flush())
        return false;
    file.close();
    const QByteArray from = QFile::encodeName(file.fileName());
    const QByteArray to = QFile::encodeName(path);
    if (std::rename(from.constData(), to.constData()) != 0) {
        // Platforms whose rename does not replace an existing file.
        QFile::remove(path);
        if (std::rename(from.constData(), to.constData()) != 0)
            return false;
    }
    file.setAutoRemove(false);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}

bool isImageFile(const QString& path)
{
    const QFileInfo info(path);
    if (!isRegularFile(info) || info.size() <= 0)
        return false;
    // Drawn at whatever size it is used at: its own size says nothing about memory.
    if (VectorImage::isVectorPath(path))
        return VectorImage::fromFile(path) != nullptr;
    if (!isPictureFile(info))
        return false;
    if (HeifCodec::isHeifFile(path) || JxlCodec::isJxlFile(path))
        return !readPhoneFormat(path).isNull();
    QImageReader reader(path);
    if (!reader.canRead())
        return false;
    const QSize size = reader.size();
    if (size.isValid())
        return size.width() > 0 && size.height() > 0 &&
               qint64(size.width()) * size.height() <= MaxFramePixels;
    // Formats that cannot tell their size without decoding.
    const QImage image = reader.read();
    return !image.isNull() && image.width() > 0 && image.height() > 0;
}

} // namespace ThumbnailCache
