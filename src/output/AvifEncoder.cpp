#include "output/AvifEncoder.h"

#include "output/BoxWriter.h"

#include <QCoreApplication>

#include <aom/aom_encoder.h>
#include <aom/aomcx.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <vector>

namespace AvifEncoder {

namespace {

// aom's speed 0 (slowest) to 9. At 7 a 24-megapixel photo takes seconds rather than minutes,
// for files a few per cent larger than at the default of 6.
constexpr int AvifSpeed = 7;

// A photo is encoded as strips of about this many pixels, each its own AV1 picture, put
// together by the file's grid: aom's working memory grows with the picture it is given
// (some 330 MB for 24 megapixels, whatever its options); a strip's is near 30 MB, for files
// some 5% larger.
constexpr qint64 StripPixels = qint64(2) << 20;
// The grid's row count is a byte.
constexpr int MaxStrips = 256;
constexpr int MinTileSide = 64;

// Full-range BT.601 (the matrix the file declares) in 16-bit fixed point.
inline uchar lumaOf(int r, int g, int b)
{
    return uchar((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}
// From the sums of four pixels' channels.
inline uchar blueDifferenceOf(int r4, int g4, int b4)
{
    return uchar(std::clamp((-11059 * r4 - 21709 * g4 + 32768 * b4 + (128 << 18) + (1 << 17)) >> 18,
                            0, 255));
}
inline uchar redDifferenceOf(int r4, int g4, int b4)
{
    return uchar(
        std::clamp((32768 * r4 - 27439 * g4 - 5329 * b4 + (128 << 18) + (1 << 17)) >> 18, 0, 255));
}

struct AomDeleter {
    void operator()(aom_codec_ctx_t* codec) const
    {
        aom_codec_destroy(codec);
        delete codec;
    }
};

// One AV1 still picture: its OBUs without the temporal delimiter, and its sequence header.
struct Av1Picture {
    QByteArray obus;
    QByteArray sequenceHeader;
};

} // namespace

class AvifPicture {
public:
    int width = 0;
    int height = 0;
    int strips = 1;
    int stripHeight = 0;
    // 4:2:0 planes padded to an even width and to whole strips by repeating the edge.
    int lumaWidth = 0;
    std::vector<uchar> luma, blue, red;
    // Empty while every pixel is opaque.
    std::vector<uchar> alpha;
    int chromaWidth() const { return lumaWidth / 2; }
};

void AvifPictureDeleter::operator()(AvifPicture* picture) const
{
    delete picture;
}

AvifPicturePtr prepare(QSize size, const JpegEncoder::BandSource& bands, QString* why)
{
    auto picture = AvifPicturePtr(new AvifPicture);
    AvifPicture& p = *picture;
    p.width = size.width();
    p.height = size.height();
    const qint64 pixels = qint64(p.width) * p.height;
    p.strips = int(std::clamp<qint64>((pixels + StripPixels - 1) / StripPixels, 1, MaxStrips));
    // Grid tiles are at least 64 pixels each way.
    p.strips =
        p.width < MinTileSide ? 1 : std::clamp(p.strips, 1, std::max(1, p.height / MinTileSide));
    p.stripHeight = (p.height + p.strips - 1) / p.strips;
    p.stripHeight += p.stripHeight % 2;
    p.strips = (p.height + p.stripHeight - 1) / p.stripHeight;
    p.lumaWidth = p.width + p.width % 2;
    const qint64 lumaHeight = qint64(p.strips) * p.stripHeight;
    try {
        p.luma.resize(size_t(p.lumaWidth * lumaHeight));
        p.blue.resize(size_t(p.chromaWidth() * lumaHeight / 2));
        p.red.resize(p.blue.size());
    } catch (const std::bad_alloc&) {
        *why = QCoreApplication::translate("AvifEncoder", "out of memory");
        return {};
    }
    const qsizetype cw = p.chromaWidth();
    // Each chroma row sums the four pixels of its square; the second luma row completes it.
    std::vector<int> sums(size_t(cw) * 3);
    int row = 0;
    QImage band;
    while (row < p.height) {
        if (!bands(&band) || band.isNull() || band.width() != p.width) {
            *why = QCoreApplication::translate("AvifEncoder", "the picture could not be made");
            return {};
        }
        const QImage rgba = band.convertToFormat(QImage::Format_RGBA8888);
        const int rows = std::min(rgba.height(), p.height - row);
        for (int y = 0; y < rows; ++y, ++row) {
            const uchar* in = rgba.constScanLine(y);
            uchar* out = p.luma.data() + qsizetype(row) * p.lumaWidth;
            if (row % 2 == 0)
                std::fill(sums.begin(), sums.end(), 0);
            uchar all = 0xFF;
            for (int x = 0; x < p.lumaWidth; ++x) {
                const uchar* px = in + 4 * std::min(x, p.width - 1);
                out[x] = lumaOf(px[0], px[1], px[2]);
                int* s = sums.data() + 3 * (x / 2);
                s[0] += px[0], s[1] += px[1], s[2] += px[2];
                all &= px[3];
            }
            if (all != 0xFF && p.alpha.empty())
                p.alpha.assign(p.luma.size(), 0xFF);
            if (!p.alpha.empty()) {
                uchar* a = p.alpha.data() + qsizetype(row) * p.lumaWidth;
                for (int x = 0; x < p.lumaWidth; ++x)
                    a[x] = in[4 * std::min(x, p.width - 1) + 3];
            }
            if (row % 2 == 1 || row == p.height - 1) {
                // An odd last row stands for the row under it too.
                const int twice = row % 2 == 0 ? 2 : 1;
                uchar* b = p.blue.data() + qsizetype(row / 2) * cw;
                uchar* r = p.red.data() + qsizetype(row / 2) * cw;
                for (qsizetype x = 0; x < cw; ++x) {
                    const int* s = sums.data() + 3 * x;
                    b[x] = blueDifferenceOf(s[0] * twice, s[1] * twice, s[2] * twice);
                    r[x] = redDifferenceOf(s[0] * twice, s[1] * twice, s[2] * twice);
                }
            }
        }
    }
    // The last strip's rows beyond the picture repeat its last row.
    const int chromaRows = (p.height + 1) / 2;
    for (std::vector<uchar>* plane : {&p.luma, &p.alpha}) {
        for (qint64 y = p.height; !plane->empty() && y < lumaHeight; ++y)
            std::memcpy(plane->data() + y * p.lumaWidth,
                        plane->data() + (p.height - 1) * p.lumaWidth, size_t(p.lumaWidth));
    }
    for (qint64 y = chromaRows; y < lumaHeight / 2; ++y) {
        std::memcpy(p.blue.data() + y * cw, p.blue.data() + (chromaRows - 1) * cw, size_t(cw));
        std::memcpy(p.red.data() + y * cw, p.red.data() + (chromaRows - 1) * cw, size_t(cw));
    }
    return picture;
}

namespace {

// libheif's mapping of quality to aom's quantizer, kept so that a quality means the same
// whichever way the file is written.
int quantizerFor(int quality)
{
    return ((100 - std::clamp(quality, 0, 100)) * 63 + 50) / 100;
}

// Where the payload of the OBU starts, or -1.
qsizetype payloadOf(const QByteArray& obu)
{
    if (obu.isEmpty())
        return -1;
    qsizetype pos = 1 + ((uchar(obu[0]) & 4) ? 1 : 0);
    if (uchar(obu[0]) & 2) {
        while (pos < obu.size() && (uchar(obu[pos]) & 0x80))
            ++pos;
        ++pos;
    }
    return pos < obu.size() ? pos : -1;
}

// Encodes rows [top, top + rows) of the picture or of its alpha, `width` wide, as one AV1
// still picture.
bool encodeStrip(const AvifPicture& p, bool alpha, int top, int width, int rows, int quality,
                 Av1Picture* out, QString* why)
{
    aom_codec_iface_t* iface = aom_codec_av1_cx();
    aom_codec_enc_cfg_t cfg;
    if (aom_codec_enc_config_default(iface, &cfg, AOM_USAGE_ALL_INTRA) != AOM_CODEC_OK) {
        *why = QCoreApplication::translate("AvifEncoder", "the AV1 encoder could not be set up");
        return false;
    }
    cfg.g_w = unsigned(width);
    cfg.g_h = unsigned(rows);
    // One frame makes aom write the still picture's short sequence header.
    cfg.g_limit = 1;
    cfg.g_lag_in_frames = 0;
    cfg.kf_mode = AOM_KF_DISABLED;
    cfg.kf_max_dist = 0;
    cfg.g_profile = 0;
    cfg.g_bit_depth = AOM_BITS_8;
    cfg.g_input_bit_depth = 8;
    cfg.rc_end_usage = AOM_Q;
    cfg.rc_min_quantizer = 0;
    cfg.rc_max_quantizer = 63;
    cfg.g_threads = 2;
    cfg.monochrome = alpha ? 1 : 0;
    std::unique_ptr<aom_codec_ctx_t, AomDeleter> codec(new aom_codec_ctx_t{});
    if (aom_codec_enc_init(codec.get(), iface, &cfg, 0) != AOM_CODEC_OK) {
        delete codec.release();
        *why = QCoreApplication::translate("AvifEncoder", "the AV1 encoder could not be set up");
        return false;
    }
    aom_codec_control(codec.get(), AOME_SET_CPUUSED, AvifSpeed);
    aom_codec_control(codec.get(), AOME_SET_CQ_LEVEL, quantizerFor(quality));
    aom_codec_control(codec.get(), AV1E_SET_ROW_MT, 1);
    aom_codec_control(codec.get(), AV1E_SET_COLOR_RANGE, 1);
    aom_codec_control(codec.get(), AV1E_SET_CHROMA_SAMPLE_POSITION, AOM_CSP_UNKNOWN);
    aom_codec_control(codec.get(), AV1E_SET_COLOR_PRIMARIES, AOM_CICP_CP_BT_709);
    aom_codec_control(codec.get(), AV1E_SET_TRANSFER_CHARACTERISTICS, AOM_CICP_TC_SRGB);
    aom_codec_control(codec.get(), AV1E_SET_MATRIX_COEFFICIENTS, AOM_CICP_MC_BT_601);
    aom_codec_control(codec.get(), AOME_SET_TUNING, AOM_TUNE_SSIM);
    aom_codec_control(codec.get(), AV1E_SET_SKIP_POSTPROC_FILTERING, 1u);

    // aom reads the planes where they are; the alpha's chroma, which it ignores, is one
    // grey row.
    const std::vector<uchar> grey(alpha ? size_t(p.chromaWidth()) : 0, 128);
    const std::vector<uchar>& first = alpha ? p.alpha : p.luma;
    uchar* luma = const_cast<uchar*>(first.data()) + qsizetype(top) * p.lumaWidth;
    aom_image_t image;
    aom_img_wrap(&image, AOM_IMG_FMT_I420, unsigned(width), unsigned(rows), 1, luma);
    const qsizetype chromaOffset = qsizetype(top / 2) * p.chromaWidth();
    image.planes[AOM_PLANE_Y] = luma;
    image.planes[AOM_PLANE_U] =
        const_cast<uchar*>(alpha ? grey.data() : p.blue.data() + chromaOffset);
    image.planes[AOM_PLANE_V] =
        const_cast<uchar*>(alpha ? grey.data() : p.red.data() + chromaOffset);
    image.stride[AOM_PLANE_Y] = p.lumaWidth;
    image.stride[AOM_PLANE_U] = image.stride[AOM_PLANE_V] = alpha ? 0 : p.chromaWidth();
    image.monochrome = alpha ? 1 : 0;
    image.range = AOM_CR_FULL_RANGE;

    QByteArray stream;
    for (aom_image_t* frame : {&image, static_cast<aom_image_t*>(nullptr)}) {
        if (aom_codec_encode(codec.get(), frame, 0, 1, 0) != AOM_CODEC_OK) {
            *why = QCoreApplication::translate("AvifEncoder", "the AV1 encoder failed: %1")
                       .arg(QString::fromUtf8(aom_codec_error(codec.get())));
            return false;
        }
        aom_codec_iter_t iter = nullptr;
        while (const aom_codec_cx_pkt_t* packet = aom_codec_get_cx_data(codec.get(), &iter)) {
            if (packet->kind == AOM_CODEC_CX_FRAME_PKT)
                stream.append(static_cast<const char*>(packet->data.frame.buf),
                              qsizetype(packet->data.frame.sz));
        }
    }
    // OBUs: a header byte (type in bits 3-6, extension and size flags), an extension byte,
    // the size as LEB128, the payload.
    qsizetype at = 0;
    while (at < stream.size()) {
        const uchar header = uchar(stream[at]);
        const int type = (header >> 3) & 0xF;
        qsizetype pos = at + 1 + ((header & 4) ? 1 : 0);
        quint64 payload = 0;
        if (header & 2) {
            for (int shift = 0; pos < stream.size() && shift < 56; shift += 7) {
                const uchar byte = uchar(stream[pos++]);
                payload |= quint64(byte & 0x7F) << shift;
                if (!(byte & 0x80))
                    break;
            }
        } else {
            payload = quint64(stream.size() - pos);
        }
        if (payload > quint64(stream.size() - pos))
            break;
        const qsizetype next = pos + qsizetype(payload);
        if (type == 1)
            out->sequenceHeader = stream.mid(at, next - at);
        if (type != 2 && type != 15) // temporal delimiters and padding stay out of the item
            out->obus.append(stream.constData() + at, next - at);
        at = next;
    }
    // The configuration box copies the profile and level of the short sequence header.
    const qsizetype payload = payloadOf(out->sequenceHeader);
    if (at != stream.size() || payload < 0 || payload + 2 > out->sequenceHeader.size() ||
        !(uchar(out->sequenceHeader[payload]) & 0x08)) {
        *why = QCoreApplication::translate("AvifEncoder",
                                           "the AV1 encoder wrote an unexpected stream");
        return false;
    }
    return true;
}

// The 4 bytes of the AV1 configuration box before the sequence header: profile and level
// from the short sequence header, 8-bit 4:2:0.
QByteArray av1Config(const QByteArray& sequenceHeader, bool monochrome)
{
    const qsizetype pos = payloadOf(sequenceHeader);
    const uchar first = uchar(sequenceHeader[pos]);
    const uchar second = uchar(sequenceHeader[pos + 1]);
    const int profile = first >> 5;
    const int level = ((first & 7) << 2) | (second >> 6);
    QByteArray config;
    config.append(char(0x81));
    config.append(char((profile << 5) | level));
    // Main tier, 8 bits, 4:2:0, chroma position unknown.
    config.append(char(monochrome ? 0x1C : 0x0C));
    config.append(char(0));
    return config + sequenceHeader;
}

// The picture as one AV1 item or a grid of strips, its alpha likewise as an auxiliary
// picture, with the metadata items and the colour boxes.
QByteArray writeAvif(const AvifPicture& p, const std::vector<Av1Picture>& colour,
                     const std::vector<Av1Picture>& alpha, const ImageMetadata::Blocks& blocks)
{
    const int n = int(colour.size());
    const bool grid = n > 1;
    const bool hasAlpha = !alpha.empty();
    // Item numbers: the colour strips, the colour grid, the alpha strips, the alpha grid,
    // then the metadata.
    const int colourMain = grid ? n + 1 : 1;
    const int alphaFirst = colourMain + 1;
    const int alphaMain = !hasAlpha ? 0 : grid ? alphaFirst + n : alphaFirst;
    int nextId = (hasAlpha ? alphaMain : colourMain) + 1;
    const int exifId = blocks.exif.isEmpty() ? 0 : nextId++;
    const int xmpId = blocks.xmp.isEmpty() ? 0 : nextId++;
    QByteArray gridData;
    if (grid) {
        const bool wide = p.width > 0xFFFF || p.height > 0xFFFF;
        BoxWriter g;
        g.u8(0);
        g.u8(wide ? 1 : 0);
        g.u8(n - 1);
        g.u8(0);
        if (wide)
            g.u32(quint32(p.width)), g.u32(quint32(p.height));
        else
            g.u16(p.width), g.u16(p.height);
        gridData = g.data;
    }
    const QByteArray exif = exifId ? QByteArray(4, '\0') + blocks.exif : QByteArray();

    // Item payloads in the order they go into the media data box.
    std::vector<std::pair<int, const QByteArray*>> payloads;
    payloads.reserve(2 * size_t(n) + 2);
    for (int i = 0; i < n; ++i)
        payloads.emplace_back(i + 1, &colour[size_t(i)].obus);
    if (grid)
        payloads.emplace_back(colourMain, &gridData);
    for (int i = 0; hasAlpha && i < n; ++i)
        payloads.emplace_back(alphaFirst + i, &alpha[size_t(i)].obus);
    if (hasAlpha && grid)
        payloads.emplace_back(alphaMain, &gridData);
    if (exifId)
        payloads.emplace_back(exifId, &exif);
    if (xmpId)
        payloads.emplace_back(xmpId, &blocks.xmp);

    // The properties, numbered from 1, and each item's, the essential ones flagged.
    BoxWriter props;
    int propertyCount = 0;
    const auto property = [&](const char* type, int version,
                              const std::function<void(BoxWriter&)>& body) {
        props.begin(type, version);
        body(props);
        props.end();
        return ++propertyCount;
    };
    const auto ispe = [&](int width, int height) {
        return property("ispe", 0,
                        [&](BoxWriter& b) { b.u32(quint32(width)), b.u32(quint32(height)); });
    };
    const auto pixi = [&](int channels) {
        return property("pixi", 0, [&](BoxWriter& b) {
            b.u8(channels);
            for (int c = 0; c < channels; ++c)
                b.u8(8);
        });
    };
    constexpr int Essential = 1 << 15;
    std::map<int, std::vector<int>> associations;
    const int pictureSize = ispe(p.width, p.height);
    const int stripSize = grid ? ispe(p.lumaWidth, p.stripHeight) : pictureSize;
    std::vector<int> colours{property("colr", -1, [](BoxWriter& b) {
        b.text("nclx");
        b.u16(AOM_CICP_CP_BT_709), b.u16(AOM_CICP_TC_SRGB), b.u16(AOM_CICP_MC_BT_601);
        b.u8(0x80); // full range
    })};
    if (!blocks.icc.isEmpty())
        colours.push_back(property("colr", -1, [&](BoxWriter& b) {
            b.text("prof");
            b.data.append(blocks.icc);
        }));
    const int colourDepths = pixi(3);
    for (int i = 0; i < n; ++i) {
        const QByteArray config = av1Config(colour[size_t(i)].sequenceHeader, false);
        const int av1C = property("av1C", -1, [&](BoxWriter& b) { b.data.append(config); });
        associations[i + 1] = {stripSize, Essential | av1C, colourDepths};
    }
    if (grid)
        associations[colourMain] = {pictureSize, colourDepths};
    associations[colourMain].insert(associations[colourMain].end(), colours.begin(), colours.end());
    if (hasAlpha) {
        const int alphaDepths = pixi(1);
        const int auxiliary = property("auxC", 0, [](BoxWriter& b) {
            b.text("urn:mpeg:mpegB:cicp:systems:auxiliary:alpha", true);
        });
        for (int i = 0; i < n; ++i) {
            const QByteArray config = av1Config(alpha[size_t(i)].sequenceHeader, true);
            const int av1C = property("av1C", -1, [&](BoxWriter& b) { b.data.append(config); });
            associations[alphaFirst + i] = {stripSize, Essential | av1C, alphaDepths};
        }
        if (grid)
            associations[alphaMain] = {pictureSize, alphaDepths};
        associations[alphaMain].push_back(auxiliary);
    }

    BoxWriter w;
    w.begin("ftyp");
    w.text("avif");
    w.u32(0);
    w.text("avifmif1miaf");
    w.end();
    w.begin("meta", 0);
    w.begin("hdlr", 0);
    w.u32(0);
    w.text("pict");
    w.u32(0), w.u32(0), w.u32(0);
    w.u8(0);
    w.end();
    w.begin("pitm", 0);
    w.u16(colourMain);
    w.end();
    w.begin("iloc", 0);
    w.u8(0x44); // 4-byte offsets and lengths
    w.u8(0);
    w.u16(int(payloads.size()));
    std::vector<qsizetype> offsetFields;
    for (const auto& [id, bytes] : payloads) {
        w.u16(id);
        w.u16(0);
        w.u16(1);
        offsetFields.push_back(w.data.size());
        w.u32(0);
        w.u32(quint32(bytes->size()));
    }
    w.end();
    w.begin("iinf", 0);
    w.u16(nextId - 1);
    for (int id = 1; id < nextId; ++id) {
        // Strips are hidden: they are not pictures of their own.
        const bool strip = grid && (id <= n || (hasAlpha && id >= alphaFirst && id < alphaMain));
        w.begin("infe", 2, strip ? 1 : 0);
        w.u16(id);
        w.u16(0);
        w.text(id == exifId                                    ? "Exif"
               : id == xmpId                                   ? "mime"
               : grid && (id == colourMain || id == alphaMain) ? "grid"
                                                               : "av01");
        w.u8(0);
        if (id == xmpId)
            w.text("application/rdf+xml", true);
        w.end();
    }
    w.end();
    const auto reference = [&](const char* type, int from, const std::vector<int>& to) {
        w.begin(type);
        w.u16(from);
        w.u16(int(to.size()));
        for (const int id : to)
            w.u16(id);
        w.end();
    };
    if (grid || hasAlpha || exifId || xmpId) {
        w.begin("iref", 0);
        if (grid) {
            std::vector<int> strips(static_cast<size_t>(n));
            std::iota(strips.begin(), strips.end(), 1);
            reference("dimg", colourMain, strips);
            if (hasAlpha) {
                std::iota(strips.begin(), strips.end(), alphaFirst);
                reference("dimg", alphaMain, strips);
            }
        }
        if (hasAlpha)
            reference("auxl", alphaMain, {colourMain});
        for (const int id : {exifId, xmpId}) {
            if (id)
                reference("cdsc", id, {colourMain});
        }
        w.end();
    }
    w.begin("iprp");
    w.begin("ipco");
    w.data.append(props.data);
    w.end();
    const bool wideIndices = propertyCount > 127;
    w.begin("ipma", 0, wideIndices ? 1 : 0);
    w.u32(quint32(associations.size()));
    for (const auto& [id, list] : associations) {
        w.u16(id);
        w.u8(int(list.size()));
        for (const int a : list) {
            const bool essential = a & Essential;
            const int index = a & ~Essential;
            if (wideIndices)
                w.u16((essential ? 0x8000 : 0) | index);
            else
                w.u8((essential ? 0x80 : 0) | index);
        }
    }
    w.end();
    w.end();
    w.end(); // meta
    w.begin("mdat");
    for (size_t i = 0; i < payloads.size(); ++i) {
        w.patch32(offsetFields[i], quint32(w.data.size()));
        w.data.append(*payloads[i].second);
    }
    w.end();
    return w.data;
}

} // namespace

QByteArray encode(const AvifPicture& picture, int quality, const ImageMetadata::Blocks& blocks,
                  QString* why)
{
    const bool grid = picture.strips > 1;
    const int width = grid ? picture.lumaWidth : picture.width;
    const int rows = grid ? picture.stripHeight : picture.height;
    std::vector<Av1Picture> colour(size_t(picture.strips));
    std::vector<Av1Picture> alpha(picture.alpha.empty() ? 0 : size_t(picture.strips));
    for (int i = 0; i < picture.strips; ++i) {
        const int top = i * picture.stripHeight;
        if (!encodeStrip(picture, false, top, width, rows, quality, &colour[size_t(i)], why) ||
            (!alpha.empty() &&
             !encodeStrip(picture, true, top, width, rows, quality, &alpha[size_t(i)], why)))
            return {};
    }
    return writeAvif(picture, colour, alpha, blocks);
}

} // namespace AvifEncoder
