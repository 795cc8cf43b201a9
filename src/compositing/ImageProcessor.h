#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>

#include <array>
#include <optional>

// Pixel operations on QImage shared by the preview, the export and the batch framer.
// Every function is pure: the inputs are never changed, a null image in gives a null
// image out.
class ImageProcessor {
public:
    // Frame kinds of borderType().
    enum BorderKind { NoBorder = -1, MaskBorder = 0, AlphaBorder = 1 };
    // Orientation codes of orientation().
    enum Orientation { Square = 0, Landscape = 1, Portrait = 2 };

    // Red, green and blue in [0, 1] as single-precision values; absent means black.
    using ColorComponents = std::optional<std::array<float, 3>>;

    static QImage flipImageHorizontal(const QImage& image);
    // Turns a quarter turn clockwise; the left edge becomes the top edge.
    static QImage rotateCW(const QImage& image);
    // The opposite quarter turn, as the turned mask overlays are turned.
    static QImage rotateCCW(const QImage& image);

    // Never enlarges. Too wide: W x roundf(W / r); otherwise (ties too) roundf(r * H) x H,
    // with r = w / h in single precision. Neither side ever drops below one pixel.
    static QSize scaledSizeToFit(QSize image, QSize box);
    static QImage scaleImageToFit(const QImage& image, QSize box); // copyImage when it fits
    static QImage copyImage(const QImage& image);

    // 1 alpha frame, 0 mask (8-bit gray or RGB without alpha), -1 no frame.
    static int borderType(const QImage& border);
    // True for a mask whose pixels are gray (Grayscale8, or Indexed8 with a gray palette).
    static bool isGrayscaleMask(const QImage& border);
    // The mask in a layout the overlays read: Grayscale8 for gray masks, RGB32 (as Qt
    // decodes colour JPEGs) or RGB888 for colour ones.
    static QImage maskBitmap(const QImage& border);
    static int orientation(QSize size);
    static int orientation(const QImage& image) { return orientation(image.size()); }

    // The colour as the overlays use it: RGB colours by their components, anything else
    // converted to RGB first. An absent or invalid colour gives black.
    static ColorComponents colorComponents(const std::optional<QColor>& color);

    // Mask overlays: premultiplied ARGB, alpha = mask value (inverted for inverse masks),
    // colour samples rintf(component x alpha). The turned forms are turned a quarter turn
    // counter-clockwise (the mask's top right corner becomes the top left one). The mask
    // is converted by maskBitmap when it comes in another layout.
    static QImage overlayFromGrayscaleRep(const QImage& mask, const std::optional<QColor>& color);
    static QImage rotatedOverlayFromGrayscaleRep(const QImage& mask,
                                                 const std::optional<QColor>& color);
    static QImage overlayFromRGBRep(const QImage& mask, const std::optional<QColor>& color);
    static QImage rotatedOverlayFromRGBRep(const QImage& mask, const std::optional<QColor>& color);
    // The same with the colour given by its exact components.
    static QImage overlayFromMask(const QImage& mask, const ColorComponents& color, bool rotated);

    static bool isInverseImage(const QImage& mask);
    // Sum of brightnessAt at the rectangle's four corner pixels (truncated toward zero,
    // far corner at x + w - 1, y + h - 1 in single precision).
    static unsigned cornerBrightness(const QImage& mask, float x, float y, float w, float h);
    // RGB888: lrint(0.222 R + 0.707 G + 0.071 B) in double precision; Grayscale8 and
    // Alpha8: the byte; anything else is read as RGB. Coordinates outside the image give 0.
    static unsigned brightnessAt(const QImage& mask, int x, int y);
};
