#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <vector>

// Baseline JPEG through libjpeg-turbo: quality q, 4:2:0, the standard tables, into memory.
//
// The picture is turned into YCbCr with halved chroma once, when the encoder is made, with
// the same integer arithmetic and edge replication libjpeg uses itself, so that every
// quality tried by the file-size search only pays for the DCT and the entropy coding. The
// files are byte for byte those of libjpeg's own RGB input path.
class JpegEncoder {
public:
    JpegEncoder() = default;
    // Transparent areas are laid over white: a JPEG has no alpha, and black (what the
    // plain colour channels of a transparent pixel hold) would be a surprise.
    explicit JpegEncoder(const QImage& image);

    bool isValid() const { return _width > 0 && _height > 0; }
    QSize size() const { return QSize(_width, _height); }

    void setIccProfile(const QByteArray& profile) { _iccProfile = profile; }
    QByteArray iccProfile() const { return _iccProfile; }

    // A complete JPEG file; empty on failure or when *cancel turns true on the way.
    // Safe to call from several threads at once.
    QByteArray encode(int quality, const std::atomic_bool* cancel = nullptr) const;

    // A smaller picture made of every `step`-th band of 16 rows: its files are about
    // 1/step the size of the full ones, which makes it a cheap size estimate.
    JpegEncoder sample(int step) const;
    int bandCount() const { return _yRows / 16; }

    // The same file made by libjpeg's own colour conversion from 8-bit RGB; used to check
    // that the prepared planes match it.
    static QByteArray encodeRgb(const QImage& image, int quality);

private:
    bool convertRows(const QImage& image, int firstPair, int lastPair);

    int _width = 0;
    int _height = 0;
    int _yStride = 0; // multiple of 16
    int _yRows = 0;   // multiple of 16, rows past the picture repeat its last row
    int _cStride = 0; // _yStride / 2
    int _cRows = 0;   // _yRows / 2
    std::vector<uint8_t> _y, _cb, _cr;
    QByteArray _iccProfile;
};
