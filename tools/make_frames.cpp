// Draws the built-in frame library. Output is deterministic: no fonts, no clocks, and
// every irregular edge comes from a seeded hash, so a rerun reproduces the same files.
//
// Geometric designs are written as SVG, drawn on a 4800 x 3200 (or 3200 x 4800, or
// 4000 x 4000) view box, so they are rendered at whatever size they are used at. Where the
// frame colour should still show (mats, shapes, cut paper edges) a post mask SVG on the same
// view box says where; its cut reaches 1.5 units past the frame's edge, so no seam of the
// frame's own colour is left between the photo and the frame colour. A drawn mask, unlike a
// bitmap one, costs nothing to hold while a large photo is framed.
// Textured designs are bitmaps of 4800 pixels on the long side.
// A "<Name>_frame.plist" beside a frame keeps its borders equally thick on any photo
// ("Insets", in view-box units or pixels), repeats perforations instead of stretching them
// ("Edges" "tile"), or keeps a shape's proportions ("KeepAspect").
//
// Usage: make_frames <folder>   (normally resources/borders)

#include "foundation/PropertyList.h"
#include "frames/FrameLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMargins>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QTextStream>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>

namespace {

constexpr QSize Landscape(4800, 3200);
constexpr QSize Portrait(3200, 4800);
constexpr QSize Square(4000, 4000);
constexpr double Pi = 3.14159265358979323846;
// How far a post mask's cut reaches past the frame's edge, in view-box units.
constexpr double PostMaskOverlap = 1.5;

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

// Signed distance to a rounded rectangle (negative inside).
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

// Noise along the image's edges: each side's own noise of its position along the side,
// blended by nearness so that the corners show no seam.
double edgeNoise(int x, int y, QSize size, double scale, uint32_t seed, int octaves, double blend)
{
    const double px = x + 0.5, py = y + 0.5;
    const double distance[4] = {py, size.width() - px, size.height() - py, px};
    const double along[4] = {px, py, px, py};
    const double nearest = *std::min_element(distance, distance + 4);
    double sum = 0, weights = 0;
    for (int side = 0; side < 4; ++side) {
        const double weight = std::exp(-(distance[side] - nearest) / blend);
        if (weight < 1e-4)
            continue;
        sum += weight * fractalNoise(along[side] / scale, seed + uint32_t(side), octaves);
        weights += weight;
    }
    return sum / weights;
}

// Distance from the nearest edge, rounded off where two edges meet so that shading that
// follows it has no crease along the corners' diagonals.
double softEdgeDistance(int x, int y, QSize size, double softness)
{
    const double px = x + 0.5, py = y + 0.5;
    const double distance[4] = {py, size.width() - px, size.height() - py, px};
    const double nearest = *std::min_element(distance, distance + 4);
    double sum = 0;
    for (const double d : distance)
        sum += std::exp(-(d - nearest) / softness);
    return nearest - softness * std::log(sum);
}

QRectF inset(QSize size, double left, double top, double right, double bottom)
{
    return QRectF(left, top, size.width() - left - right, size.height() - top - bottom);
}

QRectF inset(QSize size, double all)
{
    return inset(size, all, all, all, all);
}

// Bitmaps

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

QImage argb(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

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

QImage softOval(QSize size)
{
    return grayFromFunction(size, [&](int x, int y) {
        return smoothstep(0.82, 1.06, ellipticRadius(x, y, size, 0.45, 0.45));
    });
}

double featheredEdgeValue(int x, int y, QSize size, double insetShare, double feather,
                          double wobble, uint32_t seed)
{
    const double m = std::min(size.width(), size.height());
    const QRectF opening = inset(size, insetShare * m);
    double d = roundedRectDistance(x + 0.5, y + 0.5, opening, 0.05 * m);
    if (wobble > 0)
        d += wobble * m * edgeNoise(x, y, size, 0.09 * m, seed, 4, 0.03 * m);
    return smoothstep(-feather * m, feather * 0.6 * m, d);
}

// Flat paper with a torn, fibrous edge. The paper itself carries no per-pixel grain: at
// this size grain would cost megabytes and is lost in any print anyway.
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
            const double n = edgeNoise(x, y, size, 0.05 * m, seed, 7, 0.01 * m);
            const double tear = base + 0.028 * m * n;
            const double paper = clamp01(0.5 + tear - e.distance);
            // A ragged fringe of fibres just past the tear, pointing away from the paper.
            const double thread = grain(int(e.along), int(e.distance / 4), seed);
            const double fibre =
                clamp01(0.5 + tear + 0.006 * m - e.distance) * (0.45 + 0.35 * thread);
            const double alpha = std::max(paper, fibre * 0.8);
            if (alpha <= 0)
                continue;
            const int shade = paper > 0.5 ? 0 : -14;
            line[x] = qPremultiply(qRgba(249 + shade, 248 + shade, 243 + shade, int(255 * alpha)));
        }
    }
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
            const double wobble = 0.008 * m * edgeNoise(x, y, size, 0.07 * m, 91U, 6, 0.02 * m);
            const double distance = softEdgeDistance(x, y, size, 0.015 * m);
            // Paper inside the border, a soft fade into the photo, and a light sepia wash.
            const double paper =
                smoothstep(border + 0.018 * m, border - 0.004 * m, distance + wobble);
            const double alpha = std::max(paper, 0.16);
            const double burn = smoothstep(0.05 * m, 0.0, distance + wobble * 1.5);
            const double blotch = 0.5 + 0.5 * fractalNoise((x + 3.1 * y) / (0.11 * m), 211U, 3) *
                                            fractalNoise((y - 1.7 * x) / (0.13 * m), 307U, 3);
            const double r = 226 - 70 * burn - 10 * blotch;
            const double gg = 206 - 90 * burn - 12 * blotch;
            const double b = 164 - 100 * burn - 14 * blotch;
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

// Vector frames

// A fill: a flat colour, or a linear gradient from `from` to `to` through the stops.
struct Paint {
    QColor color;
    QPointF from, to;
    QGradientStops stops;
};

struct Shape {
    QPainterPath path;
    Paint paint;
};

struct Drawing {
    explicit Drawing(QSize viewBox) : size(viewBox) {}

    QSize size;
    QList<Shape> shapes;
    std::optional<QPainterPath> postMask; // where the photo is cut for the frame colour
    // The cut's edges inside the view box, where it reaches past the frame's edge.
    QPainterPath postMaskEdge;
    std::optional<QMargins> insets;
    bool tile = false;
    bool keepAspect = false;

    void fill(const QPainterPath& path, const QColor& color)
    {
        shapes.append({path, {color, {}, {}, {}}});
    }
    void gradient(const QPainterPath& path, QPointF from, QPointF to, const QGradientStops& stops)
    {
        shapes.append({path, {QColor(), from, to, stops}});
    }
};

QPainterPath rectPath(const QRectF& rect)
{
    QPainterPath path;
    path.addRect(rect);
    return path;
}

// The part of the view box outside `opening`.
QPainterPath ring(QSize size, const QPainterPath& opening)
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addRect(QRectF(QPointF(0, 0), size));
    path.addPath(opening);
    return path;
}

QPainterPath ring(const QRectF& outer, const QRectF& inner)
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addRect(outer);
    path.addRect(inner);
    return path;
}

QPainterPath roundedRectPath(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath stroked(const QPainterPath& path, double width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setJoinStyle(Qt::MiterJoin);
    return stroker.createStroke(path);
}

QString number(double v)
{
    QString s = QString::number(v, 'f', 2);
    while (s.contains(QLatin1Char('.')) && (s.endsWith(QLatin1Char('0'))))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

QString point(QPointF p)
{
    return number(p.x()) + QLatin1Char(' ') + number(p.y());
}

QString pathData(const QPainterPath& path)
{
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.type == QPainterPath::MoveToElement) {
            d += QStringLiteral("M") + point(e);
        } else if (e.type == QPainterPath::LineToElement) {
            d += QStringLiteral("L") + point(e);
        } else if (e.type == QPainterPath::CurveToElement && i + 2 < path.elementCount()) {
            d += QStringLiteral("C") + point(e) + QLatin1Char(' ') + point(path.elementAt(i + 1)) +
                 QLatin1Char(' ') + point(path.elementAt(i + 2));
            i += 2;
        }
    }
    return d;
}

QString colorText(const QColor& color)
{
    return color.name(QColor::HexRgb);
}

QString opacityText(const QColor& color)
{
    return color.alpha() == 255 ? QString() : number(color.alphaF());
}

QString fillRuleText(const QPainterPath& path)
{
    return path.fillRule() == Qt::OddEvenFill ? QStringLiteral("evenodd")
                                              : QStringLiteral("nonzero");
}

QByteArray svgDocument(QSize viewBox, const QString& defs, const QString& body)
{
    // preserveAspectRatio "none": how the frame is fitted to a photo is the program's choice,
    // never the renderer's.
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
                                 "width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" "
                                 "preserveAspectRatio=\"none\">\n")
                      .arg(viewBox.width())
                      .arg(viewBox.height());
    if (!defs.isEmpty())
        svg += QStringLiteral("<defs>\n") + defs + QStringLiteral("</defs>\n");
    svg += body + QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

QByteArray svgText(const Drawing& drawing)
{
    QString defs, body;
    int gradients = 0;
    for (const Shape& shape : drawing.shapes) {
        QString fill;
        if (shape.paint.stops.isEmpty()) {
            fill = QStringLiteral("fill=\"%1\"").arg(colorText(shape.paint.color));
            const QString opacity = opacityText(shape.paint.color);
            if (!opacity.isEmpty())
                fill += QStringLiteral(" fill-opacity=\"%1\"").arg(opacity);
        } else {
            const QString id = QStringLiteral("g%1").arg(gradients++);
            defs += QStringLiteral("<linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" "
                                   "x1=\"%2\" y1=\"%3\" x2=\"%4\" y2=\"%5\">")
                        .arg(id, number(shape.paint.from.x()), number(shape.paint.from.y()),
                             number(shape.paint.to.x()), number(shape.paint.to.y()));
            for (const QGradientStop& stop : shape.paint.stops) {
                defs += QStringLiteral("<stop offset=\"%1\" stop-color=\"%2\"")
                            .arg(number(stop.first), colorText(stop.second));
                const QString opacity = opacityText(stop.second);
                if (!opacity.isEmpty())
                    defs += QStringLiteral(" stop-opacity=\"%1\"").arg(opacity);
                defs += QStringLiteral("/>");
            }
            defs += QStringLiteral("</linearGradient>\n");
            fill = QStringLiteral("fill=\"url(#%1)\"").arg(id);
        }
        body += QStringLiteral("<path %1 fill-rule=\"%2\" d=\"%3\"/>\n")
                    .arg(fill, fillRuleText(shape.path), pathData(shape.path));
    }
    return svgDocument(drawing.size, defs, body);
}

// Opaque where the photo is cut away: the cut, grown across its edges by the outline
// QPainter::strokePath fills with a plain pen, merged into one shape. The program draws a
// mask in bands of rows and would stroke, or fill twice, the whole edge again for each.
QByteArray postMaskSvgText(QSize size, const QPainterPath& cut, const QPainterPath& edge)
{
    QPainterPath whole = cut;
    if (!edge.isEmpty()) {
        QPainterPathStroker stroker(QPen(Qt::black, 2 * PostMaskOverlap));
        whole = cut.united(stroker.createStroke(edge));
    }
    QString body = QStringLiteral("<path fill=\"#000\" fill-rule=\"%1\" d=\"%2\"/>\n")
                       .arg(fillRuleText(whole), pathData(whole));
    return svgDocument(size, QString(), body);
}

// The same drawing a quarter turn clockwise, as the program turns alpha frames.
Drawing turned(const Drawing& drawing)
{
    const QTransform t(0, 1, -1, 0, drawing.size.height(), 0);
    Drawing out = drawing;
    out.size = drawing.size.transposed();
    for (Shape& shape : out.shapes) {
        shape.path = t.map(shape.path);
        shape.paint.from = t.map(shape.paint.from);
        shape.paint.to = t.map(shape.paint.to);
    }
    if (out.postMask)
        out.postMask = t.map(*out.postMask);
    out.postMaskEdge = t.map(drawing.postMaskEdge);
    if (out.insets) {
        const QMargins m = *drawing.insets;
        out.insets = QMargins(m.bottom(), m.left(), m.top(), m.right());
    }
    return out;
}

// Classic borders. The mat's own colour follows the frame colour through the post mask,
// as the grey masks these designs began as did.

const QColor MatWhite(255, 255, 255);

Drawing plainMat(QSize size, double left, double top, double right, double bottom)
{
    Drawing d(size);
    const QRectF opening = inset(size, left, top, right, bottom);
    d.fill(ring(QRectF(QPointF(0, 0), size), opening), MatWhite);
    d.postMask = ring(QRectF(QPointF(0, 0), size), opening);
    d.postMaskEdge = rectPath(opening);
    d.insets = QMargins(int(left), int(top), int(right), int(bottom));
    return d;
}

Drawing roundedMat(QSize size)
{
    const double t = 240, radius = 224;
    Drawing d(size);
    const QPainterPath opening = roundedRectPath(inset(size, t), radius);
    d.fill(ring(size, opening), MatWhite);
    d.postMask = ring(size, opening);
    d.postMaskEdge = opening;
    // The corners hold the whole rounding, so it stays round on any photo.
    d.insets = QMargins(int(t + radius), int(t + radius), int(t + radius), int(t + radius));
    return d;
}

// An opaque dark inner mat inside the outer one; only the outer mat takes the frame colour.
Drawing doubleMat(QSize size)
{
    const double outer = 240, inner = 330;
    Drawing d(size);
    const QRectF box(QPointF(0, 0), size);
    d.fill(ring(box, inset(size, outer)), MatWhite);
    d.fill(ring(inset(size, outer), inset(size, inner)), QColor(47, 45, 42));
    d.postMask = ring(box, inset(size, outer));
    d.postMaskEdge = rectPath(inset(size, outer));
    d.insets = QMargins(int(inner), int(inner), int(inner), int(inner));
    return d;
}

// A border, a gap where the photo shows, and a thin line round the photo.
Drawing keyline(QSize size)
{
    const double border = 176, lineFrom = 246, lineTo = 268;
    Drawing d(size);
    QPainterPath shape = ring(QRectF(QPointF(0, 0), size), inset(size, border));
    shape.addPath(ring(inset(size, lineFrom), inset(size, lineTo)));
    d.fill(shape, MatWhite);
    d.postMask = shape;
    d.postMaskEdge = ring(inset(size, lineFrom), inset(size, lineTo));
    d.postMaskEdge.addRect(inset(size, border));
    d.insets = QMargins(int(lineTo), int(lineTo), int(lineTo), int(lineTo));
    return d;
}

// A mat whose cut edge shows as a bevel: its lit top and left faces read brighter than the
// shaded bottom and right ones. Only the mat's face takes the frame colour.
Drawing bevelMat(QSize size)
{
    const double t = 288, bevel = 51;
    Drawing d(size);
    const QRectF box(QPointF(0, 0), size);
    const QRectF o = inset(size, t - bevel), i = inset(size, t);
    d.fill(ring(box, o), QColor(245, 243, 238));
    const auto face = [](QPointF a, QPointF b, QPointF c, QPointF e) {
        QPainterPath path;
        path.addPolygon(QPolygonF{a, b, c, e});
        path.closeSubpath();
        return path;
    };
    const QColor lit(255, 255, 253), shaded(214, 209, 199);
    d.fill(face(o.topLeft(), o.topRight(), i.topRight(), i.topLeft()), lit);
    d.fill(face(o.topLeft(), i.topLeft(), i.bottomLeft(), o.bottomLeft()), lit);
    d.fill(face(o.bottomLeft(), i.bottomLeft(), i.bottomRight(), o.bottomRight()), shaded);
    d.fill(face(o.topRight(), o.bottomRight(), i.bottomRight(), i.topRight()), shaded);
    d.postMask = ring(box, o);
    d.postMaskEdge = rectPath(o);
    d.insets = QMargins(int(t), int(t), int(t), int(t));
    return d;
}

// Shapes: the frame colour outside, the photo inside.

QPainterPath heartPath(QSize size)
{
    QPainterPath path;
    const double scale = std::min(size.width(), size.height()) / 38.0;
    const QPointF centre(size.width() / 2.0, size.height() / 2.0 + scale * 0.8);
    for (int i = 0; i <= 2880; ++i) {
        const double t = 2 * Pi * i / 2880;
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
    for (int i = 0; i <= 2880; ++i) {
        const double a = 2 * Pi * i / 2880 - Pi / 2;
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

Drawing shapeFrame(QSize size, const QPainterPath& opening, bool keepAspect)
{
    Drawing d(size);
    d.fill(ring(size, opening), MatWhite);
    d.postMask = ring(size, opening);
    d.keepAspect = keepAspect;
    return d;
}

// Film and instant photos

// Sprocket holes every `pitch` units, one centred on the middle of the strip, so that the
// middle pitch can be repeated along a longer photo.
Drawing filmStrip(QSize size, QColor base, QColor hole, QColor mark)
{
    Drawing d(size);
    const double w = size.width(), h = size.height();
    const double band = 480, pitch = 240, holeW = 128, holeH = 192, radius = 28;
    const double gap = 106, shift = 58;
    QPainterPath strip;
    strip.setFillRule(Qt::OddEvenFill);
    strip.addRect(QRectF(0, 0, w, band));
    strip.addRect(QRectF(0, h - band, w, band));
    QPainterPath sides;
    sides.addRect(QRectF(0, band, gap, h - 2 * band));
    sides.addRect(QRectF(w - gap, band, gap, h - 2 * band));
    QPainterPath holes;
    const double topHoleY = (band - holeH) / 2 + shift;
    const double bottomHoleY = h - band + (band - holeH) / 2 - shift;
    for (int k = -9; k <= 9; ++k) {
        const double x = w / 2 + k * pitch - holeW / 2;
        for (const double y : {topHoleY, bottomHoleY})
            holes.addRoundedRect(QRectF(x, y, holeW, holeH), radius, radius);
    }
    d.fill(strip, base);
    d.fill(sides, base);
    d.fill(holes, hole);
    // Edge markings, a dash and a pointer as printed edge codes, kept off the middle pitch
    // that repeats.
    QPainterPath marks;
    const double markH = 58;
    for (const int k : {-8, -4, 2, 6}) {
        const double x = w / 2 + k * pitch - holeW / 2;
        for (const double markY : {38.0, h - 96}) {
            marks.addRect(QRectF(x, markY, pitch * 1.3, markH * 0.45));
            QPolygonF tri{QPointF(x + pitch * 2.2, markY),
                          QPointF(x + pitch * 2.2 + markH, markY + markH / 2),
                          QPointF(x + pitch * 2.2, markY + markH)};
            marks.addPolygon(tri);
            marks.closeSubpath();
        }
    }
    d.fill(marks, mark);
    const int side = int((w - pitch) / 2), across = int((h - 200) / 2);
    d.insets = QMargins(side, across, side, across);
    d.tile = true;
    return d;
}

// A shadow falling inward from each edge of the opening, mitred at the corners.
void innerShadow(Drawing& d, const QRectF& o, double width, int alpha)
{
    const QGradientStops stops{{0, QColor(0, 0, 0, alpha)},
                               {0.25, QColor(0, 0, 0, int(alpha * 0.5625))},
                               {0.5, QColor(0, 0, 0, int(alpha * 0.25))},
                               {0.75, QColor(0, 0, 0, int(alpha * 0.0625))},
                               {1, QColor(0, 0, 0, 0)}};
    const QRectF i = o.adjusted(width, width, -width, -width);
    const auto face = [&](QPointF a, QPointF b, QPointF c, QPointF e, QPointF from, QPointF to) {
        QPainterPath path;
        path.addPolygon(QPolygonF{a, b, c, e});
        path.closeSubpath();
        d.gradient(path, from, to, stops);
    };
    face(o.topLeft(), o.topRight(), i.topRight(), i.topLeft(), QPointF(0, o.top()),
         QPointF(0, i.top()));
    face(o.bottomLeft(), o.bottomRight(), i.bottomRight(), i.bottomLeft(), QPointF(0, o.bottom()),
         QPointF(0, i.bottom()));
    face(o.topLeft(), i.topLeft(), i.bottomLeft(), o.bottomLeft(), QPointF(o.left(), 0),
         QPointF(i.left(), 0));
    face(o.topRight(), i.topRight(), i.bottomRight(), o.bottomRight(), QPointF(o.right(), 0),
         QPointF(i.right(), 0));
}

Drawing instantPhoto(QSize size, double bottom)
{
    Drawing d(size);
    const double side = 208, shadow = 38;
    const QRectF opening = inset(size, side, side, side, bottom);
    // Matte card with a slight fall-off towards the bottom.
    d.gradient(ring(QRectF(QPointF(0, 0), size), opening), QPointF(0, 0), QPointF(0, size.height()),
               {{0, QColor(246, 245, 239)}, {1, QColor(240, 239, 233)}});
    innerShadow(d, opening, shadow, 110);
    const int edge = int(side + shadow + 4);
    d.insets = QMargins(edge, edge, edge, int(bottom + shadow + 4));
    return d;
}

Drawing slideMount(QSize size)
{
    Drawing d(size);
    const double w = size.width(), h = size.height();
    const QRectF window(816, 640, w - 2 * 816, h - 2 * 640);
    const double radius = 112;
    d.fill(ring(size, roundedRectPath(window, radius)), QColor(236, 233, 222));
    // A thin shadow where the card is cut, as around a real mount's window.
    for (int i = 7; i >= 0; --i) {
        const double out = 8.0 * (i + 1);
        const int dark = int(std::lround(26 * std::exp(-(i + 0.5) * 8 / 16)));
        QPainterPath band;
        band.setFillRule(Qt::OddEvenFill);
        band.addPath(roundedRectPath(window.adjusted(-out, -out, out, out), radius + out));
        band.addPath(roundedRectPath(window.adjusted(-out + 8, -out + 8, out - 8, out - 8),
                                     radius + out - 8));
        d.fill(band, QColor(236 - dark, 233 - dark, 222 - dark));
    }
    QPainterPath line;
    line.addRoundedRect(inset(size, 144), 64, 64);
    d.fill(stroked(line, 13), QColor(180, 176, 165));
    // The orientation dot in a corner, where a real mount has it.
    QPainterPath dot;
    dot.addEllipse(QPointF(408, h - 392), 38, 38);
    d.fill(dot, QColor(190, 60, 50));
    d.insets = QMargins(int(window.left() + radius), int(window.top() + radius),
                        int(window.left() + radius), int(window.top() + radius));
    return d;
}

Drawing photoCorners(QSize size)
{
    Drawing d(size);
    const double w = size.width(), h = size.height();
    d.fill(ring(QRectF(0, 0, w, h), inset(size, 90)), QColor(250, 250, 247));
    const double leg = 416;
    for (int corner = 0; corner < 4; ++corner) {
        QTransform t;
        t.translate(corner == 1 || corner == 2 ? w : 0, corner >= 2 ? h : 0);
        t.rotate(90 * corner);
        QPainterPath tri;
        tri.addPolygon(QPolygonF{QPointF(0, 0), QPointF(leg, 0), QPointF(0, leg)});
        tri.closeSubpath();
        d.fill(t.map(tri), QColor(28, 26, 24));
        // The pocket's sheen along its long edge.
        QPainterPath sheen;
        sheen.moveTo(leg * 0.92, leg * 0.06);
        sheen.lineTo(leg * 0.06, leg * 0.92);
        d.fill(t.map(stroked(sheen, 13)), QColor(255, 255, 255, 70));
    }
    d.insets = QMargins(int(leg), int(leg), int(leg), int(leg));
    return d;
}

// Paper and stamps

// The outline of paper whose outer edge is carved: depth(along, side) says how far in from
// the view box's side the edge lies at that point. Sampled every `step` units.
QPainterPath carvedOutline(QSize size, const std::function<double(double, int)>& depth,
                           const std::function<QList<double>(int side, double length)>& samples)
{
    const double w = size.width(), h = size.height();
    QPainterPath result = rectPath(QRectF(0, 0, w, h));
    for (int side = 0; side < 4; ++side) {
        const double length = (side == 0 || side == 2) ? w : h;
        QPolygonF region;
        for (const double a : samples(side, length)) {
            const double dd = depth(a, side);
            switch (side) {
            case 0:
                region << QPointF(a, dd);
                break;
            case 1:
                region << QPointF(w - dd, a);
                break;
            case 2:
                region << QPointF(a, h - dd);
                break;
            default:
                region << QPointF(dd, a);
                break;
            }
        }
        // Close the region over the far side of the view box.
        switch (side) {
        case 0:
            region << QPointF(w, h) << QPointF(0, h);
            break;
        case 1:
            region << QPointF(0, h) << QPointF(0, 0);
            break;
        case 2:
            region << QPointF(w, 0) << QPointF(0, 0);
            break;
        default:
            region << QPointF(w, h) << QPointF(w, 0);
            break;
        }
        QPainterPath half;
        half.addPolygon(region);
        half.closeSubpath();
        result = result.intersected(half);
    }
    return result;
}

QList<double> evenSamples(double length, double step)
{
    QList<double> out;
    const int n = int(std::ceil(length / step));
    for (int i = 0; i <= n; ++i)
        out.append(length * i / n);
    return out;
}

// Paper of the given colour between the carved outer edge and the opening; the post mask
// cuts away what lies outside the paper.
Drawing cutPaper(QSize size, double border, const QColor& paperColor, const QPainterPath& outer,
                 const QPainterPath& edge)
{
    Drawing d(size);
    QPainterPath paper;
    paper.setFillRule(Qt::OddEvenFill);
    paper.addPath(outer);
    paper.addRect(inset(size, border));
    d.fill(paper, paperColor);
    d.postMask = ring(size, outer);
    d.postMaskEdge = edge;
    d.insets = QMargins(int(border), int(border), int(border), int(border));
    return d;
}

// Round perforation notches on the edge, one every `pitch` units with half a pitch of paper
// at each corner; the repeat is the pitch left of the middle.
Drawing postageStamp(QSize size)
{
    const double w = size.width(), h = size.height(), pitch = 160, radius = 54;
    const double border = 272;
    QPainterPath outer;
    outer.setFillRule(Qt::OddEvenFill);
    QPainterPath notches;
    for (double x = pitch / 2; x < w; x += pitch) {
        notches.addEllipse(QPointF(x, 0), radius, radius);
        notches.addEllipse(QPointF(x, h), radius, radius);
    }
    for (double y = pitch / 2; y < h; y += pitch) {
        notches.addEllipse(QPointF(0, y), radius, radius);
        notches.addEllipse(QPointF(w, y), radius, radius);
    }
    outer.addRect(QRectF(0, 0, w, h));
    outer.addPath(notches);
    Drawing d = cutPaper(size, border, QColor(252, 251, 247), outer, notches);
    // The printed frame line round the picture.
    d.fill(ring(inset(size, 203), inset(size, 225)), QColor(176, 48, 44));
    const int left = int(std::floor(w / pitch / 2) - 1) * int(pitch);
    const int top = int(std::floor(h / pitch / 2) - 1) * int(pitch);
    d.insets = QMargins(left, top, int(w) - left - int(pitch), int(h) - top - int(pitch));
    d.tile = true;
    return d;
}

// Round-topped scallops, deepest where two meet; a whole number of them on each side.
Drawing scallopedEdge(QSize size)
{
    const double w = size.width(), h = size.height(), depth = 70;
    const double pitchAcross = 192, pitchDown = 200; // 25 and 16 scallops
    const auto pitchOf = [&](int side) {
        return (side == 0 || side == 2) ? pitchAcross : pitchDown;
    };
    const auto cut = [&](double along, int side) {
        const double p = pitchOf(side);
        const double local = 2 * (along - p * std::floor(along / p)) / p - 1;
        return depth * (1 - std::sqrt(std::max(0.0, 1 - local * local)));
    };
    // Samples spaced by angle round each scallop, dense where its sides are steep.
    const auto samples = [&](int side, double length) {
        const double p = pitchOf(side);
        QList<double> out;
        const int count = int(std::lround(length / p));
        for (int s = 0; s < count; ++s)
            for (int i = 0; i < 48; ++i)
                out.append(s * p + p / 2 * (1 - std::cos(Pi * i / 48)));
        out.append(length);
        return out;
    };
    const QPainterPath outer = carvedOutline(size, cut, samples);
    Drawing d = cutPaper(size, 240, QColor(252, 252, 250), outer, outer);
    const int left = 12 * int(pitchAcross), top = 7 * int(pitchDown);
    d.insets = QMargins(left, top, int(w) - left - int(pitchAcross), int(h) - top - int(pitchDown));
    d.tile = true;
    return d;
}

Drawing deckleEdge(QSize size)
{
    const double m = std::min(size.width(), size.height());
    const auto cut = [m](double along, int side) {
        return 0.006 * m + 0.006 * m * fractalNoise(along / (0.012 * m), 700U + side, 3);
    };
    const auto samples = [](int, double length) { return evenSamples(length, 4); };
    const QPainterPath outer = carvedOutline(size, cut, samples);
    return cutPaper(size, 224, QColor(246, 241, 226), outer, outer);
}

// Paper border with strips of tape over each corner, their short ends torn.
Drawing tapedPhoto(QSize size)
{
    Drawing d(size);
    const double w = size.width(), h = size.height();
    d.fill(ring(QRectF(0, 0, w, h), inset(size, 96)), QColor(251, 250, 246));
    const double tw = 960, th = 240, tooth = 38;
    const struct {
        QPointF at;
        double angle;
        uint32_t seed;
    } tapes[] = {{QPointF(0.075 * w, 0.1 * h), -38, 11},
                 {QPointF(0.925 * w, 0.1 * h), 38, 23},
                 {QPointF(0.925 * w, 0.9 * h), -35, 37},
                 {QPointF(0.075 * w, 0.9 * h), 41, 43}};
    for (const auto& tape : tapes) {
        QTransform t;
        t.translate(tape.at.x(), tape.at.y());
        t.rotate(tape.angle);
        QPolygonF strip;
        strip << QPointF(-tw / 2, -th / 2) << QPointF(tw / 2, -th / 2);
        for (int i = 1; i <= 8; ++i)
            strip << QPointF(tw / 2 + (hash32(tape.seed + i) % 100) / 100.0 * tooth,
                             -th / 2 + th * i / 8);
        strip << QPointF(-tw / 2, th / 2);
        for (int i = 7; i >= 0; --i)
            strip << QPointF(-tw / 2 - (hash32(tape.seed * 3 + i) % 100) / 100.0 * tooth,
                             -th / 2 + th * i / 8);
        QPainterPath path;
        path.addPolygon(strip);
        path.closeSubpath();
        d.fill(t.map(path), QColor(232, 220, 178, 205));
        QPainterPath sheen;
        sheen.moveTo(-tw / 2, -th / 2 + 19);
        sheen.lineTo(tw / 2, -th / 2 + 19);
        d.fill(t.map(stroked(sheen, 10)), QColor(255, 255, 255, 60));
    }
    // The corners hold the tapes whole, so they are never stretched.
    int edge = 0;
    for (const auto& tape : tapes) {
        const QPointF c = tape.at;
        const double ex = std::abs(tw / 2 + tooth) * std::abs(std::cos(tape.angle * Pi / 180)) +
                          th / 2 * std::abs(std::sin(tape.angle * Pi / 180));
        const double ey = std::abs(tw / 2 + tooth) * std::abs(std::sin(tape.angle * Pi / 180)) +
                          th / 2 * std::abs(std::cos(tape.angle * Pi / 180));
        const double fromSide = std::max(std::min(c.x(), w - c.x()) + ex, 0.0);
        const double fromTop = std::max(std::min(c.y(), h - c.y()) + ey, 0.0);
        edge = std::max({edge, int(std::ceil(fromSide)) + 4, int(std::ceil(fromTop)) + 4});
    }
    d.insets = QMargins(edge, edge, edge, edge);
    return d;
}

// Writing

int failures = 0;

void report(const QString& what)
{
    QTextStream(stderr) << what << "\n";
    ++failures;
}

void save(const QImage& image, const QString& path, const char* format = nullptr, int quality = -1)
{
    QImage out = image;
    if (out.format() == QImage::Format_ARGB32_Premultiplied)
        out = out.convertToFormat(QImage::Format_ARGB32);
    if (!out.save(path, format, quality))
        report("cannot write " + path);
}

void saveOptions(const QString& stem, const std::optional<QMargins>& insets, bool tile,
                 bool keepAspect)
{
    QVariantMap options;
    if (insets)
        options.insert("Insets", QVariantMap{{"Left", qint64(insets->left())},
                                             {"Top", qint64(insets->top())},
                                             {"Right", qint64(insets->right())},
                                             {"Bottom", qint64(insets->bottom())}});
    if (tile)
        options.insert("Edges", QStringLiteral("tile"));
    if (keepAspect)
        options.insert("KeepAspect", true);
    if (options.isEmpty())
        return;
    if (!PropertyList::toFile(options, stem + "_frame.plist"))
        report("cannot write " + stem + "_frame.plist");
}

// stem: the frame's path without extension.
void saveText(const QByteArray& text, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush())
        report("cannot write " + path);
}

void saveDrawing(const Drawing& drawing, const QString& stem)
{
    saveText(svgText(drawing), stem + ".svg");
    if (drawing.postMask)
        saveText(postMaskSvgText(drawing.size, *drawing.postMask, drawing.postMaskEdge),
                 stem + "_postmask.svg");
    saveOptions(stem, drawing.insets, drawing.tile, drawing.keepAspect);
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
    saveDrawing(plainMat(Landscape, 80, 80, 80, 80), at(classic, "Thin Line"));
    saveDrawing(plainMat(Landscape, 256, 256, 256, 256), at(classic, "Simple Mat"));
    saveDrawing(plainMat(Portrait, 352, 352, 352, 352), at(classic, "Wide Mat"));
    saveDrawing(doubleMat(Portrait), at(classic, "Double Mat"));
    saveDrawing(roundedMat(Landscape), at(classic, "Rounded Mat"));
    saveDrawing(keyline(Landscape), at(classic, "Keyline"));
    saveDrawing(bevelMat(Portrait), at(classic, "Bevel Mat"));
    // Bottom-weighted, as gallery mats are cut.
    saveDrawing(plainMat(Portrait, 320, 320, 320, 560), at(classic, "Gallery Mat"));

    const QString soft = collections[1];
    save(softVignette(Landscape), at(soft, "Soft Vignette.jpg"), "JPEG", 90);
    save(softVignette(Portrait), at(soft, "Soft Vignette Portrait.jpg"), "JPEG", 90);
    {
        QPainterPath ellipse;
        ellipse.addEllipse(QRectF(QPointF(0, 0), Landscape).center(), 0.44 * Landscape.width(),
                           0.44 * Landscape.height());
        const Drawing oval = shapeFrame(Landscape, ellipse, false);
        saveDrawing(oval, at(soft, "Oval"));
        saveDrawing(turned(oval), at(soft, "Oval Portrait"));
    }
    save(softOval(Landscape), at(soft, "Soft Oval.jpg"), "JPEG", 90);
    save(rgbFromFunction(
             Landscape,
             [](int x, int y) { return featheredEdgeValue(x, y, Landscape, 0.07, 0.06, 0, 0); }),
         at(soft, "Feathered Edge.jpg"), "JPEG", 90);
    saveOptions(at(soft, "Feathered Edge"), QMargins(580, 580, 580, 580), false, false);
    save(rgbFromFunction(Portrait,
                         [](int x, int y) {
                             return featheredEdgeValue(x, y, Portrait, 0.085, 0.035, 0.03, 4242);
                         }),
         at(soft, "Cloud Edge.jpg"), "JPEG", 90);
    saveOptions(at(soft, "Cloud Edge"), QMargins(640, 640, 640, 640), false, false);

    const QString shapes = collections[2];
    saveDrawing(shapeFrame(Square, heartPath(Square), true), at(shapes, "Heart"));
    {
        QPainterPath circle;
        circle.addEllipse(QPointF(2000, 2000), 1775, 1775);
        saveDrawing(shapeFrame(Square, circle, true), at(shapes, "Circle"));
    }
    saveDrawing(shapeFrame(Square, starPath(Square), true), at(shapes, "Star"));
    saveDrawing(shapeFrame(Square, roundedRectPath(QRectF(320, 320, 3360, 3360), 520), true),
                at(shapes, "Rounded Square"));
    {
        QPainterPath diamond;
        diamond.addPolygon(QPolygonF{QPointF(2400, 160), QPointF(4560, 1600), QPointF(2400, 3040),
                                     QPointF(240, 1600)});
        diamond.closeSubpath();
        // The diamond reaches for the photo's corners, whatever its shape.
        saveDrawing(shapeFrame(Landscape, diamond, false), at(shapes, "Diamond"));
    }
    saveDrawing(shapeFrame(Square,
                           polarPath(Square,
                                     [](double a) {
                                         return 1720 * (0.88 + 0.12 * std::abs(std::cos(4 * a)));
                                     }),
                           true),
                at(shapes, "Flower"));

    const QString film = collections[3];
    const Drawing strip =
        filmStrip(Landscape, QColor(24, 22, 20), QColor(236, 233, 222), QColor(214, 128, 44));
    saveDrawing(strip, at(film, "Film Strip"));
    saveDrawing(turned(strip), at(film, "Film Strip Portrait"));
    // The base shows only in the rebate; the picture itself stays clear.
    saveDrawing(
        filmStrip(Landscape, QColor(176, 98, 44), QColor(246, 226, 196), QColor(250, 238, 210)),
        at(film, "Negative Strip"));
    saveDrawing(instantPhoto(Portrait, 960), at(film, "Instant Photo"));
    saveDrawing(instantPhoto(Landscape, 640), at(film, "Instant Photo Landscape"));
    saveDrawing(slideMount(Landscape), at(film, "Slide Mount"));
    saveDrawing(photoCorners(Landscape), at(film, "Photo Corners"));

    const QString paper = collections[4];
    save(tornPaper(Landscape, 17), at(paper, "Torn Paper.png"));
    saveOptions(at(paper, "Torn Paper"), QMargins(440, 440, 440, 440), false, false);
    save(tornPaper(Portrait, 29), at(paper, "Torn Paper Portrait.png"));
    saveOptions(at(paper, "Torn Paper Portrait"), QMargins(440, 440, 440, 440), false, false);
    saveDrawing(postageStamp(Landscape), at(paper, "Postage Stamp"));
    saveDrawing(deckleEdge(Portrait), at(paper, "Deckle Edge"));
    saveDrawing(scallopedEdge(Landscape), at(paper, "Scalloped Edge"));
    saveDrawing(tapedPhoto(Landscape), at(paper, "Taped Photo"));
    save(agedPaper(Landscape), at(paper, "Aged Paper.png"));
    saveOptions(at(paper, "Aged Paper"), QMargins(400, 400, 400, 400), false, false);

    QVariantList order;
    for (const QString& name : collections)
        order.append(name);
    if (!PropertyList::toFile(order, root.filePath(FrameLibrary::CollectionsPlistName)))
        report("cannot write collections.plist");
    // Ship the thumbnails too: an installed resources folder is read-only, and a cache
    // made here saves decoding every frame at each start.
    QStringList folders;
    for (const QString& name : collections)
        folders.append(root.filePath(name));
    FrameLibrary::collectionsForFolders(folders);
    return failures == 0 ? 0 : 1;
}
