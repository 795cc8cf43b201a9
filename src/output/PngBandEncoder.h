#pragma once

#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QColorSpace>
#include <QSize>
#include <QString>

// The PNG Qt's writer makes of a premultiplied picture (8-bit RGBA, unpremultiplied;
// zlib level 4; resolution; the colour space as an iCCP chunk), written row by row
// through libpng as the picture is handed over in bands, so that it is never whole in
// memory: Qt's writer needs the whole picture.
namespace PngBandEncoder {

// Empty on failure, with the reason in *error.
QByteArray encode(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space,
                  QString* error);

} // namespace PngBandEncoder
