#include "output/PngBandEncoder.h"

#include <QCoreApplication>
#include <QImage>

#include <csetjmp>
#include <png.h>

namespace PngBandEncoder {

namespace {

struct Writer {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const Sink* sink = nullptr;
    bool sinkRefused = false;
    QString message;
    ~Writer() { png_destroy_write_struct(&png, &info); }
};

void takeData(png_structp png, png_bytep bytes, png_size_t length)
{
    // No exception may cross libpng's C frames: running out of memory ends the file as an
    // error of libpng's.
    Writer* w = static_cast<Writer*>(png_get_io_ptr(png));
    bool taken = false;
    try {
        taken = (*w->sink)(reinterpret_cast<const char*>(bytes), qint64(length));
        w->sinkRefused = !taken;
    } catch (...) {
        taken = false;
    }
    if (!taken)
        png_error(png, w->sinkRefused ? "the file could not be written" : "out of memory");
}

void noFlush(png_structp) {}

void onError(png_structp png, png_const_charp message)
{
    static_cast<Writer*>(png_get_error_ptr(png))->message = QString::fromUtf8(message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp: everything with a destructor lives in *w, made before
// the jump point, and no C++ frame lies between a libpng call and this function.
bool writeRows(Writer* w, QSize size, const JpegEncoder::BandSource& bands,
               const QColorSpace& space, bool alpha, QImage* band, QImage* rows,
               QByteArray* profile, QByteArray* profileName)
{
    if (setjmp(png_jmpbuf(w->png)))
        return false;
    png_set_write_fn(w->png, w, takeData, noFlush);
    // Qt's default zlib level would take three times as long for files no smaller.
    png_set_compression_level(w->png, 4);
    png_set_IHDR(w->png, w->info, png_uint_32(size.width()), png_uint_32(size.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (space.isValid()) {
        *profile = space.iccProfile();
        *profileName = space.description().toLatin1();
        if (profileName->isEmpty())
            *profileName = QByteArrayLiteral("Custom");
        png_set_iCCP(w->png, w->info, profileName->constData(), PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(profile->constData()),
                     png_uint_32(profile->size()));
    }
    int row = 0;
    bool headerWritten = false;
    while (row < size.height()) {
        if (!bands(band) || band->isNull() || band->width() != size.width()) {
            w->message =
                QCoreApplication::translate("PngBandEncoder", "The picture could not be made.");
            return false;
        }
        if (!headerWritten) {
            // The resolution is that of every picture made, taken from the first band.
            if (band->dotsPerMeterX() > 0 || band->dotsPerMeterY() > 0)
                png_set_pHYs(w->png, w->info, png_uint_32(band->dotsPerMeterX()),
                             png_uint_32(band->dotsPerMeterY()), PNG_RESOLUTION_METER);
            png_write_info(w->png, w->info);
            // Qt's 0xAARRGGBB lies in memory as B, G, R, A.
            png_set_bgr(w->png);
            if (!alpha)
                png_set_filler(w->png, 0, PNG_FILLER_AFTER);
            headerWritten = true;
        }
        // Unpremultiplied as Qt's writer converts the whole picture: row by row the same.
        *rows = band->convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (rows->isNull()) {
            w->message = QCoreApplication::translate("PngBandEncoder", "Out of memory.");
            return false;
        }
        const int count = std::min(rows->height(), size.height() - row);
        for (int y = 0; y < count; ++y)
            png_write_row(w->png, rows->constScanLine(y));
        row += count;
    }
    png_write_end(w->png, w->info);
    return true;
}

} // namespace

bool write(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space, bool alpha,
           const Sink& sink, QString* error)
{
    Writer w;
    w.sink = &sink;
    if (size.isEmpty())
        return false;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, onError, onWarning);
    if (w.png)
        w.info = png_create_info_struct(w.png);
    QImage band;
    QImage rows;
    QByteArray profile;
    QByteArray profileName;
    if (!w.info ||
        !writeRows(&w, size, bands, space, alpha, &band, &rows, &profile, &profileName)) {
        if (error && !w.sinkRefused)
            *error = QCoreApplication::translate("PngBandEncoder",
                                                 "The picture could not be encoded as PNG: %1")
                         .arg(w.message);
        return false;
    }
    return true;
}

QByteArray encode(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space,
                  bool alpha, QString* error)
{
    QByteArray data;
    const Sink append = [&data](const char* bytes, qint64 count) {
        data.append(bytes, qsizetype(count));
        return true;
    };
    return write(size, bands, space, alpha, append, error) ? data : QByteArray();
}

} // namespace PngBandEncoder
