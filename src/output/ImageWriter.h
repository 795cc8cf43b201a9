#pragma once

#include "output/FileFormat.h"
#include "output/JpegEncoder.h"
#include "output/QualitySearch.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class ImageMetadata;

// Writes finished pictures as JPEG, WebP or AVIF (with the file-size search), PNG or
// LZW-compressed TIFF. Encoding happens in memory; only the result that is kept reaches the disk,
// and it does so atomically.
namespace ImageWriter {

struct Options {
    FileFormat format = FileFormat::Jpeg;
    int quality = 90;                        // JPEG, WebP, AVIF quality percent
    int limitKB = 0;                         // 0 = no size limit; else bytes limit = limitKB << 10
    const ImageMetadata* metadata = nullptr; // attached when non-null (not PNG)
    QByteArray iccProfile;                   // kept in every format when non-empty
    std::function<void(int quality, qint64 bytes)> attemptLog; // each JPEG attempt
    // The file-size search keeps the prepared planes (1.5 bytes a pixel) to encode each
    // attempt without making the picture again, up to this many bytes. Above, a picture
    // that can be made again (see BandSourceMaker) is made anew for each attempt; the
    // result is the same file.
    qint64 planeBudget = qint64(64) << 20;
};

// Makes a new source of the same picture from its top; each source is read once.
using BandSourceMaker = std::function<JpegEncoder::BandSource()>;

// Encodes to memory (file-size search included); empty on failure or when no quality fits.
QByteArray encode(const QImage& image, const Options& options, QString* error = nullptr);

// The JPEG encode() makes of a picture of `size` with no colour space of its own, handed
// over in bands (see JpegEncoder::BandSource) so that it is never whole in memory. With a
// size limit the prepared planes are kept for the search (1.5 bytes a pixel); without one
// only a band at a time is. Either way the source is read once, from the top.
QByteArray encodeJpegBands(QSize size, const JpegEncoder::BandSource& bands, const Options& options,
                           QString* error = nullptr);

// The file encode() makes of a picture of `size` with no colour space of its own, handed
// over in bands so that it is never whole in memory: JPEG as encodeJpegBands, but for a
// file-size search over more planes than options.planeBudget, which makes the picture
// again for each attempt; PNG and TIFF written row by row through libpng and libtiff with
// the pixels, profile and resolution Qt's writers give (which need the whole picture).
QByteArray encodeBands(QSize size, const BandSourceMaker& make, const Options& options,
                       QString* error = nullptr);
// What encodeBands makes, written atomically as writeData does. A PNG, and a TIFF without
// metadata, go to the disk as libpng and libtiff make them (into the temporary file that
// is then renamed), so the finished file is never held in memory; a JPEG and a TIFF with
// metadata are finished in memory first.
bool writeBands(QSize size, const BandSourceMaker& make, const Options& options,
                const QString& path, QString* error = nullptr);

// Encodes and writes atomically (QSaveFile); false leaves any old file untouched.
bool writeImage(const QImage& image, const QString& path, const Options& options,
                QString* error = nullptr);
// Writes encoded data atomically, as writeImage does.
bool writeData(const QByteArray& data, const QString& path, QString* error = nullptr);

} // namespace ImageWriter
