#pragma once

#include "output/ImageMetadata.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// HEIF pictures: HEIC and AVIF read through libheif (AvifEncoder writes AVIF).
namespace HeifCodec {

// The file starts with an ISO media file-type box of a HEIF or AVIF brand.
bool isHeifFile(const QString& path);

// The primary image at 8 bits a channel, turned as the file says (its rotation and mirror;
// the EXIF orientation is not applied again), with its alpha and colour profile. Null
// with the reason in *why on failure, also for more than maxPixels.
QImage read(const QString& path, qint64 maxPixels, QString* why);

// EXIF, XMP and the ICC profile of the primary image; empty blocks on failure.
ImageMetadata::Blocks readMetadata(const QString& path);

} // namespace HeifCodec
