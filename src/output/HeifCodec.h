#pragma once

#include "output/ImageMetadata.h"
#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// HEIF pictures: HEIC and AVIF read through libheif, AVIF written through aom.
namespace HeifCodec {

// The file starts with an ISO media file-type box of a HEIF or AVIF brand.
bool isHeifFile(const QString& path);

// The primary image at 8 bits a channel, turned as the file says (its rotation and mirror;
// the EXIF orientation is not applied again), with its alpha and colour profile. Null
// with the reason in *why on failure, also for more than maxPixels.
QImage read(const QString& path, qint64 maxPixels, QString* why);

// EXIF, XMP and the ICC profile of the primary image; empty blocks on failure.
ImageMetadata::Blocks readMetadata(const QString& path);

// An AVIF picture made once from bands, then encoded at any quality: the quality search
// tries several.
class AvifPicture;
struct AvifPictureDeleter {
    void operator()(AvifPicture* picture) const;
};
using AvifPicturePtr = std::unique_ptr<AvifPicture, AvifPictureDeleter>;

// Null with the reason in *why when the bands fail or memory runs out. The picture is held
// in 4:2:0, 1.5 bytes a pixel; the alpha channel only when some pixel is not opaque.
AvifPicturePtr prepareAvif(QSize size, const JpegEncoder::BandSource& bands, QString* why);
// quality 1 to 100; the blocks go into the file where non-empty.
QByteArray encodeAvif(const AvifPicture& picture, int quality, const ImageMetadata::Blocks& blocks,
                      QString* why);

} // namespace HeifCodec
