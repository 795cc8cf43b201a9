#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Photos come in through Qt's image plugins, every format they offer but drawings, and HEIF,
// AVIF and JPEG XL through their own libraries, at their pixel size.
namespace ImageReader {

// The largest photo we open. Medium-format cameras make a little over 100 megapixels;
// anything that claims more is almost always a corrupt or hostile header.
inline constexpr qint64 MaxPixels = 120'000'000;

// Loads a photo at its pixel size, turned upright by its EXIF orientation. Null image
// and a clear message in *error on failure (not an image, too large, corrupt).
// A damaged photo that still decodes in part (a JPEG cut off) is returned as far as it
// goes, with a message in *damage saying so; *damage is emptied otherwise. Images of more
// than maxPixels are refused before they are decoded.
QImage readImage(const QString& path, QString* error = nullptr, QString* damage = nullptr,
                 qint64 maxPixels = MaxPixels);

// Cheap check: Qt has a reader for the file's contents.
bool canRead(const QString& path);

// For open dialogs: "*.jpg *.jpeg *.png ..."
QStringList nameFilters();

// Raises Qt's allocation limit so that a photo of MaxPixels in 16-bit RGBA fits. Call
// once at program start; readImage calls it as well.
void installAllocationLimit();

} // namespace ImageReader
