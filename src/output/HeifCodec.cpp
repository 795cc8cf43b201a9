#include "output/HeifCodec.h"

#include "foundation/Logging.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QFile>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace HeifCodec {

namespace {

// libheif refuses pictures wider or taller than this before it allocates anything. It is
// well above what the pixel count allows, so that a file claiming too much hears what it
// claims from the count checked after.
constexpr int MaxSide = 1 << 20;

struct ContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

QString message(const heif_error& error)
{
    // libheif's messages end in a line break or a full stop; ours add the stop.
    QString text = QString::fromUtf8(error.message ? error.message : "unknown error").trimmed();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

// The primary image of the file, or null with the reason.
Handle openPrimary(const QString& path, Context* context, QString* why)
{
    initialise();
    context->reset(heif_context_alloc());
    if (!*context) {
        *why = QCoreApplication::translate("HeifCodec", "out of memory");
        return {};
    }
    heif_context_set_maximum_image_size_limit(context->get(), MaxSide);
    heif_error error =
        heif_context_read_from_file(context->get(), QFile::encodeName(path).constData(), nullptr);
    if (error.code != heif_error_Ok) {
        *why = message(error);
        return {};
    }
    heif_image_handle* handle = nullptr;
    error = heif_context_get_primary_image_handle(context->get(), &handle);
    if (error.code != heif_error_Ok || !handle) {
        *why = message(error);
        return {};
    }
    return Handle(handle);
}

void releaseImage(void* image)
{
    heif_image_release(static_cast<heif_image*>(image));
}

} // namespace

bool isHeifFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(1024);
    initialise();
    return head.size() >= 12 &&
           heif_check_filetype(reinterpret_cast<const uint8_t*>(head.constData()),
                               int(head.size())) != heif_filetype_no;
}

QImage read(const QString& path, qint64 maxPixels, QString* why)
{
    Context context;
    const Handle handle = openPrimary(path, &context, why);
    if (!handle)
        return {};
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0 || qint64(width) * height > maxPixels) {
        *why =
            QCoreApplication::translate("HeifCodec", "it is %1 x %2 pixels").arg(width).arg(height);
        return {};
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    heif_decoding_options* options = heif_decoding_options_alloc();
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(
        handle.get(), &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    heif_decoding_options_free(options);
    if (error.code != heif_error_Ok || !decoded) {
        *why = message(error);
        return {};
    }
    int stride = 0;
    uint8_t* pixels = heif_image_get_plane(decoded, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(decoded, heif_channel_interleaved);
    const int h = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!pixels || w <= 0 || h <= 0 ||
        heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved) != 8) {
        heif_image_release(decoded);
        *why = QCoreApplication::translate("HeifCodec", "its pixels could not be converted");
        return {};
    }
    const QImage::Format format = !alpha ? QImage::Format_RGB888
                                  : heif_image_handle_is_premultiplied_alpha(handle.get())
                                      ? QImage::Format_RGBA8888_Premultiplied
                                      : QImage::Format_RGBA8888;
    // The decoded plane is the picture's memory from here on: a photo is not held twice.
    QImage image(pixels, w, h, stride, format, releaseImage, decoded);
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle.get());
    if (iccSize > 0 && iccSize < (size_t(1) << 24)) {
        QByteArray icc(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code == heif_error_Ok)
            image.setColorSpace(QColorSpace::fromIccProfile(icc));
    }
    return image;
}

ImageMetadata::Blocks readMetadata(const QString& path)
{
    ImageMetadata::Blocks blocks;
    Context context;
    QString why;
    const Handle handle = openPrimary(path, &context, &why);
    if (!handle) {
        qCWarning(lcVelluma, "Reading the metadata of a HEIF file: %s", qUtf8Printable(why));
        return blocks;
    }
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr);
    std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
    heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), count);
    for (const heif_item_id id : ids) {
        const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
        if (size == 0 || size > (size_t(1) << 24))
            continue;
        QByteArray data(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle.get(), id, data.data()).code != heif_error_Ok)
            continue;
        const char* type = heif_image_handle_get_metadata_type(handle.get(), id);
        const char* contentType = heif_image_handle_get_metadata_content_type(handle.get(), id);
        if (type && std::strcmp(type, "Exif") == 0 && data.size() >= 4) {
            // The TIFF structure follows a 4-byte offset from the end of that offset.
            const quint32 offset = (quint32(uchar(data[0])) << 24) |
                                   (quint32(uchar(data[1])) << 16) |
                                   (quint32(uchar(data[2])) << 8) | quint32(uchar(data[3]));
            if (offset < quint32(data.size() - 4))
                blocks.exif = data.mid(4 + qsizetype(offset));
        } else if (contentType && std::strcmp(contentType, "application/rdf+xml") == 0) {
            blocks.xmp = data;
        }
    }
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle.get());
    if (iccSize > 0 && iccSize < (size_t(1) << 24)) {
        blocks.icc = QByteArray(qsizetype(iccSize), Qt::Uninitialized);
        if (heif_image_handle_get_raw_color_profile(handle.get(), blocks.icc.data()).code !=
            heif_error_Ok)
            blocks.icc.clear();
    }
    return blocks;
}

} // namespace HeifCodec
