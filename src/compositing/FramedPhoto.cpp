#include "FramedPhoto.h"

#include "compositing/BorderCompositor.h"

FramedPhoto::CompositeKey FramedPhoto::compositeKey() const
{
    // A null image's cache key is 0, which no image with pixels has.
    std::optional<QColor> rgb;
    if (color && color->isValid())
        rgb = color->toRgb();
    return CompositeKey{photo.cacheKey(),    frame.cacheKey(),
                        postMask.cacheKey(), rgb,
                        autoRotate,          BorderCompositor::canvasOffset(offset)};
}
