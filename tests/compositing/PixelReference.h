#pragma once

#include <QColor>
#include <QImage>
#include <QRandomGenerator>
#include <QTest>

#include <array>
#include <cmath>
#include <optional>

// Small generated images and the pixel arithmetic the compositing tests expect, written
// plainly per pixel, independently of the engine's packed and vector code.
namespace PixelReference {

using Components = std::optional<std::array<float, 3>>;

// Random Grayscale8, RGB32 or ARGB32 pixels; a quarter of the alphas 0, a quarter 255.
inline QImage randomImage(int w, int h, QImage::Format format, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage image(w, h, format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (format == QImage::Format_Grayscale8) {
                image.scanLine(y)[x] = uchar(rng.bounded(256));
                continue;
            }
            const int r = rng.bounded(256), g = rng.bounded(256), b = rng.bounded(256);
            image.setPixel(
                x, y,
                qRgba(r, g, b,
                      image.hasAlphaChannel() ? std::clamp(rng.bounded(512) - 128, 0, 255) : 255));
        }
    return image;
}

// Gray mask frame: a white border `edge` pixels wide, two ramp steps, a black opening.
inline QImage frameMask(int w, int h, int edge = 2, bool inverted = false)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int d = std::min({x, y, w - 1 - x, h - 1 - y});
            const int v = d < edge ? 255 : d == edge ? 180 : d == edge + 1 ? 40 : 0;
            image.scanLine(y)[x] = uchar(inverted ? 255 - v : v);
        }
    return image;
}

inline Components components(const std::optional<QColor>& color)
{
    if (!color)
        return std::nullopt;
    return std::array<float, 3>{float(color->redF()), float(color->greenF()),
                                float(color->blueF())};
}

// (R + G + B) / 3 in integers: the gray byte of a gray mask.
inline int maskValue(const QImage& mask, int x, int y)
{
    const QRgb c = mask.pixel(x, y);
    return (qRed(c) + qGreen(c) + qBlue(c)) / 3;
}

inline QRgb& word(QImage& image, int x, int y)
{
    return reinterpret_cast<QRgb*>(image.scanLine(y))[x];
}

inline QRgb premultipliedAt(const QImage& image, int x, int y)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied)
        return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
    return qPremultiply(image.pixel(x, y));
}

// A quarter turn of an 8- or 32-bit image. Clockwise, output (x, y) comes from source
// (y, h - 1 - x); counter-clockwise from (w - 1 - y, x): the top right corner goes top left.
inline QImage turned(const QImage& image, bool clockwise)
{
    const int w = image.width(), h = image.height(), bytes = image.depth() / 8;
    QImage out(h, w, image.format());
    out.setColorTable(image.colorTable());
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < h; ++x) {
            const int sx = clockwise ? y : w - 1 - y;
            const int sy = clockwise ? h - 1 - x : x;
            std::copy_n(image.constScanLine(sy) + sx * bytes, bytes, out.scanLine(y) + x * bytes);
        }
    return out;
}

// Premultiplied overlay pixels for mask values m: alpha m, colour rintf(component x m).
inline QImage expectedOverlay(const QImage& mask, const Components& c, bool inverse, bool turn)
{
    QImage out(mask.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x) {
            const int m = inverse ? 255 - maskValue(mask, x, y) : maskValue(mask, x, y);
            auto tint = [m, &c](int i) { return c ? int(std::nearbyintf((*c)[i] * float(m))) : 0; };
            word(out, x, y) = qRgba(tint(0), tint(1), tint(2), m);
        }
    return turn ? turned(out, false) : out;
}

// The first pixel where the images differ as premultiplied ARGB; empty when they agree.
inline QString pixelDifference(const QImage& actual, const QImage& expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = premultipliedAt(actual, x, y);
            const QRgb e = premultipliedAt(expected, x, y);
            if (a != e)
                return QString::asprintf("pixel %d,%d is %08x, expected %08x", x, y, a, e);
        }
    return {};
}

} // namespace PixelReference

// An optional third argument names the case in the failure message.
#define COMPARE_PIXELS(actual, expected, ...)                                                      \
    do {                                                                                           \
        const QString difference = PixelReference::pixelDifference(actual, expected);              \
        if (!difference.isEmpty())                                                                 \
            QFAIL(qPrintable(QString(__VA_ARGS__) + QLatin1Char(' ') + difference));               \
    } while (false)
