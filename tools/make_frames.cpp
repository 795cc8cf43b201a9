// Draws the built-in frame library. Output is deterministic: no fonts, no clocks, and
// every irregular edge comes from a seeded hash, so a rerun reproduces the same files.
//
// Usage: make_frames <folder>   (normally resources/borders)

#include "foundation/PropertyList.h"
#include "frames/FrameLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace {

constexpr QSize Landscape(1200, 800);
constexpr QSize Portrait(800, 1200);
constexpr QSize Square(1000, 1000);
constexpr double Pi = 3.14159265358979323846;

double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

double smoothstep(double e0, double e1, double x)
{
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

uint32_t hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Smooth 1-D value noise in [-1, 1]: the same seed and position always give the same value.
double valueNoise(double t, uint32_t seed)
{
    const double f = std::floor(t);
    const double u = t - f;
    const auto at = [seed](int64_t i) {
        return double(hash32(uint32_t(i) * 2654435761U ^ seed) & 0xffff) / 32767.5 - 1.0;
    };
    const double s = u * u * (3 - 2 * u);
    return at(int64_t(f)) * (1 - s) + at(int64_t(f) + 1) * s;
}

double fractalNoise(double t, uint32_t seed, int octaves)
{
    double sum = 0, amplitude = 1, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * valueNoise(t, seed + uint32_t(o) * 7919U);
        norm += amplitude;
        amplitude *= 0.5;
        t *= 2.03;
    }
    return sum / norm;
}

// Per-pixel grain in [-1, 1].
double grain(int x, int y, uint32_t seed)
{
    return double(hash32(uint32_t(x) * 73856093U ^ uint32_t(y) * 19349663U ^ seed) & 0xffff) /
               32767.5 -
           1.0;
}

// Signed distance to a rounded rectangle centred in the image (negative inside).
double roundedRectDistance(double x, double y, QRectF rect, double radius)
{
    const double cx = rect.center().x(), cy = rect.center().y();
    const double hx = rect.width() / 2 - radius, hy = rect.height() / 2 - radius;
    const double qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

// Distance of a pixel centre from the nearest image edge, with the side (0 top, 1 right,
// 2 bottom, 3 left) and the position along that side.
struct EdgePosition {
    double distance;
    int side;
    double along;
};

EdgePosition edgePosition(int x, int y, QSize size)
{
    const double px = x + 0.5, py = y + 0.5;
    const double d[4] = {py, size.width() - px, size.height() - py, px};
    int side = int(std::min_element(d, d + 4) - d);
    const double along = (side == 0 || side == 2) ? px : py;
    return {d[side], side, along};
}

QImage grayFromFunction(QSize size, const std::function<double(int, int)>& frame)
{
    QImage image(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < size.width(); ++x)
            line[x] = uchar(std::lround(255.0 * clamp01(frame(x, y))));
    }
    return image;
}

// An RGB mask: the frame value carried by a warm colour, as an old scanned mask would be.
QImage rgbFromFunction(QSize size, const std::function<double(int, int)>& frame)
{
    QImage image(size, QImage::Format_RGB888);
    for (int y = 0; y < size.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < size.width(); ++x) {
            const double v = 255.0 * clamp01(frame(x, y));
            line[3 * x] = uchar(std::lround(std::min(255.0, v * 1.06)));
            line[3 * x + 1] = uchar(std::lround(v));
            line[3 * x + 2] = uchar(std::lround(v * 0.92));
        }
    }
    return image;
}

// A shape mask: the frame everywhere except inside the path, which lets the photo show.
QImage grayOutsidePath(QSize size, const QPainterPath& path)
{
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(path, Qt::black);
    p.end();
    return canvas.convertToFormat(QImage::Format_Grayscale8);
}

// The post mask of a shape: opaque outside the path, where the picture is cut away.
QImage postMaskOutsidePath(QSize size, const QPainterPath& path)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillPath(path, Qt::black);
    p.end();
    return canvas.convertToFormat(QImage::Format_ARGB32);
}

QImage argb(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage turned(const QImage& image)
{
    return image.transformed(QTransform().rotate(90));
}

// Classic borders: gray masks

QImage borderMask(QSize size, double border)
{
    const double t = border * std::min(size.width(), size.height());
    const QRectF opening(t, t, size.width() - 2 * t, size.height() - 2 * t);
    return grayFromFunction(size, [&](int x, int y) {
        return clamp01(0.5 + roundedRectDistance(x + 0.5, y + 0.5, opening, 0));
    });
}

QImage roundedMat(QSize size)
{
    const double m = std::min(size.width(), size.height());
    const double t = 0.075 * m;
    const QRectF opening(t, t, size.width() - 2 * t, size.height() - 2 * t);
    return grayFromFunction(size, [&](int x, int y) {
        return clamp01(0.5 + roundedRectDistance(x + 0.5, y + 0.5, opening, 0.07 * m));
    });
}

QImage doubleMat(QSize size)
{
    const double m = std::min(size.width(), size.height());
    const double outer = 0.075 * m, inner = outer + 0.028 * m;
    const QRectF o(outer, outer, size.width() - 2 * outer, size.height() - 2 * outer);
    const QRectF i(inner, inner, size.width() - 2 * inner, size.height() - 2 * inner);
    return grayFromFunction(size, [&](int x, int y) {
        const double a = clamp01(0.5 + roundedRectDistance(x + 0.5, y + 0.5, o, 0));
        const double b = clamp01(0.5 + roundedRectDistance(x + 0.5, y + 0.5, i, 0));
        return a + (1 - a) * 0.55 * b;
    });
}

QImage keyline(QSize size)
{
    const double m = std::min(size.width(), size.height());
    const double border = 0.055 * m, gap = border + 0.022 * m, line = 0.007 * m;
    const QRectF o(border, border, size.width() - 2 * border, size.height() - 2 * border);
    const QRectF g(gap, gap, size.width() - 2 * gap, size.height() - 2 * gap);
    return grayFromFunction(size, [&](int x, int y) {
        const double a = clamp01(0.5 + roundedRectDistance(x + 0.5, y + 0.5, o, 0));
        const double d = roundedRectDistance(x + 0.5, y + 0.5, g, 0);
        const double l = clamp01(0.5 + line / 2 - std::abs(d + line / 2));
        return std::max(a, l);
    });
}

QImage bevelMat(QSize size)
{
    const double m = std::min(size.width(), size.height());
    const double t = 0.09 * m, bevel = 0.016 * m;
    const QRectF outer(t - bevel, t - bevel, size.width() - 2 * (t - bevel),
                       size.height() - 2 * (t - bevel));
    const QRectF opening(t, t, size.width() - 2 * t, size.height() - 2 * t);
    return grayFromFunction(size, [&](int x, int y) {
        const double px = x + 0.5, py = y + 0.5;
        const double matPart = clamp01(0.5 + roundedRectDistance(px, py, outer, 0));
        const double bevelPart = clamp01(0.5 + roundedRectDistance(px, py, opening, 0));
        // The bevel's lit top and left faces read brighter than its bottom and right.
        const double dx = px - opening.left(), dy = py - opening.top();
        const double rx = opening.right() - px, ry = opening.bottom() - py;
        const double nearest = std::min({dx, dy, rx, ry});
        const double bevelShade = (nearest == dx || nearest == dy) ? 1.0 : 0.78;
        return matPart + (1 - matPart) * bevelPart * bevelShade;
    });
}

QImage galleryMat(QSize size)
{
    const double side = 0.1 * size.width();
    const double top = 0.1 * size.width();
    const double bottom = 0.1 * size.width() + 0.05 * size.height();
    const QRectF opening(side, top, size.width() - 2 * side, size.height() - top - bottom);
    return grayFromFunction(size, [&](int x, int y) {
        return clamp01(0.5 + roundedRectDistance(x + 0.5, y + 0.5, opening, 0));
    });
}

// Soft edges: vignettes and ovals

double ellipticRadius(int x, int y, QSize size, double ax, double ay)
{
    const double dx = (x + 0.5 - size.width() / 2.0) / (ax * size.width());
    const double dy = (y + 0.5 - size.height() / 2.0) / (ay * size.height());
    return std::hypot(dx, dy);
}

QImage softVignette(QSize size)
{
    return grayFromFunction(size, [&](int x, int y) {
        return smoothstep(0.72, 1.32, ellipticRadius(x, y, size, 0.5, 0.5));
    });
}

QImage oval(QSize size, double axis)
{
    const double px = axis * std::min(size.width(), size.height());
    return grayFromFunction(size, [&](int x, int y) {
        const double r = ellipticRadius(x, y, size, axis, axis);
        return clamp01(0.5 + (r - 1) * px);
    });
}

QImage softOval(QSize size)
{
    return grayFromFunction(size, [&](int x, int y) {
        return smoothstep(0.82, 1.06, ellipticRadius(x, y, size, 0.45, 0.45));
    });
}

double featheredEdgeValue(int x, int y, QSize size, double inset, double feather, double wobble,
                          uint32_t seed)
{
    const double m = std::min(size.width(), size.height());
    const QRectF opening(inset * m, inset * m, size.width() - 2 * inset * m,
                         size.height() - 2 * inset * m);
    double d = roundedRectDistance(x + 0.5, y + 0.5, opening, 0.05 * m);
    if (wobble > 0) {
        const EdgePosition e = edgePosition(x, y, size);
        d += wobble * m * fractalNoise(e.along / (0.09 * m), seed + uint32_t(e.side), 4);
    }
    return smoothstep(-feather * m, feather * 0.6 * m, d);
}

// Shapes

QPainterPath heartPath(QSize size)
{
    QPainterPath path;
    const double scale = std::min(size.width(), size.height()) / 38.0;
    const QPointF centre(size.width() / 2.0, size.height() / 2.0 + scale * 0.8);
    for (int i = 0; i <= 720; ++i) {
        const double t = 2 * Pi * i / 720;
        const double hx = 16 * std::pow(std::sin(t), 3);
        const double hy =
            13 * std::cos(t) - 5 * std::cos(2 * t) - 2 * std::cos(3 * t) - std::cos(4 * t);
        const QPointF p(centre.x() + hx * scale, centre.y() - hy * scale);
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

QPainterPath polarPath(QSize size, const std::function<double(double)>& radius)
{
    QPainterPath path;
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    for (int i = 0; i <= 1440; ++i) {
        const double a = 2 * Pi * i / 1440 - Pi / 2;
        const double r = radius(a + Pi / 2);
        const QPointF p(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

QPainterPath starPath(QSize size)
{
    QPainterPath path;
    const QPointF centre(size.width() / 2.0, size.height() / 2.0 + 0.03 * size.height());
    const double outer = 0.46 * std::min(size.width(), size.height());
    const double inner = outer * 0.5;
    for (int i = 0; i < 10; ++i) {
        const double a = -Pi / 2 + i * Pi / 5;
        const double r = (i % 2) ? inner : outer;
        const QPointF p(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

// Film and instant photos: alpha frames

void drawSprocketBand(QPainter& p, QRectF band, QColor base, QColor hole, QColor mark,
                      bool marksBelow)
{
    p.fillRect(band, base);
    const double holeW = band.height() * 0.28, holeH = band.height() * 0.4;
    const double pitch = holeW * 1.9;
    const int count = int(band.width() / pitch);
    const double start = band.left() + (band.width() - count * pitch) / 2 + (pitch - holeW) / 2;
    const double holeY = band.top() + (band.height() - holeH) / 2 +
                         (marksBelow ? -band.height() * 0.12 : band.height() * 0.12);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QRectF r(start + i * pitch, holeY, holeW, holeH);
        p.setBrush(hole);
        p.drawRoundedRect(r, holeW * 0.22, holeW * 0.22);
    }
    // Edge markings: short dashes and a small triangle pointer, like printed edge codes.
    p.setBrush(mark);
    const double markY =
        marksBelow ? band.bottom() - band.height() * 0.2 : band.top() + band.height() * 0.08;
    const double markH = band.height() * 0.12;
    for (int i = 0; i < count; i += 4) {
        const double x = start + i * pitch;
        p.drawRect(QRectF(x, markY, pitch * 1.3, markH * 0.45));
        QPolygonF tri;
        tri << QPointF(x + pitch * 2.2, markY)
            << QPointF(x + pitch * 2.2 + markH, markY + markH / 2)
            << QPointF(x + pitch * 2.2, markY + markH);
        p.drawPolygon(tri);
    }
}

QImage filmStrip(QSize size, QColor base, QColor hole, QColor mark, QColor tint)
{
    QImage image = argb(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double band = 0.15 * size.height();
    if (tint.alpha() > 0)
        p.fillRect(QRectF(0, band, size.width(), size.height() - 2 * band), tint);
    drawSprocketBand(p, QRectF(0, 0, size.width(), band), base, hole, mark, false);
    drawSprocketBand(p, QRectF(0, size.height() - band, size.width(), band), base, hole, mark,
                     true);
    // The gaps between neighbouring frames on the strip.
    const double gap = 0.022 * size.width();
    p.fillRect(QRectF(0, band, gap, size.height() - 2 * band), base);
    p.fillRect(QRectF(size.width() - gap, band, gap, size.height() - 2 * band), base);
    p.end();
    return image;
}

void innerShadow(QImage& image, QRectF opening, double width, int alpha)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < int(width); ++i) {
        const int a = int(alpha * (1.0 - i / width) * (1.0 - i / width));
        p.setPen(QPen(QColor(0, 0, 0, a), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(opening.adjusted(i + 0.5, i + 0.5, -i - 0.5, -i - 0.5));
    }
}

QImage instantPhoto(QSize size, double side, double bottom, uint32_t seed)
{
    QImage image = argb(size);
    const double m = std::min(size.width(), size.height());
    const QRectF opening(side * m, side * m, size.width() - 2 * side * m,
                         size.height() - side * m - bottom * size.height());
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            if (opening.contains(x + 0.5, y + 0.5))
                continue;
            // Matte card: faint grain and a slight fall-off towards the bottom.
            const double g = 2.0 * grain(x, y, seed) - 6.0 * y / size.height();
            line[x] = qRgba(int(246 + g), int(245 + g), int(239 + g), 255);
        }
    }
    innerShadow(image, opening, 0.012 * m, 110);
    return image;
}

QImage slideMount(QSize size)
{
    QImage image = argb(size);
    const double m = std::min(size.width(), size.height());
    const QRectF opening(0.17 * size.width(), 0.2 * size.height(), 0.66 * size.width(),
                         0.6 * size.height());
    const double radius = 0.035 * m;
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double d = roundedRectDistance(x + 0.5, y + 0.5, opening, radius);
            const double a = clamp01(0.5 + d);
            if (a <= 0)
                continue;
            // A thin shadow where the card is cut, as around a real mount's window.
            const double shade = -26 * std::exp(-std::max(d, 0.0) / (0.005 * m));
            const double g = 1.5 * grain(x, y, 77) + shade;
            const int r = int(std::clamp(236 + g, 0.0, 255.0));
            const int gg = int(std::clamp(233 + g, 0.0, 255.0));
            const int b = int(std::clamp(222 + g, 0.0, 255.0));
            line[x] = qPremultiply(qRgba(r, gg, b, int(255 * a)));
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(180, 176, 165), 0.004 * m));
    p.setBrush(Qt::NoBrush);
    const double inset = 0.045 * m;
    p.drawRoundedRect(QRectF(inset, inset, size.width() - 2 * inset, size.height() - 2 * inset),
                      0.02 * m, 0.02 * m);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 60, 50));
    p.drawEllipse(QPointF(0.085 * size.width(), size.height() / 2.0), 0.012 * m, 0.012 * m);
    p.end();
    return image;
}

// A paper border of the given width along all four edges.
void fillBorderRing(QPainter& p, QSize size, double edge, const QColor& color)
{
    QPainterPath ring;
    ring.addRect(QRectF(0, 0, size.width(), size.height()));
    ring.addRect(QRectF(edge, edge, size.width() - 2 * edge, size.height() - 2 * edge));
    p.fillPath(ring, color);
}

QImage photoCorners(QSize size)
{
    QImage image = argb(size);
    const double m = std::min(size.width(), size.height());
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double edge = 0.028 * m;
    fillBorderRing(p, size, edge, QColor(250, 250, 247));
    const double leg = 0.13 * m;
    for (int corner = 0; corner < 4; ++corner) {
        p.save();
        p.translate(corner == 1 || corner == 2 ? size.width() : 0, corner >= 2 ? size.height() : 0);
        p.rotate(90 * corner);
        QPolygonF tri;
        tri << QPointF(0, 0) << QPointF(leg, 0) << QPointF(0, leg);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(28, 26, 24));
        p.drawPolygon(tri);
        // The pocket's sheen along its long edge.
        p.setPen(QPen(QColor(255, 255, 255, 70), 0.004 * m));
        p.drawLine(QPointF(leg * 0.92, leg * 0.06), QPointF(leg * 0.06, leg * 0.92));
        p.restore();
    }
    p.end();
    return image;
}

// Paper and stamps: alpha frames, some with post masks

QImage tornPaper(QSize size, uint32_t seed)
{
    QImage image = argb(size);
    const double m = std::min(size.width(), size.height());
    const double base = 0.075 * m;
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const EdgePosition e = edgePosition(x, y, size);
            if (e.distance > base * 1.8)
                continue;
            const double n = fractalNoise(e.along / (0.05 * m), seed + uint32_t(e.side) * 31U, 5);
            const double tear = base + 0.028 * m * n;
            const double paper = clamp01(0.5 + tear - e.distance);
            // A ragged fringe of fibres just past the tear.
            const double fibre =
                clamp01(0.5 + tear + 0.006 * m - e.distance) * (0.45 + 0.35 * grain(x, y, seed));
            const double alpha = std::max(paper, fibre * 0.8);
            if (alpha <= 0)
                continue;
            const double g = 2.0 * grain(x, y, seed ^ 0x55U);
            const double shade = paper > 0.5 ? 0 : -14;
            line[x] =
                qPremultiply(qRgba(int(std::clamp(249 + g + shade, 0.0, 255.0)),
                                   int(std::clamp(248 + g + shade, 0.0, 255.0)),
                                   int(std::clamp(243 + g + shade, 0.0, 255.0)), int(255 * alpha)));
        }
    }
    return image;
}

// Outer edge carved by a function of the position along the edge: the frame's paper and
// the post mask that cuts away what lies outside it.
struct EdgedPaper {
    QImage frame;
    QImage postMask;
};

EdgedPaper edgedPaper(QSize size, double border, QColor paperColor, QColor lineColor,
                      const std::function<double(double along, int side, double m)>& outerEdge,
                      uint32_t seed)
{
    EdgedPaper out{argb(size), argb(size)};
    const double m = std::min(size.width(), size.height());
    const double inner = border * m;
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(out.frame.scanLine(y));
        QRgb* cut = reinterpret_cast<QRgb*>(out.postMask.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const EdgePosition e = edgePosition(x, y, size);
            const double outside = outerEdge(e.along, e.side, m); // depth cut from the edge
            const double cutAlpha = clamp01(0.5 + outside - e.distance);
            if (cutAlpha > 0)
                cut[x] = qPremultiply(qRgba(0, 0, 0, int(255 * cutAlpha)));
            if (e.distance > inner + 1)
                continue;
            const double paper = clamp01(0.5 + inner - e.distance) * (1 - cutAlpha);
            if (paper <= 0)
                continue;
            const double g = 1.8 * grain(x, y, seed);
            QColor c = paperColor;
            if (lineColor.alpha() > 0) {
                const double lineAt = inner - 0.018 * m;
                const double l = clamp01(0.5 + 0.0035 * m - std::abs(e.distance - lineAt));
                c = QColor::fromRgbF(float(c.redF() * (1 - l) + lineColor.redF() * l),
                                     float(c.greenF() * (1 - l) + lineColor.greenF() * l),
                                     float(c.blueF() * (1 - l) + lineColor.blueF() * l));
            }
            line[x] =
                qPremultiply(qRgba(int(std::clamp(c.red() + g, 0.0, 255.0)),
                                   int(std::clamp(c.green() + g, 0.0, 255.0)),
                                   int(std::clamp(c.blue() + g, 0.0, 255.0)), int(255 * paper)));
        }
    }
    return out;
}

double perforation(double along, int side, double m, QSize size)
{
    // Round notches centred on the edge, evenly spaced so both corners end on paper.
    const double length = (side == 0 || side == 2) ? size.width() : size.height();
    const double radius = 0.017 * m;
    const double target = 0.052 * m;
    const int count = std::max(1, int(std::round(length / target)));
    const double pitch = length / count;
    const double local = std::fmod(along, pitch) - pitch / 2;
    const double depth2 = radius * radius - local * local;
    return depth2 > 0 ? std::sqrt(depth2) : -1;
}

double scallop(double along, int side, double m, QSize size)
{
    const double length = (side == 0 || side == 2) ? size.width() : size.height();
    const double target = 0.06 * m;
    const int count = std::max(1, int(std::round(length / target)));
    const double pitch = length / count;
    const double local = 2 * std::fmod(along, pitch) / pitch - 1; // -1..1 across one scallop
    // Round arcs: nothing cut at a scallop's crest, deepest where two scallops meet.
    return 0.022 * m * (1 - std::sqrt(std::max(0.0, 1 - local * local)));
}

QImage tapedPhoto(QSize size)
{
    QImage image = argb(size);
    const double m = std::min(size.width(), size.height());
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double edge = 0.03 * m;
    fillBorderRing(p, size, edge, QColor(251, 250, 246));
    const double w = 0.3 * m, h = 0.075 * m;
    const struct {
        QPointF at;
        double angle;
        uint32_t seed;
    } tapes[] = {{QPointF(0.075 * size.width(), 0.1 * size.height()), -38, 11},
                 {QPointF(0.925 * size.width(), 0.1 * size.height()), 38, 23},
                 {QPointF(0.5 * size.width(), 0.97 * size.height()), 3, 37}};
    for (const auto& tape : tapes) {
        p.save();
        p.translate(tape.at);
        p.rotate(tape.angle);
        QPainterPath strip;
        // Torn short ends: a zigzag whose teeth come from the hash.
        strip.moveTo(-w / 2, -h / 2);
        strip.lineTo(w / 2, -h / 2);
        for (int i = 1; i <= 8; ++i)
            strip.lineTo(w / 2 + (hash32(tape.seed + i) % 100) / 100.0 * 0.012 * m,
                         -h / 2 + h * i / 8);
        strip.lineTo(-w / 2, h / 2);
        for (int i = 7; i >= 0; --i)
            strip.lineTo(-w / 2 - (hash32(tape.seed * 3 + i) % 100) / 100.0 * 0.012 * m,
                         -h / 2 + h * i / 8);
        strip.closeSubpath();
        p.fillPath(strip, QColor(232, 220, 178, 205));
        p.setPen(QPen(QColor(255, 255, 255, 60), 0.003 * m));
        p.drawLine(QPointF(-w / 2, -h / 2 + 0.006 * m), QPointF(w / 2, -h / 2 + 0.006 * m));
        p.restore();
    }
    p.end();
    return image;
}

QImage agedPaper(QSize size)
{
    QImage image = argb(size);
    const double m = std::min(size.width(), size.height());
    const double border = 0.085 * m;
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const EdgePosition e = edgePosition(x, y, size);
            const double wobble = 0.008 * m * fractalNoise(e.along / (0.07 * m), 91U + e.side, 4);
            // Paper inside the border, a soft fade into the photo, and a light sepia wash.
            const double paper =
                smoothstep(border + 0.018 * m, border - 0.004 * m, e.distance + wobble);
            const double alpha = std::max(paper, 0.16);
            const double burn = smoothstep(0.05 * m, 0.0, e.distance + wobble * 1.5);
            const double blotch = 0.5 + 0.5 * fractalNoise((x + 3.1 * y) / (0.11 * m), 211U, 3) *
                                            fractalNoise((y - 1.7 * x) / (0.13 * m), 307U, 3);
            const double g = 2.0 * grain(x, y, 5);
            const double r = 226 - 70 * burn - 10 * blotch + g;
            const double gg = 206 - 90 * burn - 12 * blotch + g;
            const double b = 164 - 100 * burn - 14 * blotch + g;
            const double washR = 112, washG = 74, washB = 38;
            const double k = paper; // the wash outside the paper is sepia
            line[x] = qPremultiply(qRgba(int(std::clamp(r * k + washR * (1 - k), 0.0, 255.0)),
                                         int(std::clamp(gg * k + washG * (1 - k), 0.0, 255.0)),
                                         int(std::clamp(b * k + washB * (1 - k), 0.0, 255.0)),
                                         int(255 * alpha)));
        }
    }
    return image;
}

// Writing

int failures = 0;

void save(const QImage& image, const QString& path, const char* format = nullptr, int quality = -1)
{
    QImage out = image;
    if (out.format() == QImage::Format_ARGB32_Premultiplied)
        out = out.convertToFormat(QImage::Format_ARGB32);
    if (!out.save(path, format, quality)) {
        QTextStream(stderr) << "cannot write " << path << "\n";
        ++failures;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: make_frames <folder>\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QStringList collections{"Classic Borders", "Soft Edges", "Shapes", "Film & Instant",
                                  "Paper & Stamps"};
    for (const QString& name : collections) {
        QDir(root.filePath(name)).removeRecursively();
        if (!root.mkpath(name)) {
            QTextStream(stderr) << "cannot create " << root.filePath(name) << "\n";
            return 1;
        }
    }
    const auto at = [&root](const QString& collection, const QString& file) {
        return root.filePath(collection + "/" + file);
    };

    const QString classic = collections[0];
    save(borderMask(Landscape, 0.025), at(classic, "Thin Line.png"));
    save(borderMask(Landscape, 0.08), at(classic, "Simple Mat.png"));
    save(borderMask(Portrait, 0.11), at(classic, "Wide Mat.png"));
    save(doubleMat(Portrait), at(classic, "Double Mat.png"));
    save(roundedMat(Landscape), at(classic, "Rounded Mat.png"));
    save(keyline(Landscape), at(classic, "Keyline.png"));
    save(bevelMat(Portrait), at(classic, "Bevel Mat.png"));
    save(galleryMat(Portrait), at(classic, "Gallery Mat.png"));

    const QString soft = collections[1];
    save(softVignette(Landscape), at(soft, "Soft Vignette.jpg"), "JPEG", 92);
    save(softVignette(Portrait), at(soft, "Soft Vignette Portrait.jpg"), "JPEG", 92);
    save(oval(Landscape, 0.44), at(soft, "Oval.png"));
    save(oval(Portrait, 0.44), at(soft, "Oval Portrait.png"));
    save(softOval(Landscape), at(soft, "Soft Oval.jpg"), "JPEG", 92);
    save(rgbFromFunction(
             Landscape,
             [](int x, int y) { return featheredEdgeValue(x, y, Landscape, 0.07, 0.06, 0, 0); }),
         at(soft, "Feathered Edge.png"));
    save(rgbFromFunction(Portrait,
                         [](int x, int y) {
                             return featheredEdgeValue(x, y, Portrait, 0.085, 0.035, 0.03, 4242);
                         }),
         at(soft, "Cloud Edge.jpg"), "JPEG", 90);

    const QString shapes = collections[2];
    const auto shape = [&](const QString& name, QSize size, const QPainterPath& path) {
        save(grayOutsidePath(size, path), at(shapes, name + ".png"));
        save(postMaskOutsidePath(size, path), at(shapes, name + "_postmask.png"));
    };
    shape("Heart", Square, heartPath(Square));
    {
        QPainterPath circle;
        circle.addEllipse(QPointF(600, 400), 355, 355);
        shape("Circle", Landscape, circle);
    }
    shape("Star", Square, starPath(Square));
    {
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(80, 80, 840, 840), 130, 130);
        shape("Rounded Square", Square, rounded);
    }
    {
        QPainterPath diamond;
        diamond.moveTo(600, 40);
        diamond.lineTo(1140, 400);
        diamond.lineTo(600, 760);
        diamond.lineTo(60, 400);
        diamond.closeSubpath();
        shape("Diamond", Landscape, diamond);
    }
    shape("Flower", Square, polarPath(Square, [](double a) {
              return 430 * (0.88 + 0.12 * std::abs(std::cos(4 * a)));
          }));

    const QString film = collections[3];
    const QImage strip = filmStrip(Landscape, QColor(24, 22, 20), QColor(236, 233, 222),
                                   QColor(214, 128, 44), QColor(0, 0, 0, 0));
    save(strip, at(film, "Film Strip.png"));
    save(turned(strip), at(film, "Film Strip Portrait.png"));
    save(filmStrip(Landscape, QColor(176, 98, 44), QColor(246, 226, 196), QColor(250, 238, 210),
                   QColor(200, 110, 40, 48)),
         at(film, "Negative Strip.png"));
    save(instantPhoto(Portrait, 0.065, 0.2, 3), at(film, "Instant Photo.png"));
    save(instantPhoto(Landscape, 0.065, 0.2, 5), at(film, "Instant Photo Landscape.png"));
    save(slideMount(Landscape), at(film, "Slide Mount.png"));
    save(photoCorners(Landscape), at(film, "Photo Corners.png"));

    const QString paper = collections[4];
    save(tornPaper(Landscape, 17), at(paper, "Torn Paper.png"));
    save(tornPaper(Portrait, 29), at(paper, "Torn Paper Portrait.png"));
    {
        const EdgedPaper stamp = edgedPaper(
            Landscape, 0.085, QColor(252, 251, 247), QColor(176, 48, 44),
            [](double along, int side, double m) { return perforation(along, side, m, Landscape); },
            61);
        save(stamp.frame, at(paper, "Postage Stamp.png"));
        save(stamp.postMask, at(paper, "Postage Stamp_postmask.png"));
    }
    {
        const EdgedPaper deckle = edgedPaper(
            Portrait, 0.07, QColor(246, 241, 226), QColor(0, 0, 0, 0),
            [](double along, int side, double m) {
                return 0.006 * m + 0.006 * m * fractalNoise(along / (0.012 * m), 700U + side, 3);
            },
            67);
        save(deckle.frame, at(paper, "Deckle Edge.png"));
        save(deckle.postMask, at(paper, "Deckle Edge_postmask.png"));
    }
    {
        const EdgedPaper scalloped = edgedPaper(
            Landscape, 0.075, QColor(252, 252, 250), QColor(0, 0, 0, 0),
            [](double along, int side, double m) { return scallop(along, side, m, Landscape); },
            71);
        save(scalloped.frame, at(paper, "Scalloped Edge.png"));
        save(scalloped.postMask, at(paper, "Scalloped Edge_postmask.png"));
    }
    save(tapedPhoto(Landscape), at(paper, "Taped Photo.png"));
    save(agedPaper(Landscape), at(paper, "Aged Paper.png"));

    QVariantList order;
    for (const QString& name : collections)
        order.append(name);
    if (!PropertyList::toFile(order, root.filePath(FrameLibrary::CollectionsPlistName))) {
        QTextStream(stderr) << "cannot write collections.plist\n";
        ++failures;
    }
    // Ship the thumbnails too: an installed resources folder is read-only, and a cache
    // made here saves decoding every frame at each start.
    QStringList folders;
    for (const QString& name : collections)
        folders.append(root.filePath(name));
    FrameLibrary::collectionsForFolders(folders);
    return failures == 0 ? 0 : 1;
}
