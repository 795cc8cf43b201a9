#include "output/TiffBandEncoder.h"

#include "foundation/FileManagerExtras.h"

#include <QCoreApplication>
#include <QImage>

#include <cerrno>
#include <cstring>
#include <memory>
#include <tiffio.h>
#include <unistd.h>

namespace TiffBandEncoder {

namespace {

// The file grows in memory, or in the file of fd; libtiff seeks back to write the
// directory's offsets.
struct Sink {
    QByteArray data;
    qint64 pos = 0;
    int fd = -1;
    qint64 fileSize = 0;
    int failure = 0; // errno of a failed read or write of the file
};

tmsize_t readSink(thandle_t handle, void* buffer, tmsize_t size)
{
    Sink* sink = static_cast<Sink*>(handle);
    if (sink->fd >= 0) {
        ssize_t n;
        do
            n = ::pread(sink->fd, buffer, size_t(size), off_t(sink->pos));
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            sink->failure = errno;
            return -1;
        }
        sink->pos += n;
        return tmsize_t(n);
    }
    const qint64 n = std::max<qint64>(0, std::min<qint64>(size, sink->data.size() - sink->pos));
    std::memcpy(buffer, sink->data.constData() + sink->pos, size_t(n));
    sink->pos += n;
    return tmsize_t(n);
}

tmsize_t writeToFile(Sink* sink, const char* buffer, tmsize_t size)
{
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(sink->fd, buffer + done, size_t(size - done), off_t(sink->pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            sink->failure = n < 0 ? errno : EIO;
            return 0; // a short write is libtiff's way of failing
        }
        done += n;
    }
    sink->pos += size;
    sink->fileSize = std::max(sink->fileSize, sink->pos);
    return size;
}

tmsize_t writeSink(thandle_t handle, void* buffer, tmsize_t size)
{
    Sink* sink = static_cast<Sink*>(handle);
    if (sink->fd >= 0)
        return writeToFile(sink, static_cast<const char*>(buffer), size);
    const qint64 end = sink->pos + size;
    // No exception may cross libtiff's C frames: a short write is its way of failing.
    try {
        if (end > sink->data.size())
            sink->data.resize(end);
    } catch (...) {
        return 0;
    }
    std::memcpy(sink->data.data() + sink->pos, buffer, size_t(size));
    sink->pos = end;
    return size;
}

toff_t seekSink(thandle_t handle, toff_t offset, int whence)
{
    Sink* sink = static_cast<Sink*>(handle);
    const qint64 size = sink->fd >= 0 ? sink->fileSize : sink->data.size();
    const qint64 base = whence == SEEK_CUR ? sink->pos : whence == SEEK_END ? size : 0;
    sink->pos = base + qint64(offset);
    return toff_t(sink->pos);
}

int closeSink(thandle_t)
{
    return 0;
}

toff_t sizeOfSink(thandle_t handle)
{
    const Sink* sink = static_cast<Sink*>(handle);
    return toff_t(sink->fd >= 0 ? sink->fileSize : sink->data.size());
}

int noMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void noUnmap(thandle_t, void*, toff_t) {}

// As Qt's writer: strips of about 4 MB.
quint32 stripRows(TIFF* tiff)
{
    const qint64 scanSize = std::max<qint64>(1, qint64(TIFFScanlineSize(tiff)));
    const qint64 rows = std::clamp<qint64>((4 * 1024 * 1024) / scanSize, 1, UINT_MAX);
    return TIFFDefaultStripSize(tiff, quint32(rows));
}

bool writeHeader(TIFF* tiff, QSize size, const QImage& first, const QColorSpace& space, bool alpha)
{
    const int dpmX = first.dotsPerMeterX();
    const int dpmY = first.dotsPerMeterY();
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, size.width()) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, size.height()) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (dpmX % 100 == 0 && dpmY % 100 == 0)
        ok = ok && TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER) &&
             TIFFSetField(tiff, TIFFTAG_XRESOLUTION, dpmX / 100.0) &&
             TIFFSetField(tiff, TIFFTAG_YRESOLUTION, dpmY / 100.0);
    else
        ok = ok && TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
             TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(first.logicalDpiX())) &&
             TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(first.logicalDpiY()));
    ok = ok && TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (ok && space.isValid()) {
        const QByteArray profile = space.iccProfile();
        ok = !profile.isEmpty() &&
             TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(profile.size()), profile.constData());
    }
    const uint16_t extraSamples = EXTRASAMPLE_ASSOCALPHA;
    return ok && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, alpha ? 4 : 3) &&
           TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
           (!alpha || TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extraSamples)) &&
           TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, stripRows(tiff));
}

// Into the sink; false on failure with the reason in *error, or with sink->failure set
// when its file refused.
bool writeTo(Sink* sink, QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space,
             bool alpha, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = QCoreApplication::translate("TiffBandEncoder",
                                                 "The picture could not be encoded as TIFF: %1")
                         .arg(why);
        return false;
    };
    if (size.isEmpty())
        return fail(QCoreApplication::translate("TiffBandEncoder", "it is empty."));
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFClientOpen("velluma", "w", sink, readSink,
                                                               writeSink, seekSink, closeSink,
                                                               sizeOfSink, noMap, noUnmap),
                                                TIFFClose);
    if (!tiff)
        return fail(QCoreApplication::translate("TiffBandEncoder", "libtiff did not start."));
    QImage band;
    QImage rows;
    int row = 0;
    while (row < size.height()) {
        if (!bands(&band) || band.isNull() || band.width() != size.width())
            return fail(QCoreApplication::translate("TiffBandEncoder", "it could not be made."));
        // The resolution is that of every picture made, taken from the first band.
        if (row == 0 && !writeHeader(tiff.get(), size, band, space, alpha))
            return fail(QCoreApplication::translate("TiffBandEncoder", "a tag was refused."));
        // Qt's writer hands libtiff the same bytes, converted from the whole picture.
        rows = band.convertToFormat(alpha ? QImage::Format_RGBA8888_Premultiplied
                                          : QImage::Format_RGB888);
        if (rows.isNull())
            return fail(QCoreApplication::translate("TiffBandEncoder", "out of memory."));
        const int count = std::min(rows.height(), size.height() - row);
        for (int y = 0; y < count; ++y, ++row)
            if (TIFFWriteScanline(tiff.get(), rows.scanLine(y), quint32(row)) != 1)
                return fail(QCoreApplication::translate("TiffBandEncoder", "a row was refused."));
    }
    // Closing writes the directory; only the sink can tell whether that went well.
    tiff.reset();
    return sink->failure == 0;
}

} // namespace

QByteArray encode(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space,
                  bool alpha, QString* error)
{
    Sink sink;
    return writeTo(&sink, size, bands, space, alpha, error) ? sink.data : QByteArray();
}

bool write(QSize size, const JpegEncoder::BandSource& bands, const QColorSpace& space, bool alpha,
           int fd, QString* error, QString* writeError)
{
    Sink sink;
    sink.fd = fd;
    QString why;
    if (writeTo(&sink, size, bands, space, alpha, &why))
        return true;
    if (sink.failure != 0) {
        if (writeError)
            *writeError = FileManagerExtras::systemError(sink.failure);
    } else if (error) {
        *error = why;
    }
    return false;
}

} // namespace TiffBandEncoder
