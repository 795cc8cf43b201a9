#pragma once

#include "output/FileFormat.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <memory>

namespace Exiv2 {
class Image;
}

// The EXIF, IPTC and XMP of a photo plus its colour profile, held as a value so that the
// document can keep it and hand it to the writers. Everything is read through Exiv2, which
// throws on hostile files: a file whose metadata cannot be read simply has none.
class ImageMetadata {
public:
    ImageMetadata();
    ImageMetadata(const ImageMetadata& other);
    ImageMetadata& operator=(const ImageMetadata& other);
    ImageMetadata(ImageMetadata&&) noexcept;
    ImageMetadata& operator=(ImageMetadata&&) noexcept;
    ~ImageMetadata();

    // The raw blocks of formats Exiv2 does not read or write: EXIF as a TIFF structure
    // (from its byte-order mark), an XMP packet, an ICC profile.
    struct Blocks {
        QByteArray exif;
        QByteArray xmp;
        QByteArray icc;
    };
    // The blocks to write beside pixels of pixelSize, prepared as combineData prepares
    // them (orientation 1, the pixel dimensions, no structure tags or thumbnail).
    Blocks blocksForFile(QSize pixelSize) const;

    // Empty on any failure.
    static ImageMetadata metadataForFile(const QString& path);
    // The same from encoded data in memory.
    static ImageMetadata metadataForData(const QByteArray& data);

    bool isEmpty() const;
    bool hasExif() const;
    bool hasIptc() const;
    bool hasXmp() const;
    QByteArray iccProfile() const;

    // Single values for callers and tests, e.g. "Exif.Image.Orientation",
    // "Iptc.Application2.Caption", "Xmp.dc.title". Empty when absent.
    QString value(const QString& key) const;
    // Exif.Image.Orientation (1 to 8), 1 when absent or out of range.
    int orientation() const;

    // Attaches to encoded JPEG or TIFF data in memory: Orientation becomes 1 (the pixels
    // are upright), the pixel dimensions become pixelSize, a stale thumbnail is dropped.
    // PNG (102), empty metadata and any failure give the data unchanged.
    QByteArray combineData(const QByteArray& encoded, FileFormat format, QSize pixelSize) const;

    // Puts a colour profile into encoded JPEG, PNG or TIFF data through Exiv2, for the
    // profiles Qt cannot parse (and so would not write). The data unchanged on failure.
    static QByteArray attachIccProfile(const QByteArray& encoded, const QByteArray& profile);

private:
    static ImageMetadata fromImage(Exiv2::Image& image);
    static ImageMetadata fromBlocksLocked(const Blocks& blocks);

    struct Data;
    std::unique_ptr<Data> _d;
};
