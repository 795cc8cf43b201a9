#pragma once

// Phone and web pictures made in the test through the codec libraries themselves, so that
// no command-line tool is needed: HEIC or AVIF through libheif, JPEG XL through libjxl.

#include <QByteArray>
#include <QImage>

#include <jxl/encode.h>
#include <libheif/heif.h>

// `orientation` asks libheif for the rotation and mirror boxes that turn the stored
// pixels into `image`; `exif` (a TIFF structure) goes in beside it.
inline QByteArray heifFile(const QImage& image,
                           heif_compression_format codec = heif_compression_HEVC,
                           heif_orientation orientation = heif_orientation_normal,
                           const QByteArray& exif = {})
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_image* picture = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                      &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, codec, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, picture, encoder, options, &handle);
    if (!exif.isEmpty())
        heif_context_add_exif_metadata(context, handle, exif.constData(), int(exif.size()));
    QByteArray out;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* userdata) {
                           static_cast<QByteArray*>(userdata)->append(
                               static_cast<const char*>(data), qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(context, &writer, &out);
    heif_encoding_options_free(options);
    heif_image_handle_release(handle);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(picture);
    return out;
}

// Lossless, so that the pixels read back are the ones given.
inline QByteArray jxlFile(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(rgb.width());
    info.ysize = uint32_t(rgb.height());
    info.bits_per_sample = 8;
    info.uses_original_profile = JXL_TRUE;
    JxlEncoderSetBasicInfo(encoder, &info);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    JxlEncoderSetColorEncoding(encoder, &colour);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    QByteArray packed;
    for (int y = 0; y < rgb.height(); ++y)
        packed.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderAddImageFrame(settings, &format, packed.constData(), size_t(packed.size()));
    JxlEncoderCloseInput(encoder);
    // Lossless stays near the size of the pixels; empty if it did not fit after all.
    QByteArray out(packed.size() * 2 + 4096, '\0');
    uint8_t* next = reinterpret_cast<uint8_t*>(out.data());
    size_t left = size_t(out.size());
    const bool done = JxlEncoderProcessOutput(encoder, &next, &left) == JXL_ENC_SUCCESS;
    out.truncate(done ? out.size() - qsizetype(left) : 0);
    JxlEncoderDestroy(encoder);
    return out;
}
