#pragma once

#include "frames/ThumbnailEntry.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

class VectorImage;

// Thumbnails of frame files and their JPEG cache in the "tncache" folder beside the frames.
// Everything here is safe to call from several threads at once for different paths.
namespace ThumbnailCache {

inline constexpr int ThumbnailHeight = 48;
// Wider thumbnails would crowd the table; a wider frame is fitted whole into this width.
inline constexpr int MaxThumbnailWidth = 8 * ThumbnailHeight;
inline const QString ThumbnailCacheDir = QStringLiteral("tncache");
inline constexpr int CacheJpegQuality = 75;
// Frames larger than this are left out rather than decoded (hostile or broken files).
inline constexpr qint64 MaxFramePixels = 100'000'000;
// A thumbnail is a few kilobytes; anything far larger in the cache is not ours.
inline constexpr qint64 MaxCacheFileBytes = 4 * 1024 * 1024;

// Thumbnails are made at this many device pixels per point (1 unless set), so that a
// display at scale 2 shows them at its own sharpness; sizes below are in points. Each
// scale has cache files of its own. Set it before thumbnails are made.
void setDeviceScale(int scale);
int deviceScale();

// Width for a frame of the given size at 48 pixels high, halves rounded away from zero, at
// most MaxThumbnailWidth; an empty size for a frame without positive width and height.
QSize thumbnailSizeForImageSize(QSize frameSize);

// "<folder>/tncache/<name>_<ext>.jpg"; a name without extension gives "<name>_.jpg"; at a
// device scale of 2 "<name>_<ext>@2x.jpg".
QString cachePathForPath(const QString& path);

// True for companion files: any path containing "_postmask".
bool isPostMaskPath(const QString& path);

// Where a mask frame's thumbnail shows the photo.
inline constexpr int PhotoGray = 128;

// The frame drawn at thumbnail size over opaque black, or a null image; a mask frame is
// drawn as it frames a photo, white over PhotoGray. A frame wider than MaxThumbnailWidth
// allows keeps its proportions, as a band across the middle.
QImage thumbnailImageForImage(const QImage& image);
// The same for a frame drawn as SVG, drawn straight at the thumbnail's size.
QImage thumbnailImageForDrawing(const VectorImage& drawing);

// The cached thumbnail when the cache file makes a usable image and is not older than the
// frame; otherwise made from the frame (decoded at a reduced size where the format allows)
// and written to the cache.
// Null for anything that is not a regular file holding a reasonable image.
QImage thumbnailImageForPath(const QString& path);

// Thumbnail entry for a frame path; none for post masks and files without a thumbnail.
std::optional<ThumbnailEntry> thumbnailForPath(const QString& path);

// Writes the thumbnail as JPEG (quality 75) atomically, creating the cache folder (one
// level) when needed. False when the folder or the file could not be written.
bool writeCacheImage(const QImage& image, const QString& path);

// Reads an image from the cache file, or a null image when it is missing, too big,
// corrupt or not thumbnail-shaped.
QImage readCacheImage(const QString& cachePath);

// True when the path is a regular file whose header names a readable image of positive,
// reasonable size (the check used for dropped files).
bool isImageFile(const QString& path);

} // namespace ThumbnailCache
