#include "compositing/ImageProcessor.h"

#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

QImage ImageProcessor::flipImageHorizontal(const QImage& image)
{
    if (image.isNull())
        return {};
    // Keeps the pixel layout, so a flipped mask frame is still a mask frame.
    return image.mirrored(true, false);
}

QImage ImageProcessor::rotateCW(const QImage& image)
{
    if (image.isNull())
        return {};
    // A quarter turn is an exact pixel permutation for Qt, no resampling.
    return image.transformed(QTransform().rotate(90));
}

QImage ImageProcessor::rotateCCW(const QImage& image)
{
    if (image.isNull())
        return {};
    return image.transformed(QTransform().rotate(270));
}

QSize ImageProcessor::scaledSizeToFit(QSize image, QSize box)
{
    if (image.isEmpty())
        return {};
    const int w = image.width();
    const int h = image.height();
    const int boxW = std::max(box.width(), 0);
    const int boxH = std::max(box.height(), 0);
    if (boxW >= w && boxH >= h)
        return image;
    const float r = float(w) / float(h);
    int width, height;
    if (r > float(boxW) / float(boxH)) {
        width = boxW;
        height = int(std::roundf(float(boxW) / r));
    } else {
        width = int(std::roundf(r * float(boxH)));
        height = boxH;
    }
    // A very wide or tall photo would otherwise round to an image with no pixels.
    return QSize(std::max(width, 1), std::max(height, 1));
}

QImage ImageProcessor::scaleImageToFit(const QImage& image, QSize box)
{
    if (image.isNull())
        return {};
    const QSize size = scaledSizeToFit(image.size(), box);
    if (size == image.size())
        return copyImage(image);
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage ImageProcessor::copyImage(const QImage& image)
{
    // Implicit sharing: the copy detaches on its first write.
    return image;
}

int ImageProcessor::borderType(const QImage& border)
{
    if (border.isNull())
        return NoBorder;
    if (border.hasAlphaChannel())
        return AlphaBorder;
    switch (border.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Indexed8: // 8-bit palette entries without alpha
    case QImage::Format_RGB32:    // how Qt decodes an RGB JPEG or PNG
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
    case QImage::Format_RGBX8888:
        return MaskBorder;
    default:
        return NoBorder;
    }
}

bool ImageProcessor::isGrayscaleMask(const QImage& border)
{
    if (border.format() == QImage::Format_Grayscale8)
        return true;
    if (border.format() != QImage::Format_Indexed8)
        return false;
    const QList<QRgb> table = border.colorTable();
    return std::all_of(table.begin(), table.end(),
                       [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

QImage ImageProcessor::maskBitmap(const QImage& border)
{
    if (border.isNull())
        return {};
    if (border.format() == QImage::Format_Grayscale8 || border.format() == QImage::Format_RGB888 ||
        border.format() == QImage::Format_RGB32)
        return border;
    if (isGrayscaleMask(border)) {
        // Indexed8 with a gray palette: take the gray level, not Qt's weighted conversion.
        const QList<QRgb> table = border.colorTable();
        QImage gray(border.size(), QImage::Format_Grayscale8);
        for (int y = 0; y < border.height(); ++y) {
            const uchar* in = border.constScanLine(y);
            uchar* out = gray.scanLine(y);
            for (int x = 0; x < border.width(); ++x)
                out[x] = in[x] < table.size() ? uchar(qRed(table[in[x]])) : 0;
        }
        return gray;
    }
    return border.convertToFormat(QImage::Format_RGB888);
}

int ImageProcessor::orientation(QSize size)
{
    if (size.width() == size.height())
        return Square;
    return size.width() > size.height() ? Landscape : Portrait;
}

ImageProcessor::ColorComponents ImageProcessor::colorComponents(const std::optional<QColor>& color)
{
    if (!color || !color->isValid())
        return std::nullopt;
    QColor rgb = *color;
    if (rgb.spec() != QColor::Rgb && rgb.spec() != QColor::ExtendedRgb)
        rgb = rgb.toRgb();
    auto unit = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
    return std::array<float, 3>{unit(rgb.redF()), unit(rgb.greenF()), unit(rgb.blueF())};
}

QImage ImageProcessor::overlayFromGrayscaleRep(const QImage& mask,
                                               const std::optional<QColor>& color)
{
    return overlayFromMask(maskBitmap(mask), colorComponents(color), false);
}

QImage ImageProcessor::rotatedOverlayFromGrayscaleRep(const QImage& mask,
                                                      const std::optional<QColor>& color)
{
    return overlayFromMask(maskBitmap(mask), colorComponents(color), true);
}

QImage ImageProcessor::overlayFromRGBRep(const QImage& mask, const std::optional<QColor>& color)
{
    return overlayFromMask(maskBitmap(mask), colorComponents(color), false);
}

QImage ImageProcessor::rotatedOverlayFromRGBRep(const QImage& mask,
                                                const std::optional<QColor>& color)
{
    return overlayFromMask(maskBitmap(mask), colorComponents(color), true);
}

namespace {

// rintf of a single-precision product, low 8 bits kept.
uint32_t tint(float component, int m)
{
    return uint32_t(long(std::rintf(component * float(m)))) & 0xff;
}

// Output pixel for every raw key: the gray sample, or R + G + B of an RGB pixel.
std::vector<uint32_t> pixelTable(bool rgb, bool inverse, const ImageProcessor::ColorComponents& c)
{
    std::vector<uint32_t> table(rgb ? 766 : 256);
    for (size_t key = 0; key < table.size(); ++key) {
        int m = rgb ? int(key) / 3 : int(key);
        if (inverse)
            m = 255 - m;
        uint32_t r = 0, g = 0, b = 0;
        if (c) {
            r = tint((*c)[0], m);
            g = tint((*c)[1], m);
            b = tint((*c)[2], m);
        }
        table[key] = (uint32_t(m) << 24) | (r << 16) | (g << 8) | b;
    }
    return table;
}

} // namespace

namespace {

// Lookup key of a mask pixel: the gray sample, or R + G + B.
enum class MaskLayout { Gray, Rgb888, Rgb32 };

template <MaskLayout layout> inline unsigned maskKey(const uchar* row, int x)
{
    if constexpr (layout == MaskLayout::Gray) {
        return row[x];
    } else if constexpr (layout == MaskLayout::Rgb888) {
        return unsigned(row[3 * x]) + row[3 * x + 1] + row[3 * x + 2];
    } else {
        const QRgb c = reinterpret_cast<const QRgb*>(row)[x];
        return unsigned(qRed(c)) + qGreen(c) + qBlue(c);
    }
}

template <MaskLayout layout>
void fillOverlay(const QImage& mask, const std::vector<uint32_t>& table, bool rotated, QImage& out)
{
    const int w = mask.width();
    const int h = mask.height();
    uchar* const outBits = out.bits();
    const qsizetype outStride = out.bytesPerLine();
    if (!rotated) {
        for (int y = 0; y < h; ++y) {
            const uchar* in = mask.constScanLine(y);
            auto* px = reinterpret_cast<uint32_t*>(outBits + y * outStride);
            for (int x = 0; x < w; ++x)
                px[x] = table[maskKey<layout>(in, x)];
        }
        return;
    }
    // Output row k, column j comes from mask row j, column w - 1 - k. Small tiles keep the
    // reads and the writes within a few cache lines and pages.
    constexpr int tile = 32;
    for (int j0 = 0; j0 < h; j0 += tile) {
        const int j1 = std::min(j0 + tile, h);
        for (int k0 = 0; k0 < w; k0 += tile) {
            const int k1 = std::min(k0 + tile, w);
            for (int k = k0; k < k1; ++k) {
                auto* px = reinterpret_cast<uint32_t*>(outBits + k * outStride);
                for (int j = j0; j < j1; ++j)
                    px[j] = table[maskKey<layout>(mask.constScanLine(j), w - 1 - k)];
            }
        }
    }
}

} // namespace

QImage ImageProcessor::overlayFromMask(const QImage& maskIn, const ColorComponents& color,
                                       bool rotated)
{
    const QImage mask = maskBitmap(maskIn);
    if (mask.isNull())
        return {};
    const bool gray = mask.format() == QImage::Format_Grayscale8;
    const std::vector<uint32_t> table = pixelTable(!gray, isInverseImage(mask), color);
    QImage out = rotated ? QImage(mask.height(), mask.width(), QImage::Format_ARGB32_Premultiplied)
                         : QImage(mask.size(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return {};
    if (gray)
        fillOverlay<MaskLayout::Gray>(mask, table, rotated, out);
    else if (mask.format() == QImage::Format_RGB888)
        fillOverlay<MaskLayout::Rgb888>(mask, table, rotated, out);
    else
        fillOverlay<MaskLayout::Rgb32>(mask, table, rotated, out);
    return out;
}

bool ImageProcessor::isInverseImage(const QImage& mask)
{
    if (mask.isNull())
        return false;
    const int w = mask.width();
    const int h = mask.height();
    const unsigned outer = cornerBrightness(mask, 0.0f, 0.0f, float(w), float(h));
    const float ix = float(0.33 * w);
    const float iy = float(0.33 * h);
    const unsigned inner = cornerBrightness(mask, ix, iy, ix, iy);
    return int(outer) < int(inner);
}

unsigned ImageProcessor::cornerBrightness(const QImage& mask, float x, float y, float w, float h)
{
    const int x0 = int(x);
    const int y0 = int(y);
    const float farX = x + w - 1.0f;
    const float farY = y + h - 1.0f;
    const int x1 = int(farX);
    const int y1 = int(farY);
    return brightnessAt(mask, x0, y0) + brightnessAt(mask, x1, y0) + brightnessAt(mask, x1, y1) +
           brightnessAt(mask, x0, y1);
}

unsigned ImageProcessor::brightnessAt(const QImage& mask, int x, int y)
{
    if (x < 0 || y < 0 || x >= mask.width() || y >= mask.height())
        return 0;
    auto weighted = [](int r, int g, int b) {
        return unsigned(std::lrint(0.222 * r + 0.707 * g + 0.071 * b));
    };
    const uchar* row = mask.constScanLine(y);
    switch (mask.format()) {
    case QImage::Format_RGB888:
        return weighted(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    case QImage::Format_Grayscale8:
    case QImage::Format_Alpha8:
        return row[x];
    default: {
        const QRgb c = mask.pixel(x, y);
        return weighted(qRed(c), qGreen(c), qBlue(c));
    }
    }
}
