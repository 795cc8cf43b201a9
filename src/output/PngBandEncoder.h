#pragma once

#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QColorSpace>
#include <QSize>
#include <QString>

#include <functional>

// The PNG Qt's writer makes of a premultiplied picture (8-bit RGBA, unpremultiplied; or 8-bit
// RGB for a picture without transparency, as of an RGB32 one; zlib level 4; resolution; the
// colour space as an iCCP chunk), written row by row
// through libpng as the picture is handed over in bands, so that it is never whole in
// memory: Qt's writer needs the whole picture.
namespace PngBandEncoder {

// Empty on failure, with the reason in *error. Without alpha the bands' alpha is dropped.
QByteArray encode(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space,
                  bool alpha, QString* error);

// Takes the file's bytes as libpng makes them; false stops the file (the taker knows why).
using Sink = std::function<bool(const char* bytes, qint64 count)>;
// The same file handed to sink piece by piece instead of held. False on failure, with the
// reason in *error unless the sink refused.
bool write(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space, bool alpha,
           const Sink& sink, QString* error);

} // namespace PngBandEncoder
