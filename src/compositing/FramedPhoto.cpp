#include "FramedPhoto.h"

#include <algorithm>
#include <cmath>

FramedPhoto::CompositeKey FramedPhoto::compositeKey() const
{
    // A null image's cache key is 0, which no image with pixels has.
    std::optional<QColor> rgb;
    if (color && color->isValid())
        rgb = color->toRgb();
    CompositeKey key;
    key.photo = photo.cacheKey();
    key.frame = frame.cacheKey();
    key.postMask = postMask.cacheKey();
    key.frameDrawing = frameDrawing ? frameDrawing->serial() : 0;
    key.postMaskDrawing = postMaskDrawing ? postMaskDrawing->serial() : 0;
    key.geometry = geometry;
    key.color = rgb;
    key.autoRotate = autoRotate;
    key.offset = canvasOffset(offset);
    return key;
}

QSize FramedPhoto::frameSize() const
{
    if (!frame.isNull())
        return frame.size();
    if (!frameDrawing)
        return {};
    QSizeF size = frameDrawing->size();
    // A drawing in tiny units still shows its shape, which decides the quarter turn.
    if (size.width() < 1000 && size.height() < 1000)
        size.scale(1000, 1000, Qt::KeepAspectRatio);
    return QSize(std::max(1, int(std::lround(size.width()))),
                 std::max(1, int(std::lround(size.height()))));
}

QPoint canvasOffset(QPointF offset)
{
    // Far enough out that the photo misses the canvas, near enough to add sizes safely.
    constexpr double limit = 1 << 30;
    const double x = std::clamp(offset.x(), -limit, limit);
    const double y = std::clamp(offset.y(), -limit, limit);
    if (std::isnan(x) || std::isnan(y))
        return {};
    return QPoint(int(std::lround(x)), -int(std::lround(y)));
}
