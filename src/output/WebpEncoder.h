#pragma once

#include "output/ImageMetadata.h"
#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// WebP files through libwebp, with the metadata chunks through its muxer.
namespace WebpEncoder {

// The picture made once from bands (ARGB32, which is libwebp's own layout), so that each
// quality the search tries encodes it without making it again. Null with the reason in
// *why on failure, also for a side over WebP's 16383 pixels.
QImage prepare(QSize size, const JpegEncoder::BandSource& bands, QString* why);

// Lossy at quality 1 to 99, lossless at 100 (as PNG would be); transparency is kept where
// there is some. The blocks go into the file where non-empty.
QByteArray encode(const QImage& picture, int quality, const ImageMetadata::Blocks& blocks,
                  QString* why);

} // namespace WebpEncoder
