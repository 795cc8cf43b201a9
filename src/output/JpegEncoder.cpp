#include "output/JpegEncoder.h"

#include "foundation/Logging.h"

#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <future>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Between the setjmp in compress() and libjpeg's error exit lie only plain C frames:
// libjpeg's own, compress() and the callbacks below. None of them holds an object with a
// destructor or is inside a catch handler when the error exit jumps, and no C++ exception
// ever passes through them.

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void logLibjpegMessage(j_common_ptr cinfo, const char* prefix) noexcept
{
    if (!lcVelluma().isWarningEnabled())
        return;
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    try {
        qCWarning(lcVelluma, "%s: %s", prefix, text);
    } catch (...) {
        // Nothing may unwind into libjpeg; a message that cannot be logged is dropped.
    }
}

// libjpeg's warnings would go to stderr by default.
void outputMessage(j_common_ptr cinfo)
{
    logLibjpegMessage(cinfo, "libjpeg");
}

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    logLibjpegMessage(cinfo, "JPEG encoding failed");
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

struct ByteArrayDestination {
    jpeg_destination_mgr pub;
    QByteArray* out;
    qsizetype initialSize;
};

// The one place where the destination meets C++ exceptions; the handler is over before the
// caller reports the failure to libjpeg.
bool resizeOutput(QByteArray* out, qsizetype size) noexcept
{
    try {
        out->resize(size);
        return true;
    } catch (...) {
        Logging::logCaughtException("Growing the JPEG output buffer");
        return false;
    }
}

void initDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<ByteArrayDestination*>(cinfo->dest);
    if (!resizeOutput(dest->out, dest->initialSize))
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(dest->out->data());
    dest->pub.free_in_buffer = size_t(dest->out->size());
}

boolean emptyDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<ByteArrayDestination*>(cinfo->dest);
    const qsizetype used = dest->out->size();
    if (!resizeOutput(dest->out, used * 2))
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(dest->out->data()) + used;
    dest->pub.free_in_buffer = size_t(dest->out->size() - used);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<ByteArrayDestination*>(cinfo->dest);
    if (!resizeOutput(dest->out, dest->out->size() - qsizetype(dest->pub.free_in_buffer)))
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
}

// One encode as libjpeg sees it: plain pointers and numbers only.
struct CompressJob {
    int width = 0;
    int height = 0;
    int quality = 0;
    // Prepared 4:2:0 planes with their rows repeated up to whole blocks...
    const uint8_t* y = nullptr;
    const uint8_t* cb = nullptr;
    const uint8_t* cr = nullptr;
    size_t yStride = 0;
    size_t cStride = 0;
    // ...or handed out 16 rows at a time (false: stop)...
    bool (*nextRows)(void* context, size_t row, JSAMPROW* y, JSAMPROW* cb, JSAMPROW* cr) = nullptr;
    void* context = nullptr;
    // ...or, when neither is set, 8-bit RGB rows for libjpeg's own colour conversion.
    const uint8_t* rgb = nullptr;
    size_t rgbStride = 0;
    const JOCTET* icc = nullptr;
    unsigned iccSize = 0;
    const std::atomic_bool* cancel = nullptr;
    qsizetype initialSize = 0;
};

enum class CompressStatus { Done, Failed, Cancelled };

// The only function that calls setjmp; see the note at the top of this namespace. The
// caller destroys cinfo whatever the outcome.
CompressStatus compress(const CompressJob& job, jpeg_compress_struct* cinfo, ErrorManager* err,
                        ByteArrayDestination* dest)
{
    if (setjmp(err->jump))
        return CompressStatus::Failed;
    jpeg_create_compress(cinfo);
    cinfo->dest = &dest->pub;
    cinfo->image_width = JDIMENSION(job.width);
    cinfo->image_height = JDIMENSION(job.height);
    cinfo->input_components = 3;
    const bool raw = job.y || job.nextRows;
    cinfo->in_color_space = raw ? JCS_YCbCr : JCS_RGB;
    jpeg_set_defaults(cinfo); // YCbCr with luma 2x2 and chroma 1x1: 4:2:0
    jpeg_set_quality(cinfo, job.quality, TRUE);
    if (!raw) {
        jpeg_start_compress(cinfo, TRUE);
        while (cinfo->next_scanline < cinfo->image_height) {
            JSAMPROW row = const_cast<JSAMPLE*>(job.rgb + cinfo->next_scanline * job.rgbStride);
            jpeg_write_scanlines(cinfo, &row, 1);
        }
        jpeg_finish_compress(cinfo);
        return CompressStatus::Done;
    }
    cinfo->raw_data_in = TRUE;
    jpeg_start_compress(cinfo, TRUE);
    if (job.icc)
        jpeg_write_icc_profile(cinfo, job.icc, job.iccSize);
    JSAMPROW yRows[16], cbRows[8], crRows[8];
    JSAMPARRAY planes[3] = {yRows, cbRows, crRows};
    while (cinfo->next_scanline < cinfo->image_height) {
        if (job.cancel && job.cancel->load(std::memory_order_relaxed))
            return CompressStatus::Cancelled;
        const size_t row = cinfo->next_scanline;
        if (job.nextRows) {
            if (!job.nextRows(job.context, row, yRows, cbRows, crRows))
                return CompressStatus::Failed;
            jpeg_write_raw_data(cinfo, planes, 16);
            continue;
        }
        for (size_t i = 0; i < 16; ++i)
            yRows[i] = const_cast<JSAMPLE*>(job.y + (row + i) * job.yStride);
        for (size_t i = 0; i < 8; ++i) {
            cbRows[i] = const_cast<JSAMPLE*>(job.cb + (row / 2 + i) * job.cStride);
            crRows[i] = const_cast<JSAMPLE*>(job.cr + (row / 2 + i) * job.cStride);
        }
        jpeg_write_raw_data(cinfo, planes, 16);
    }
    jpeg_finish_compress(cinfo);
    return CompressStatus::Done;
}

QByteArray runCompress(const CompressJob& job)
{
    QByteArray out;
    jpeg_compress_struct cinfo = {};
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = outputMessage;
    ByteArrayDestination dest;
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyDestination;
    dest.pub.term_destination = termDestination;
    dest.out = &out;
    dest.initialSize = std::max<qsizetype>(job.initialSize, 65536);
    const CompressStatus status = compress(job, &cinfo, &err, &dest);
    jpeg_destroy_compress(&cinfo);
    if (status != CompressStatus::Done)
        return {};
    return out;
}

// libjpeg's RGB to YCbCr arithmetic (jccolor.c): 16 fraction bits, Y rounded to nearest,
// Cb and Cr with a rounding of one half minus one so that 255 is never exceeded. Written
// as plain multiply-adds over whole rows rather than libjpeg's tables so that the compiler
// can vectorise it; the sums are the same.
constexpr int ScaleBits = 16;
constexpr int32_t fix(double x)
{
    // x is a positive coefficient, so adding 0.5 rounds correctly; lround is not constexpr.
    // NOLINTNEXTLINE(bugprone-incorrect-roundings)
    return int32_t(x * (1 << ScaleBits) + 0.5);
}
constexpr int32_t YR = fix(0.29900), YG = fix(0.58700), YB = fix(0.11400);
constexpr int32_t CbR = fix(0.16874), CbG = fix(0.33126), Half = fix(0.5);
constexpr int32_t CrG = fix(0.41869), CrB = fix(0.08131);
constexpr int32_t OneHalf = 1 << (ScaleBits - 1);
constexpr int32_t ChromaOffset = (128 << ScaleBits) + OneHalf - 1;

// One row: premultiplied pixels laid over white, then Y at full width and Cb, Cr at full
// width (halved later with the row below).
#if defined(__x86_64__) && defined(__GNUC__)
#define VELLUMA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VELLUMA_VECTOR_CLONES
#endif

VELLUMA_VECTOR_CLONES
void convertRow(const QRgb* __restrict px, int width, uint8_t* __restrict y, uint8_t* __restrict cb,
                uint8_t* __restrict cr)
{
    for (int x = 0; x < width; ++x) {
        const QRgb p = px[x];
        // Premultiplied over white: colour plus what the alpha leaves uncovered.
        const int32_t uncovered = 255 - int32_t(p >> 24);
        const int32_t r = int32_t((p >> 16) & 0xff) + uncovered;
        const int32_t g = int32_t((p >> 8) & 0xff) + uncovered;
        const int32_t b = int32_t(p & 0xff) + uncovered;
        y[x] = uint8_t((YR * r + YG * g + YB * b + OneHalf) >> ScaleBits);
        cb[x] = uint8_t((Half * b - CbR * r - CbG * g + ChromaOffset) >> ScaleBits);
        cr[x] = uint8_t((Half * r - CrG * g - CrB * b + ChromaOffset) >> ScaleBits);
    }
}

// jcsample.c h2v2_downsample: the rounding bias alternates 1, 2 along the row.
VELLUMA_VECTOR_CLONES
void halveRows(const uint8_t* __restrict a, const uint8_t* __restrict b, int outWidth,
               uint8_t* __restrict out)
{
    for (int x = 0; x < outWidth; ++x) {
        const int i = x * 2;
        out[x] = uint8_t((a[i] + a[i + 1] + b[i] + b[i + 1] + 1 + (x & 1)) >> 2);
    }
}

bool isDirectFormat(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

constexpr int PairsPerChunk = 32;

} // namespace

JpegEncoder::JpegEncoder(const QImage& image)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return;
    const int width = image.width();
    const int height = image.height();
    if (!allocate(image.size(), (height + 15) / 16 * 16))
        return;

    // Each chunk of row pairs is independent, so the conversion uses every core.
    const int pairs = (height + 1) / 2;
    QList<int> chunks;
    for (int p = 0; p < pairs; p += PairsPerChunk)
        chunks.append(p);
    std::atomic_bool failed = false;
    QtConcurrent::blockingMap(chunks, [&](int first) {
        if (!convertRows(image, 0, first, std::min(first + PairsPerChunk, pairs)))
            failed = true;
    });
    if (failed) {
        qCWarning(lcVelluma, "Preparing the picture for JPEG: out of memory converting %dx%d",
                  width, height);
        *this = JpegEncoder();
        return;
    }
    repeatLastRows();
}

bool JpegEncoder::convertRows(const QImage& image, int imageFirstRow, int firstPair, int lastPair)
{
    const int firstRow = firstPair * 2;
    const int lastRow = std::min(lastPair * 2, _height); // exclusive
    const bool direct = isDirectFormat(image.format());
    QImage band;
    if (!direct) {
        band = image.copy(0, firstRow - imageFirstRow, _width, lastRow - firstRow)
                   .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (band.isNull())
            return false; // out of memory
    }
    auto rowPixels = [&](int row) {
        row = std::min(row, _height - 1);
        if (direct)
            return reinterpret_cast<const QRgb*>(image.constScanLine(row - imageFirstRow));
        return reinterpret_cast<const QRgb*>(band.constScanLine(row - firstRow));
    };

    // Full-resolution chroma of the two rows of a pair, padded to twice the chroma width.
    const int paddedWidth = _cStride * 2;
    std::vector<uint8_t> cb0(paddedWidth), cb1(paddedWidth), cr0(paddedWidth), cr1(paddedWidth);
    for (int pair = firstPair; pair < lastPair; ++pair) {
        for (int half = 0; half < 2; ++half) {
            const int row = pair * 2 + half;
            uint8_t* y = &_y[size_t(row - _firstPair * 2) * _yStride];
            uint8_t* cb = half ? cb1.data() : cb0.data();
            uint8_t* cr = half ? cr1.data() : cr0.data();
            convertRow(rowPixels(row), _width, y, cb, cr);
            // libjpeg repeats the last column up to whole blocks.
            std::fill(y + _width, y + _yStride, y[_width - 1]);
            std::fill(cb + _width, cb + paddedWidth, cb[_width - 1]);
            std::fill(cr + _width, cr + paddedWidth, cr[_width - 1]);
        }
        const size_t c = size_t(pair - _firstPair) * _cStride;
        halveRows(cb0.data(), cb1.data(), _cStride, &_cb[c]);
        halveRows(cr0.data(), cr1.data(), _cStride, &_cr[c]);
    }
    return true;
}

bool JpegEncoder::allocate(QSize size, int rows)
{
    _width = size.width();
    _height = size.height();
    _yStride = (_width + 15) / 16 * 16;
    _yRows = (_height + 15) / 16 * 16;
    _cStride = _yStride / 2;
    _cRows = _yRows / 2;
    const int held = std::min(rows, _yRows);
    try {
        _y.resize(size_t(_yStride) * size_t(held));
        _cb.resize(size_t(_cStride) * size_t(held / 2));
        _cr.resize(_cb.size());
    } catch (...) {
        Logging::logCaughtException("Preparing the picture for JPEG");
        *this = JpegEncoder();
        return false;
    }
    return true;
}

void JpegEncoder::repeatLastRows()
{
    // Below the picture libjpeg repeats the last row of each plane.
    const int pairs = (_height + 1) / 2;
    const size_t yFirst = size_t(_firstPair) * 2;
    const size_t cFirst = size_t(_firstPair);
    for (int row = _height; row < _yRows; ++row)
        std::copy_n(&_y[(size_t(_height - 1) - yFirst) * _yStride], _yStride,
                    &_y[(size_t(row) - yFirst) * _yStride]);
    for (int row = pairs; row < _cRows; ++row) {
        std::copy_n(&_cb[(size_t(pairs - 1) - cFirst) * _cStride], _cStride,
                    &_cb[(size_t(row) - cFirst) * _cStride]);
        std::copy_n(&_cr[(size_t(pairs - 1) - cFirst) * _cStride], _cStride,
                    &_cr[(size_t(row) - cFirst) * _cStride]);
    }
}

bool JpegEncoder::convertBand(const QImage& band, int firstRow)
{
    const int rows = band.height();
    if (band.isNull() || band.width() != _width || firstRow % 16 != 0 ||
        firstRow + rows > _height || (firstRow + rows < _height && rows % 16 != 0))
        return false;
    if (!convertRows(band, firstRow, firstRow / 2, (firstRow + rows + 1) / 2))
        return false;
    if (firstRow + rows == _height)
        repeatLastRows();
    return true;
}

JpegEncoder JpegEncoder::fromBands(QSize size, const BandSource& next)
{
    JpegEncoder encoder;
    if (size.isEmpty() || !encoder.allocate(size, (size.height() + 15) / 16 * 16))
        return {};
    QImage band;
    for (int row = 0; row < size.height(); row += band.height()) {
        if (!next(&band) || band.height() <= 0 || !encoder.convertBand(band, row))
            return {};
    }
    return encoder;
}

int JpegEncoder::prepareBand(const BandSource& next, QImage* band, int firstRow) noexcept
{
    try {
        if (!next(band) || band->height() <= 0)
            return -1;
        const int padded = std::min((band->height() + 15) / 16 * 16, _yRows - firstRow);
        if (_y.size() < size_t(_yStride) * size_t(padded)) {
            _y.resize(size_t(_yStride) * size_t(padded));
            _cb.resize(size_t(_cStride) * size_t(padded / 2));
            _cr.resize(_cb.size());
        }
        _firstPair = firstRow / 2;
        return convertBand(*band, firstRow) ? padded : -1;
    } catch (...) {
        Logging::logCaughtException("Preparing a band of the picture for JPEG");
        return -1;
    }
}

namespace {

// Two bands of planes: libjpeg encodes one while the next is read, composited and
// prepared on another thread, one band at a time and in order, so the source is never
// called twice at once.
struct PlaneStream {
    const JpegEncoder::BandSource* next;
    JpegEncoder planes[2];
    QImage bands[2];
    int current = 0;
    int bandEnd = 0;
    std::future<int> pending; // last: waited for before the planes it fills go
};

} // namespace

bool JpegEncoder::streamRows(void* context, size_t row, JSAMPROW* y, JSAMPROW* cb,
                             JSAMPROW* cr) noexcept
{
    auto* stream = static_cast<PlaneStream*>(context);
    if (int(row) >= stream->bandEnd) {
        int padded = -1;
        if (stream->pending.valid()) {
            padded = stream->pending.get();
            stream->current ^= 1;
        } else {
            const int c = stream->current;
            padded = stream->planes[c].prepareBand(*stream->next, &stream->bands[c], int(row));
        }
        if (padded < 0)
            return false;
        stream->bandEnd = int(row) + padded;
        const int other = stream->current ^ 1;
        if (stream->bandEnd < stream->planes[other]._yRows) {
            JpegEncoder* planes = &stream->planes[other];
            QImage* band = &stream->bands[other];
            const BandSource* next = stream->next;
            const int first = stream->bandEnd;
            try {
                stream->pending = std::async(std::launch::async, [planes, band, next, first] {
                    return planes->prepareBand(*next, band, first);
                });
            } catch (...) {
                // No thread to be had: the next band is prepared when it is asked for.
                Logging::logCaughtException("Starting a JPEG band thread");
            }
        }
    }
    const JpegEncoder& planes = stream->planes[stream->current];
    const size_t inBand = row - size_t(planes._firstPair) * 2;
    for (size_t i = 0; i < 16; ++i)
        y[i] = const_cast<JSAMPLE*>(&planes._y[(inBand + i) * planes._yStride]);
    for (size_t i = 0; i < 8; ++i) {
        cb[i] = const_cast<JSAMPLE*>(&planes._cb[(inBand / 2 + i) * planes._cStride]);
        cr[i] = const_cast<JSAMPLE*>(&planes._cr[(inBand / 2 + i) * planes._cStride]);
    }
    return true;
}

QByteArray JpegEncoder::encodeBands(QSize size, int quality, const QByteArray& iccProfile,
                                    const BandSource& next)
{
    if (size.isEmpty() || quality <= 0)
        return {};
    PlaneStream stream;
    stream.next = &next;
    if (!stream.planes[0].allocate(size, 0) || !stream.planes[1].allocate(size, 0))
        return {};
    CompressJob job;
    job.width = size.width();
    job.height = size.height();
    job.quality = std::min(quality, 100);
    job.nextRows = &JpegEncoder::streamRows;
    job.context = &stream;
    if (!iccProfile.isEmpty()) {
        job.icc = reinterpret_cast<const JOCTET*>(iccProfile.constData());
        job.iccSize = unsigned(iccProfile.size());
    }
    job.initialSize = qsizetype(size.width()) * size.height() / 6;
    return runCompress(job);
}

QByteArray JpegEncoder::encode(int quality, const std::atomic_bool* cancel) const
{
    if (!isValid() || quality <= 0)
        return {};
    CompressJob job;
    job.width = _width;
    job.height = _height;
    job.quality = std::min(quality, 100);
    job.y = _y.data();
    job.cb = _cb.data();
    job.cr = _cr.data();
    job.yStride = size_t(_yStride);
    job.cStride = size_t(_cStride);
    if (!_iccProfile.isEmpty()) {
        job.icc = reinterpret_cast<const JOCTET*>(_iccProfile.constData());
        job.iccSize = unsigned(_iccProfile.size());
    }
    job.cancel = cancel;
    job.initialSize = qsizetype(_width) * _height / 6;
    return runCompress(job);
}

JpegEncoder JpegEncoder::sample(int step) const
{
    JpegEncoder s;
    if (!isValid() || step < 1)
        return s;
    const int bands = bandCount();
    const int taken = (bands + step - 1) / step;
    s._width = _width;
    s._height = taken * 16;
    s._yStride = _yStride;
    s._yRows = taken * 16;
    s._cStride = _cStride;
    s._cRows = taken * 8;
    s._y.resize(size_t(s._yStride) * s._yRows);
    s._cb.resize(size_t(s._cStride) * s._cRows);
    s._cr.resize(s._cb.size());
    for (int i = 0; i < taken; ++i) {
        const int band = std::min(i * step + step / 2, bands - 1);
        std::copy_n(&_y[size_t(band) * 16 * _yStride], 16 * _yStride,
                    &s._y[size_t(i) * 16 * _yStride]);
        std::copy_n(&_cb[size_t(band) * 8 * _cStride], 8 * _cStride,
                    &s._cb[size_t(i) * 8 * _cStride]);
        std::copy_n(&_cr[size_t(band) * 8 * _cStride], 8 * _cStride,
                    &s._cr[size_t(i) * 8 * _cStride]);
    }
    return s;
}

QByteArray JpegEncoder::encodeRgb(const QImage& image, int quality)
{
    if (image.isNull() || quality <= 0)
        return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) {
        qCWarning(lcVelluma, "Converting the picture to RGB for JPEG: out of memory");
        return {};
    }
    CompressJob job;
    job.width = rgb.width();
    job.height = rgb.height();
    job.quality = std::min(quality, 100);
    job.rgb = rgb.constBits();
    job.rgbStride = size_t(rgb.bytesPerLine());
    return runCompress(job);
}
