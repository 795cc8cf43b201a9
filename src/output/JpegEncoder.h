#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Baseline JPEG through libjpeg-turbo: quality q, 4:2:0, the standard tables, into memory.
//
// The picture is turned into YCbCr with halved chroma once, when the encoder is made, with
// the same integer arithmetic and edge replication libjpeg uses itself, so that every
// quality tried by the file-size search only pays for the DCT and the entropy coding. The
// files are byte for byte those of libjpeg's own RGB input path.
class JpegEncoder {
public:
    // Hands out a picture from the top in bands of rows, one band a call: fills *band with
    // the next rows at the picture's width (a multiple of 16 rows but for the last band,
    // best RGB32 or ARGB32_Premultiplied). False stops the work.
    using BandSource = std::function<bool(QImage* band)>;

    JpegEncoder() = default;
    // Transparent areas are laid over white: a JPEG has no alpha, and black (what the
    // plain colour channels of a transparent pixel hold) would be a surprise.
    explicit JpegEncoder(const QImage& image);

    // The same encoder made from a picture handed over in bands: the whole picture is
    // never needed, only the prepared planes (1.5 bytes a pixel). Invalid on failure.
    static JpegEncoder fromBands(QSize size, const BandSource& next);

    // The file encode() makes for the picture handed over in bands, without the picture or
    // its planes ever being whole: each band is prepared when libjpeg asks for its rows.
    static QByteArray encodeBands(QSize size, int quality, const QByteArray& iccProfile,
                                  const BandSource& next);

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
    // Rows of image start at imageFirstRow; the planes held start at pair _firstPair.
    bool convertRows(const QImage& image, int imageFirstRow, int firstPair, int lastPair);
    bool allocate(QSize size, int rows);
    void repeatLastRows();
    bool convertBand(const QImage& band, int firstRow);
    // The next band from next into planes held from firstRow on; their rows, or -1.
    int prepareBand(const BandSource& next, QImage* band, int firstRow) noexcept;
    static bool streamRows(void* context, size_t row, unsigned char** y, unsigned char** cb,
                           unsigned char** cr) noexcept;

    int _width = 0;
    int _height = 0;
    int _yStride = 0;   // multiple of 16
    int _yRows = 0;     // multiple of 16, rows past the picture repeat its last row
    int _cStride = 0;   // _yStride / 2
    int _cRows = 0;     // _yRows / 2
    int _firstPair = 0; // the planes hold rows from 2 x _firstPair on
    std::vector<uint8_t> _y, _cb, _cr;
    QByteArray _iccProfile;
};
