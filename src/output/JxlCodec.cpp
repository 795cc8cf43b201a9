#include "output/JxlCodec.h"

#include "foundation/Logging.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QFile>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <algorithm>
#include <cstring>

namespace JxlCodec {

namespace {

// Metadata boxes larger than this are not kept.
constexpr size_t MaxBoxBytes = size_t(1) << 24;

struct Decoded {
    QImage image;
    ImageMetadata::Blocks blocks;
    QString why;
};

QString damaged()
{
    return QCoreApplication::translate("JxlCodec", "the data is damaged or ends early");
}

// One pass over the file: the pixels, or the profile and metadata boxes only.
Decoded decode(const QString& path, qint64 maxPixels, bool pixels)
{
    Decoded out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.why = file.errorString();
        return out;
    }
    const qint64 size = file.size();
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (!data) {
        out.why = QCoreApplication::translate("JxlCodec", "the data ends early");
        return out;
    }
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner = JxlThreadParallelRunnerMake(
        nullptr, std::min<size_t>(2, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
    JxlDecoder* dec = decoder.get();
    int events = JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING;
    events |= pixels ? JXL_DEC_FULL_IMAGE : JXL_DEC_BOX;
    if (!dec || JxlDecoderSubscribeEvents(dec, events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(dec, JxlThreadParallelRunner, runner.get()) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec, data, size_t(size)) != JXL_DEC_SUCCESS) {
        out.why = QCoreApplication::translate("JxlCodec", "out of memory");
        return out;
    }
    // The input is left open while it can be: libjxl prints a line on the terminal each time
    // a closed input runs short, and the whole file is given anyway.
    bool closed = false;
    if (!pixels)
        JxlDecoderSetDecompressBoxes(dec, JXL_TRUE);

    JxlBasicInfo info{};
    JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
    QByteArray icc;
    QByteArray box;
    QByteArray* boxTarget = nullptr;
    const auto finishBox = [&] {
        if (!boxTarget)
            return;
        const size_t left = JxlDecoderReleaseBoxBuffer(dec);
        box.truncate(box.size() - qsizetype(left));
        *boxTarget = box;
        boxTarget = nullptr;
    };
    const auto finish = [&] {
        if (pixels) {
            out.why = QCoreApplication::translate("JxlCodec", "it holds no picture");
            out.image = QImage();
        }
        // The EXIF box starts with the offset of the TIFF structure after it.
        if (out.blocks.exif.size() >= 4) {
            const QByteArray& e = out.blocks.exif;
            const quint32 offset = (quint32(uchar(e[0])) << 24) | (quint32(uchar(e[1])) << 16) |
                                   (quint32(uchar(e[2])) << 8) | quint32(uchar(e[3]));
            out.blocks.exif =
                offset < quint32(e.size() - 4) ? e.mid(4 + qsizetype(offset)) : QByteArray();
        } else {
            out.blocks.exif.clear();
        }
        return out;
    };
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
        switch (status) {
        case JXL_DEC_ERROR:
            out.image = QImage();
            out.why = damaged();
            return out;
        case JXL_DEC_NEED_MORE_INPUT:
            // With all of the file given, the picture is cut short. A wanted box may run to
            // the end of the file: closing the input tells the decoder that it is whole.
            if (!pixels && !boxTarget)
                return finish();
            if (!pixels && !closed) {
                JxlDecoderCloseInput(dec);
                closed = true;
                break;
            }
            out.image = QImage();
            out.why = QCoreApplication::translate("JxlCodec", "the data ends early");
            return out;
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS) {
                out.why = damaged();
                return out;
            }
            if (pixels && qint64(info.xsize) * info.ysize > maxPixels) {
                out.why = QCoreApplication::translate(
                              "JxlCodec", "it is %1 x %2 pixels, more than Velluma opens")
                              .arg(info.xsize)
                              .arg(info.ysize);
                return out;
            }
            format.num_channels = info.alpha_bits > 0 ? 4 : 3;
            break;
        case JXL_DEC_COLOR_ENCODING: {
            size_t iccSize = 0;
            if (JxlDecoderGetICCProfileSize(dec, &format, JXL_COLOR_PROFILE_TARGET_DATA,
                                            &iccSize) == JXL_DEC_SUCCESS &&
                iccSize > 0 && iccSize < MaxBoxBytes) {
                icc.resize(qsizetype(iccSize));
                if (JxlDecoderGetColorAsICCProfile(dec, &format, JXL_COLOR_PROFILE_TARGET_DATA,
                                                   reinterpret_cast<uint8_t*>(icc.data()),
                                                   iccSize) != JXL_DEC_SUCCESS)
                    icc.clear();
            }
            out.blocks.icc = icc;
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            // The size was checked against the limit at the basic info.
            out.image =
                QImage(int(info.xsize), int(info.ysize),
                       format.num_channels == 4 ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
            size_t needed = 0;
            if (out.image.isNull() ||
                JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS ||
                needed > size_t(out.image.sizeInBytes()) ||
                JxlDecoderSetImageOutBuffer(dec, &format, out.image.bits(),
                                            size_t(out.image.sizeInBytes())) != JXL_DEC_SUCCESS) {
                out.image = QImage();
                out.why = QCoreApplication::translate("JxlCodec", "out of memory");
                return out;
            }
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            // The first frame is the picture; an animation's others are not wanted.
            if (!icc.isEmpty())
                out.image.setColorSpace(QColorSpace::fromIccProfile(icc));
            return out;
        case JXL_DEC_BOX: {
            finishBox();
            JxlBoxType type{};
            if (JxlDecoderGetBoxType(dec, type, JXL_TRUE) != JXL_DEC_SUCCESS)
                break;
            if (std::memcmp(type, "Exif", 4) == 0)
                boxTarget = &out.blocks.exif;
            else if (std::memcmp(type, "xml ", 4) == 0)
                boxTarget = &out.blocks.xmp;
            if (boxTarget) {
                box = QByteArray(1 << 16, Qt::Uninitialized);
                JxlDecoderSetBoxBuffer(dec, reinterpret_cast<uint8_t*>(box.data()),
                                       size_t(box.size()));
            }
            break;
        }
        case JXL_DEC_BOX_NEED_MORE_OUTPUT: {
            const size_t left = JxlDecoderReleaseBoxBuffer(dec);
            const qsizetype filled = box.size() - qsizetype(left);
            if (size_t(box.size()) * 2 > MaxBoxBytes) {
                boxTarget = nullptr;
                break;
            }
            box.resize(box.size() * 2);
            JxlDecoderSetBoxBuffer(dec, reinterpret_cast<uint8_t*>(box.data()) + filled,
                                   size_t(box.size() - filled));
            break;
        }
        case JXL_DEC_SUCCESS:
            finishBox();
            return finish();
        default:
            break;
        }
    }
}

} // namespace

bool isJxlFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    const JxlSignature signature =
        JxlSignatureCheck(reinterpret_cast<const uint8_t*>(head.constData()), size_t(head.size()));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

QImage read(const QString& path, qint64 maxPixels, QString* why)
{
    Decoded decoded = decode(path, maxPixels, true);
    if (decoded.image.isNull())
        *why = decoded.why;
    return decoded.image;
}

ImageMetadata::Blocks readMetadata(const QString& path)
{
    Decoded decoded = decode(path, 0, false);
    if (!decoded.why.isEmpty())
        qCWarning(lcVelluma, "Reading the metadata of a JPEG XL file: %s",
                  qUtf8Printable(decoded.why));
    return decoded.blocks;
}

} // namespace JxlCodec
