#include "compositing/BorderCompositor.h"

namespace BorderCompositor {
void OverlayCache::clear()
{
    *this = OverlayCache();
}
OverlayOperator overlayOperator(bool, bool, int)
{
    return OverlayOperator::SourceOver;
}
bool shouldTurnFrame(QSize, QSize, bool)
{
    return false;
}
QImage frameOverlay(const QImage&, const std::optional<QColor>&, bool, int*)
{
    return {};
}
void buildOverlayCache(OverlayCache&, const QImage&, const QImage&, const std::optional<QColor>&,
                       bool, QSize)
{
}
QImage compositePreview(const QImage& reducedPhoto, QSize, const QImage&, const QImage&,
                        const std::optional<QColor>&, QPointF, bool, OverlayCache&, QSize)
{
    return reducedPhoto;
}
QImage compositeFullResolution(const QImage& photo, const QImage&, const QImage&,
                               const std::optional<QColor>&, QPointF, bool, int)
{
    return photo;
}
QImage compositeLayers(const QImage& photo, QPoint, const QImage&, OverlayOperator, const QImage&,
                       const std::optional<QColor>&, int)
{
    return photo;
}
QPoint canvasOffset(QPointF)
{
    return {};
}
QPointF previewOffset(QPointF t, QPointF c, QPointF d)
{
    return t + (c - d);
}
QPointF fullResolutionOffset(QPointF t, int, int)
{
    return t;
}
} // namespace BorderCompositor
