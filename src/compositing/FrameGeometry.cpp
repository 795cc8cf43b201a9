#include "compositing/FrameGeometry.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("FrameGeometry", text);
}

std::optional<int> insetValue(const QVariantMap& insets, const char* key, QStringList* warnings)
{
    const QVariant value = insets.value(QLatin1String(key));
    if (!value.isValid())
        return 0;
    const int type = value.typeId();
    if (type != QMetaType::LongLong && type != QMetaType::Int && type != QMetaType::ULongLong &&
        type != QMetaType::UInt) {
        warnings->append(tr("Insets: %1 is not an integer").arg(QLatin1String(key)));
        return std::nullopt;
    }
    const qint64 v = value.toLongLong();
    if (v < 0 || v > 1'000'000'000) {
        warnings->append(tr("Insets: %1 is %2, out of range").arg(QLatin1String(key)).arg(v));
        return std::nullopt;
    }
    return int(v);
}

// A repeat that fits whole n times, the last one taking what is left: never less than half
// a repeat nor more than one and a half. Each repeat is drawn on its own, so a canvas far
// longer than the frame gets at most MaxRepeats of them, each longer than asked.
std::vector<ImageStretcher::Segment> tiled(double length, double src0, double src1, double scale)
{
    double repeat = (src1 - src0) * scale;
    const double fits = repeat > 0 ? std::round(length / repeat) : 1;
    const int n = int(std::clamp(fits, 1.0, double(FrameGeometry::MaxRepeats)));
    if (fits > n)
        repeat = length / n;
    std::vector<ImageStretcher::Segment> segments;
    for (int k = 0; k < n; ++k) {
        const double d0 = k * repeat;
        const double d1 = k + 1 == n ? length : (k + 1) * repeat;
        segments.push_back({d0, d1, src0, src1});
    }
    return segments;
}

} // namespace

FrameGeometry FrameGeometry::fromPropertyList(const QVariant& root, QSizeF frameSize,
                                              QStringList* warnings)
{
    QStringList ignored;
    if (!warnings)
        warnings = &ignored;
    FrameGeometry geometry;
    if (root.typeId() != QMetaType::QVariantMap) {
        warnings->append(tr("the property list is not a dictionary"));
        return geometry;
    }
    const QVariantMap map = root.toMap();
    const QVariant insets = map.value(QStringLiteral("Insets"));
    if (insets.isValid()) {
        if (insets.typeId() != QMetaType::QVariantMap) {
            warnings->append(tr("Insets is not a dictionary"));
        } else {
            const QVariantMap m = insets.toMap();
            const auto l = insetValue(m, "Left", warnings);
            const auto t = insetValue(m, "Top", warnings);
            const auto r = insetValue(m, "Right", warnings);
            const auto b = insetValue(m, "Bottom", warnings);
            if (l && t && r && b) {
                // Some middle must be left to stretch, or the edges would have no length.
                if (double(*l) + double(*r) >= frameSize.width() ||
                    double(*t) + double(*b) >= frameSize.height()) {
                    warnings->append(tr("Insets %1, %2, %3, %4 leave nothing of a %5 x %6 frame")
                                         .arg(*l)
                                         .arg(*t)
                                         .arg(*r)
                                         .arg(*b)
                                         .arg(frameSize.width())
                                         .arg(frameSize.height()));
                } else {
                    geometry.hasInsets = true;
                    geometry.left = *l;
                    geometry.top = *t;
                    geometry.right = *r;
                    geometry.bottom = *b;
                }
            }
        }
    }
    const QVariant edges = map.value(QStringLiteral("Edges"));
    if (edges.isValid()) {
        const QString e = edges.typeId() == QMetaType::QString ? edges.toString() : QString();
        const double tileWidth = frameSize.width() - geometry.left - geometry.right;
        const double tileHeight = frameSize.height() - geometry.top - geometry.bottom;
        // Such a tile would repeat far more often than anything can draw: the middle of a
        // frame 2.000001 units wide with 1-unit insets.
        if (e == QLatin1String("tile") && geometry.hasInsets &&
            (tileWidth * MinTileShare < frameSize.width() ||
             tileHeight * MinTileShare < frameSize.height()))
            warnings->append(tr("Edges: tiles of %1 x %2 are too small to repeat")
                                 .arg(tileWidth)
                                 .arg(tileHeight));
        else if (e == QLatin1String("tile"))
            geometry.edges = Edges::Tile;
        else if (e != QLatin1String("stretch"))
            warnings->append(tr("Edges must be \"stretch\" or \"tile\""));
    }
    const QVariant keep = map.value(QStringLiteral("KeepAspect"));
    if (keep.isValid()) {
        if (keep.typeId() == QMetaType::Bool)
            geometry.keepAspect = keep.toBool();
        else
            warnings->append(tr("KeepAspect is not a boolean"));
    }
    return geometry;
}

FrameGeometry FrameGeometry::flipped() const
{
    FrameGeometry g = *this;
    std::swap(g.left, g.right);
    return g;
}

FrameGeometry FrameGeometry::turned(bool clockwise) const
{
    FrameGeometry g = *this;
    // Clockwise the left edge becomes the top one; the other way the top becomes the left.
    g.top = clockwise ? left : right;
    g.right = clockwise ? top : bottom;
    g.bottom = clockwise ? right : left;
    g.left = clockwise ? bottom : top;
    return g;
}

FrameGeometry FrameGeometry::scaled(QSizeF from, QSizeF to) const
{
    if (from == to || from.isEmpty() || to.isEmpty() || !hasInsets)
        return *this;
    FrameGeometry g = *this;
    const double kx = to.width() / from.width();
    const double ky = to.height() / from.height();
    g.left = int(std::lround(left * kx));
    g.right = int(std::lround(right * kx));
    g.top = int(std::lround(top * ky));
    g.bottom = int(std::lround(bottom * ky));
    // Rounding must not eat the middle that the insets left.
    if (g.left + g.right >= to.width() || g.top + g.bottom >= to.height())
        g.hasInsets = false;
    return g;
}

double FrameGeometry::scaleFor(QSizeF frameSize, QSize canvas)
{
    if (frameSize.isEmpty() || canvas.isEmpty())
        return 1.0;
    return std::min(canvas.width() / frameSize.width(), canvas.height() / frameSize.height());
}

FrameGeometry::Layout FrameGeometry::layout(QSizeF frameSize, QSize canvas) const
{
    Layout out;
    if (frameSize.isEmpty() || canvas.isEmpty())
        return out;
    const double w = frameSize.width();
    const double h = frameSize.height();
    const int W = canvas.width();
    const int H = canvas.height();
    const double s = scaleFor(frameSize, canvas);

    if (keepAspect) {
        const int pw = std::clamp(int(std::lround(w * s)), 1, W);
        const int ph = std::clamp(int(std::lround(h * s)), 1, H);
        out.placed = QRect((W - pw) / 2, (H - ph) / 2, pw, ph);
        const QRect& p = out.placed;
        Cell cell{QRect(0, 0, W, H), {}, {}};
        cell.columns = {{0, double(p.left()), 0, 0},
                        {double(p.left()), double(p.left() + pw), 0, w},
                        {double(p.left() + pw), double(W), w, w}};
        cell.rows = {{0, double(p.top()), 0, 0},
                     {double(p.top()), double(p.top() + ph), 0, h},
                     {double(p.top() + ph), double(H), h, h}};
        out.cells.push_back(std::move(cell));
        return out;
    }
    if (!hasInsets) {
        out.cells.push_back({QRect(0, 0, W, H), {{0, double(W), 0, w}}, {{0, double(H), 0, h}}});
        return out;
    }

    // Border thicknesses in whole pixels, so that the parts meet without a seam.
    const int L = std::min(int(std::lround(left * s)), W);
    const int R = std::min(int(std::lround(right * s)), W - L);
    const int T = std::min(int(std::lround(top * s)), H);
    const int B = std::min(int(std::lround(bottom * s)), H - T);
    const int xs[4] = {0, L, W - R, W};
    const int ys[4] = {0, T, H - B, H};
    const double sx[4] = {0, double(left), w - right, w};
    const double sy[4] = {0, double(top), h - bottom, h};
    const bool tile = edges == Edges::Tile;
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            const QRect target(xs[i], ys[j], xs[i + 1] - xs[i], ys[j + 1] - ys[j]);
            if (target.isEmpty())
                continue;
            Cell cell{target, {}, {}};
            const double cw = target.width();
            const double ch = target.height();
            // Top and bottom edges repeat along x, left and right ones along y; corners and
            // the middle are never repeated.
            if (tile && i == 1 && j != 1)
                cell.columns = tiled(cw, sx[1], sx[2], s);
            else
                cell.columns = {{0, cw, sx[i], sx[i + 1]}};
            if (tile && j == 1 && i != 1)
                cell.rows = tiled(ch, sy[1], sy[2], s);
            else
                cell.rows = {{0, ch, sy[j], sy[j + 1]}};
            out.cells.push_back(std::move(cell));
        }
    }
    return out;
}
