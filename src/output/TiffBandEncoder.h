#pragma once

#include "output/JpegEncoder.h"

#include <QByteArray>
#include <QColorSpace>
#include <QSize>
#include <QString>

// The LZW-compressed TIFF Qt's writer makes of a premultiplied picture (8-bit RGBA with
// associated alpha, or 8-bit RGB for a picture without transparency as of an RGB32 one; the
// resolution, the colour space as its profile tag), written row by
// row through libtiff as the picture is handed over in bands, so that it is never whole in
// memory: Qt's writer needs the whole picture.
namespace TiffBandEncoder {

// Empty on failure, with the reason in *error. Without alpha the bands' alpha is dropped.
QByteArray encode(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space,
                  bool alpha, QString* error);

// The same file written through fd (an empty regular file, open for reading and writing:
// libtiff reads back what it wrote), never held in memory. False on failure: the system's
// reason in *writeError when the file could not be written, else the reason in *error.
bool write(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space, bool alpha,
           int fd, QString* error, QString* writeError);

} // namespace TiffBandEncoder
