#include "output/WebpEncoder.h"

#include <QCoreApplication>

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>

namespace WebpEncoder {

namespace {

// libwebp's effort for lossless files: past 2 a large photo takes many times as long for
// files a few per cent smaller.
constexpr int LosslessLevel = 2;

QString failed(int code)
{
    return QCoreApplication::translate("WebpEncoder", "libwebp could not encode it (error %1)")
        .arg(code);
}

} // namespace

QImage prepare(QSize size, const JpegEncoder::BandSource& bands, QString* why)
{
    if (size.width() > WEBP_MAX_DIMENSION || size.height() > WEBP_MAX_DIMENSION) {
        *why = QCoreApplication::translate("WebpEncoder",
                                           "WebP pictures are at most %1 pixels wide and high")
                   .arg(WEBP_MAX_DIMENSION);
        return {};
    }
    QImage picture(size, QImage::Format_ARGB32);
    if (picture.isNull()) {
        *why = QCoreApplication::translate("WebpEncoder", "out of memory");
        return {};
    }
    int row = 0;
    QImage band;
    while (row < size.height()) {
        if (!bands(&band) || band.isNull() || band.width() != size.width()) {
            *why = QCoreApplication::translate("WebpEncoder", "the picture could not be made");
            return {};
        }
        const QImage plain = band.convertToFormat(QImage::Format_ARGB32);
        const int rows = std::min(plain.height(), size.height() - row);
        for (int y = 0; y < rows; ++y, ++row)
            std::memcpy(picture.scanLine(row), plain.constScanLine(y), size_t(size.width()) * 4);
    }
    return picture;
}

QByteArray encode(const QImage& picture, int quality, const ImageMetadata::Blocks& blocks,
                  QString* why)
{
    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        *why = failed(0);
        return {};
    }
    if (quality >= 100) {
        WebPConfigLosslessPreset(&config, LosslessLevel);
    } else {
        config.quality = float(std::clamp(quality, 0, 100));
        config.method = 4;
    }
    config.thread_level = 1;
    WebPPicture pic;
    WebPPictureInit(&pic);
    pic.use_argb = 1;
    pic.width = picture.width();
    pic.height = picture.height();
    // libwebp reads the picture where it is; what it makes of it (the YUV planes of a lossy
    // file) is its own and goes with WebPPictureFree.
    pic.argb = reinterpret_cast<uint32_t*>(const_cast<uchar*>(picture.constBits()));
    pic.argb_stride = int(picture.bytesPerLine() / 4);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    pic.writer = WebPMemoryWrite;
    pic.custom_ptr = &writer;
    const bool ok = WebPEncode(&config, &pic);
    const int code = pic.error_code;
    WebPPictureFree(&pic);
    if (!ok) {
        WebPMemoryWriterClear(&writer);
        *why = failed(code);
        return {};
    }
    QByteArray out(reinterpret_cast<const char*>(writer.mem), qsizetype(writer.size));
    WebPMemoryWriterClear(&writer);
    if (blocks.exif.isEmpty() && blocks.xmp.isEmpty() && blocks.icc.isEmpty())
        return out;

    WebPMux* mux = WebPMuxNew();
    const WebPData image{reinterpret_cast<const uint8_t*>(out.constData()), size_t(out.size())};
    WebPMuxError status = mux ? WebPMuxSetImage(mux, &image, 0) : WEBP_MUX_MEMORY_ERROR;
    const std::pair<const char*, const QByteArray*> chunks[] = {
        {"ICCP", &blocks.icc}, {"EXIF", &blocks.exif}, {"XMP ", &blocks.xmp}};
    for (const auto& [fourcc, data] : chunks) {
        if (status != WEBP_MUX_OK || data->isEmpty())
            continue;
        const WebPData chunk{reinterpret_cast<const uint8_t*>(data->constData()),
                             size_t(data->size())};
        status = WebPMuxSetChunk(mux, fourcc, &chunk, 0);
    }
    WebPData assembled{nullptr, 0};
    if (status == WEBP_MUX_OK)
        status = WebPMuxAssemble(mux, &assembled);
    WebPMuxDelete(mux);
    if (status != WEBP_MUX_OK) {
        WebPDataClear(&assembled);
        *why = QCoreApplication::translate("WebpEncoder", "its metadata could not be added");
        return {};
    }
    QByteArray full(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size));
    WebPDataClear(&assembled);
    return full;
}

} // namespace WebpEncoder
