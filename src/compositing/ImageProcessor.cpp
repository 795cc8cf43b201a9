#include "compositing/ImageProcessor.h"

QImage ImageProcessor::flipImageHorizontal(const QImage& image)
{
    return image.mirrored(true, false);
}
QImage ImageProcessor::rotateCW(const QImage& image)
{
    return image;
}
QSize ImageProcessor::scaledSizeToFit(QSize image, QSize)
{
    return image;
}
QImage ImageProcessor::scaleImageToFit(const QImage& image, QSize)
{
    return image;
}
QImage ImageProcessor::copyImage(const QImage& image)
{
    return image;
}
int ImageProcessor::borderType(const QImage&)
{
    return -1;
}
bool ImageProcessor::isGrayscaleMask(const QImage&)
{
    return false;
}
QImage ImageProcessor::maskBitmap(const QImage& border)
{
    return border;
}
int ImageProcessor::orientation(QSize)
{
    return 0;
}
ImageProcessor::ColorComponents ImageProcessor::colorComponents(const std::optional<QColor>&)
{
    return {};
}
QImage ImageProcessor::overlayFromGrayscaleRep(const QImage&, const std::optional<QColor>&)
{
    return {};
}
QImage ImageProcessor::rotatedOverlayFromGrayscaleRep(const QImage&, const std::optional<QColor>&)
{
    return {};
}
QImage ImageProcessor::overlayFromRGBRep(const QImage&, const std::optional<QColor>&)
{
    return {};
}
QImage ImageProcessor::rotatedOverlayFromRGBRep(const QImage&, const std::optional<QColor>&)
{
    return {};
}
QImage ImageProcessor::overlayFromMask(const QImage&, const ColorComponents&, bool)
{
    return {};
}
bool ImageProcessor::isInverseImage(const QImage&)
{
    return false;
}
unsigned ImageProcessor::cornerBrightness(const QImage&, float, float, float, float)
{
    return 0;
}
unsigned ImageProcessor::brightnessAt(const QImage&, int, int)
{
    return 0;
}
