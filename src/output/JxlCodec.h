#pragma once

#include "output/ImageMetadata.h"

#include <QImage>
#include <QString>

// JPEG XL pictures in, through libjxl.
namespace JxlCodec {

// The file starts with a JPEG XL codestream or container signature.
bool isJxlFile(const QString& path);

// The first frame at 8 bits a channel, turned by the orientation the file gives, with its
// alpha and colour profile. Null with the reason in *why on failure, also for more than
// maxPixels (refused before the pixels are allocated).
QImage read(const QString& path, qint64 maxPixels, QString* why);

// EXIF, XMP and the ICC profile; empty blocks on failure.
ImageMetadata::Blocks readMetadata(const QString& path);

} // namespace JxlCodec
