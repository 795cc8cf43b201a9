#pragma once

#include "output/ImageMetadata.h"
#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <memory>

// AVIF files written through aom: 4:2:0 in strips of a grid, so that aom's memory stays small
// however large the photo.
namespace AvifEncoder {

// An AVIF picture made once from bands, then encoded at any quality: the quality search
// tries several.
class AvifPicture;
struct AvifPictureDeleter {
    void operator()(AvifPicture* picture) const;
};
using AvifPicturePtr = std::unique_ptr<AvifPicture, AvifPictureDeleter>;

// Null with the reason in *why when the bands fail or memory runs out. The picture is held
// in 4:2:0, 1.5 bytes a pixel; the alpha channel only when some pixel is not opaque.
AvifPicturePtr prepare(QSize size, const JpegEncoder::BandSource& bands, QString* why);
// quality 1 to 100; the blocks go into the file where non-empty.
QByteArray encode(const AvifPicture& picture, int quality, const ImageMetadata::Blocks& blocks,
                  QString* why);

} // namespace AvifEncoder
