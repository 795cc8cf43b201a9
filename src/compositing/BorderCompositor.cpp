#include "compositing/BorderCompositor.h"

#include "compositing/BlendKernels.h"
#include "compositing/FramedPhoto.h"
#include "compositing/ImageProcessor.h"
#include "compositing/ImageStretcher.h"
#include "foundation/Logging.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace BorderCompositor {

void OverlayCache::clear()
{
    *this = OverlayCache();
}

OverlayOperator overlayOperator(bool hasColor, bool hasPostMask, int borderType)
{
    if (hasColor || hasPostMask || borderType == ImageProcessor::AlphaBorder)
        return OverlayOperator::SourceOver;
    return OverlayOperator::DestinationOut;
}

bool shouldTurnFrame(QSize photoSize, QSize frameSize, bool autoRotate)
{
    const int photo = ImageProcessor::orientation(photoSize);
    const int frame = ImageProcessor::orientation(frameSize);
    return autoRotate && photo != ImageProcessor::Square && frame != ImageProcessor::Square &&
           photo != frame;
}

QImage frameOverlay(const QImage& border, const std::optional<QColor>& color, bool turn,
                    int* borderType)
{
    const int type = ImageProcessor::borderType(border);
    if (borderType)
        *borderType = type;
    switch (type) {
    case ImageProcessor::AlphaBorder:
        return turn ? ImageProcessor::rotateCW(border) : ImageProcessor::copyImage(border);
    case ImageProcessor::MaskBorder:
        return ImageProcessor::overlayFromMask(ImageProcessor::maskBitmap(border),
                                               ImageProcessor::colorComponents(color), turn);
    default:
        return {};
    }
}

namespace {

std::optional<QColor> validColor(const std::optional<QColor>& color)
{
    if (color && color->isValid())
        return color;
    return std::nullopt;
}

// The post mask turns the way its frame does (alpha frames clockwise, mask frames
// counter-clockwise), so its holes stay where the frame has them.
QImage turnedPostMask(const QImage& postMask, bool turn, bool clockwise)
{
    if (postMask.isNull() || !turn)
        return postMask;
    return clockwise ? ImageProcessor::rotateCW(postMask) : ImageProcessor::rotateCCW(postMask);
}

// Layouts the blend reads: premultiplied overlay, post mask as alpha only.
QImage premultiplied(const QImage& image)
{
    return image.isNull() ? image : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage alphaOnly(const QImage& image)
{
    if (image.isNull())
        return image;
    // Qt 6.4 leaves part of the result unset when it turns a 1-bit or palette picture
    // straight into Alpha8; through ARGB32 every pixel gets its palette entry's alpha.
    const QImage::Format format = image.format();
    if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
        format == QImage::Format_Indexed8)
        return image.convertToFormat(QImage::Format_ARGB32).convertToFormat(QImage::Format_Alpha8);
    return image.convertToFormat(QImage::Format_Alpha8);
}

// Raw rows, taken once before the bands start: QImage's non-const accessors are not
// safe to call from several threads.
struct Layers {
    const uchar* photo; // row photoFirstRow of the photo
    qsizetype photoStride;
    int photoFirstRow = 0;
    QSize photoSize;
    bool photoIsRGB32; // its unused top byte is not trusted to hold 0xff
    QPoint offset;
    const FrameLayer* overlay = nullptr; // at the canvas's size
    OverlayOperator op;
    const FrameLayer* postMask = nullptr;
    bool hasColor;
    uint32_t color;
    uchar* canvas; // row canvasFirstRow of the canvas
    qsizetype canvasStride;
    int canvasFirstRow = 0;
    QSize size;
};

void compositeRowsUnguarded(const Layers& l, int firstRow, int endRow)
{
    const int w = l.size.width();
    const int pw = l.photoSize.width();
    const int ph = l.photoSize.height();
    const int photoX0 = std::clamp(l.offset.x(), 0, w);
    const int photoX1 = int(std::clamp<qint64>(qint64(l.offset.x()) + pw, 0, w));
    const bool destinationOut = l.op == OverlayOperator::DestinationOut;
    const uint32_t opaque = l.photoIsRGB32 ? 0xff000000u : 0u;
    FrameLayer::Rows overlay(l.overlay);
    FrameLayer::Rows postMask(l.postMask);
    // A drawing that could not be drawn leaves the band unmade, as a failed buffer would.
    auto rowOf = [](FrameLayer::Rows& rows, int y) {
        const uchar* row = rows.row(y);
        if (!row)
            throw std::bad_alloc();
        return row;
    };
    for (int y = firstRow; y < endRow; ++y) {
        auto* out = reinterpret_cast<uint32_t*>(l.canvas +
                                                qsizetype(y - l.canvasFirstRow) * l.canvasStride);
        const qint64 py = qint64(y) - l.offset.y();
        if (py >= 0 && py < ph && photoX0 < photoX1) {
            const auto* in =
                reinterpret_cast<const uint32_t*>(l.photo + (py - l.photoFirstRow) * l.photoStride);
            std::fill(out, out + photoX0, 0u);
            BlendKernels::copyPhotoRow(out + photoX0, in + (photoX0 - l.offset.x()),
                                       photoX1 - photoX0, opaque);
            std::fill(out + photoX1, out + w, 0u);
        } else {
            std::fill(out, out + w, 0u);
        }
        if (overlay)
            BlendKernels::overlayRow(out, reinterpret_cast<const uint32_t*>(rowOf(overlay, y)), w,
                                     destinationOut);
        if (postMask) {
            BlendKernels::cutRow(out, rowOf(postMask, y), w);
            if (l.hasColor)
                BlendKernels::colorBehindRow(out, l.color, w);
        }
    }
}

// A band that cannot get its row buffers marks the whole composite as failed instead of
// taking the program down from inside a thread.
void compositeRows(const Layers& l, int firstRow, int endRow, std::atomic<bool>* failed)
{
    try {
        compositeRowsUnguarded(l, firstRow, endRow);
    } catch (const std::bad_alloc&) {
        Logging::logCaughtException("Compositing a band of rows");
        failed->store(true);
    }
}

int bandCount(int requested, int rows)
{
    int bands = requested > 0 ? requested : std::max(1, QThread::idealThreadCount());
    // Small canvases are not worth a thread.
    return std::clamp(std::min(bands, rows / 64), 1, 64);
}

} // namespace

QImage compositeLayers(const QImage& photo, QPoint offset, const QImage& overlay,
                       OverlayOperator op, const QImage& postMask,
                       const std::optional<QColor>& color, int bands)
{
    if (photo.isNull())
        return {};
    const FrameLayer over(premultiplied(overlay), FrameGeometry(), photo.size());
    const FrameLayer mask(alphaOnly(postMask), FrameGeometry(), photo.size());
    return compositeLayers(photo, offset, over, op, mask, color, bands);
}

QImage compositeLayers(const QImage& photoIn, QPoint offset, const FrameLayer& over,
                       OverlayOperator op, const FrameLayer& mask,
                       const std::optional<QColor>& colorIn, int bands)
{
    if (photoIn.isNull())
        return {};
    QImage photo = photoIn;
    if (photo.format() != QImage::Format_RGB32 &&
        photo.format() != QImage::Format_ARGB32_Premultiplied)
        photo = photo.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage canvas(photo.size(), QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return {};

    const std::optional<QColor> color = validColor(colorIn);
    Layers layers;
    layers.photo = photo.constBits();
    layers.photoStride = photo.bytesPerLine();
    layers.photoSize = photo.size();
    layers.photoIsRGB32 = photo.format() == QImage::Format_RGB32;
    layers.offset = offset;
    layers.op = op;
    if (!over.isNull())
        layers.overlay = &over;
    if (!mask.isNull())
        layers.postMask = &mask;
    layers.hasColor = color.has_value();
    layers.color = color ? qPremultiply(color->rgba()) : 0u;
    layers.canvas = canvas.bits();
    layers.canvasStride = canvas.bytesPerLine();
    layers.size = canvas.size();

    const int rows = canvas.height();
    const int count = bandCount(bands, rows);
    std::atomic<bool> failed = false;
    if (count == 1) {
        compositeRows(layers, 0, rows, &failed);
    } else {
        std::vector<std::thread> threads;
        for (int i = 1; i < count; ++i) {
            const int first = int(qint64(rows) * i / count);
            const int end = int(qint64(rows) * (i + 1) / count);
            try {
                threads.emplace_back(compositeRows, std::cref(layers), first, end, &failed);
            } catch (const std::system_error&) {
                Logging::logCaughtException("Starting a compositing thread");
                compositeRows(layers, first, end, &failed); // no thread to be had: do it here
            }
        }
        compositeRows(layers, 0, rows / count, &failed);
        for (std::thread& t : threads)
            t.join();
    }
    if (failed.load())
        return {};
    return canvas;
}

namespace {

// scaleImageToFit of the image turned a quarter turn (or not turned), fitted into box.
QImage reducedTurned(const QImage& image, QSize box, bool turn, bool clockwise)
{
    if (image.isNull())
        return {};
    if (!turn)
        return ImageProcessor::scaleImageToFit(image, box);
    const QSize turned = ImageProcessor::scaledSizeToFit(image.size().transposed(), box);
    const QSize beforeTurn = turned.transposed();
    const QImage small =
        beforeTurn == image.size()
            ? image
            : image.scaled(beforeTurn, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return clockwise ? ImageProcessor::rotateCW(small) : ImageProcessor::rotateCCW(small);
}

OverlayCache::Key previewKey(const FramedPhoto& framed, bool turn, QSize box)
{
    OverlayCache::Key key;
    key.frame = framed.compositeKey();
    key.frame.photo = 0;
    key.frame.offset = QPoint();
    key.frame.autoRotate = false; // the turn it decided is what counts
    key.turned = turn;
    key.box = box;
    return key;
}

} // namespace

void buildOverlayCache(OverlayCache& cache, const QImage& border, const QImage& postMask,
                       const std::optional<QColor>& colorIn, bool turn, QSize box)
{
    const std::optional<QColor> color = validColor(colorIn);
    cache.clear();
    int type = ImageProcessor::NoBorder;
    // Turning is a pure rearrangement of pixels, so reduce first and turn the small image:
    // the same picture as turning the large one, at a fraction of the memory traffic.
    const QImage overlay = frameOverlay(border, color, false, &type);
    const bool clockwise = type == ImageProcessor::AlphaBorder;
    cache.overlay = reducedTurned(overlay, box, turn, clockwise);
    cache.smallPostMask = reducedTurned(postMask, box, turn, clockwise);
    cache.borderType = type;
    cache.turned = turn;
    FramedPhoto inputs;
    inputs.frame = border;
    inputs.postMask = postMask;
    inputs.color = color;
    cache.built = previewKey(inputs, turn, box);
}

namespace {

// What the canvas around a mask frame kept in shape shows: the frame's colour, as the
// overlay makes it where the mask is full.
uint32_t fullMaskPixel(const std::optional<QColor>& color)
{
    QImage full(1, 1, QImage::Format_Grayscale8);
    full.fill(255);
    const QImage pixel = premultiplied(
        ImageProcessor::overlayFromMask(full, ImageProcessor::colorComponents(color), false));
    return pixel.isNull() ? 0u : reinterpret_cast<const uint32_t*>(pixel.constScanLine(0))[0];
}

} // namespace

CanvasLayers canvasLayers(const FramedPhoto& framed, QSize canvas,
                          const std::optional<QColor>& colorIn, bool turn)
{
    CanvasLayers layers;
    if (!framed.hasFrame() || canvas.isEmpty())
        return layers;
    const std::optional<QColor> color = validColor(colorIn);
    const FrameGeometry& geometry = framed.geometry;
    const FrameGeometry clockwise = turn ? geometry.turned(true) : geometry;
    const QSizeF frameSize =
        framed.frameDrawing ? framed.frameDrawing->size() : QSizeF(framed.frame.size());
    if (framed.frameDrawing) {
        layers.borderType = ImageProcessor::AlphaBorder;
        layers.overlay =
            FrameLayer(framed.frameDrawing, turn, FrameLayer::Kind::Color, clockwise, canvas);
    } else {
        const QImage overlay =
            premultiplied(frameOverlay(framed.frame, color, turn, &layers.borderType));
        const bool mask = layers.borderType == ImageProcessor::MaskBorder;
        const FrameGeometry turned = turn ? geometry.turned(!mask) : geometry;
        std::optional<uint32_t> outside;
        if (mask && geometry.keepAspect)
            outside = fullMaskPixel(color);
        layers.overlay = FrameLayer(overlay, turned, canvas, outside);
    }
    // The post mask is laid out and turned like its frame, whose kind sets the direction.
    const bool maskFrame = layers.borderType == ImageProcessor::MaskBorder;
    if (framed.postMaskDrawing) {
        const FrameGeometry own = geometry.scaled(frameSize, framed.postMaskDrawing->size());
        layers.postMask = FrameLayer(framed.postMaskDrawing, turn, FrameLayer::Kind::Alpha,
                                     turn ? own.turned(!maskFrame) : own, canvas, !maskFrame);
    } else if (!framed.postMask.isNull()) {
        const FrameGeometry own = geometry.scaled(frameSize, QSizeF(framed.postMask.size()));
        // Alpha first: a quarter turn moves a quarter of the bytes (the same pixels).
        layers.postMask = FrameLayer(turnedPostMask(alphaOnly(framed.postMask), turn, !maskFrame),
                                     turn ? own.turned(!maskFrame) : own, canvas);
    }
    return layers;
}

QImage compositePreview(const FramedPhoto& framed, const QImage& reducedPhoto, QPointF offset,
                        OverlayCache& cache, QSize viewSize)
{
    if (reducedPhoto.isNull())
        return {};
    const std::optional<QColor> color = validColor(framed.color);
    const QPoint at = canvasOffset(offset);
    if (!framed.hasFrame())
        return compositeLayers(reducedPhoto, at, QImage(), OverlayOperator::SourceOver, QImage(),
                               color);

    // The full photo decides the turn: a reduced copy may round to a square.
    const QSize photoSize = framed.photo.isNull() ? reducedPhoto.size() : framed.photo.size();
    const bool turn = shouldTurnFrame(photoSize, framed.frameSize(), framed.autoRotate);
    const QSize size = reducedPhoto.size();
    if (!framed.isPlainFrame()) {
        // Drawn at the preview's own size, like the export at the photo's: never a small
        // copy enlarged.
        const OverlayCache::Key key = previewKey(framed, turn, size);
        if (cache.built != key) {
            cache.clear();
            const CanvasLayers layers = canvasLayers(framed, size, color, turn);
            cache.stretchedOverlay = layers.overlay.rendered();
            cache.stretchedPostMask = layers.postMask.rendered();
            cache.overlay = cache.stretchedOverlay;
            cache.smallPostMask = cache.stretchedPostMask;
            cache.borderType = layers.borderType;
            cache.turned = turn;
            cache.built = key;
        }
    } else {
        const QSize box = viewSize.isEmpty() ? reducedPhoto.size() : viewSize;
        const OverlayCache::Key key = previewKey(framed, turn, box);
        if (cache.built != key) {
            buildOverlayCache(cache, framed.frame, framed.postMask, color, turn, box);
            cache.built = key;
        }
        if (!cache.overlay.isNull() && cache.stretchedOverlay.size() != size)
            cache.stretchedOverlay = ImageStretcher(premultiplied(cache.overlay), size).stretched();
        if (!cache.smallPostMask.isNull() && cache.stretchedPostMask.size() != size)
            cache.stretchedPostMask =
                ImageStretcher(alphaOnly(cache.smallPostMask), size).stretched();
    }

    const OverlayOperator op =
        overlayOperator(color.has_value(), !cache.smallPostMask.isNull(), cache.borderType);
    // A preview drawn for a display at scale 2 has four times the pixels: shared out over
    // the cores, so that a drag step takes no longer than at scale 1.
    const int bands = qint64(size.width()) * size.height() > 2'000'000 ? 0 : 1;
    return compositeLayers(reducedPhoto, at, cache.stretchedOverlay, op, cache.stretchedPostMask,
                           color, bands);
}

FullResolutionLayers fullResolutionLayers(const FramedPhoto& framed, QSize photoSize)
{
    FullResolutionLayers layers;
    layers.size = photoSize;
    layers.color = validColor(framed.color);
    layers.offset = canvasOffset(framed.offset);
    if (!framed.hasFrame())
        return layers;
    const bool turn = shouldTurnFrame(photoSize, framed.frameSize(), framed.autoRotate);
    CanvasLayers canvas = canvasLayers(framed, photoSize, layers.color, turn);
    layers.overlay = std::move(canvas.overlay);
    layers.postMask = std::move(canvas.postMask);
    layers.op =
        overlayOperator(layers.color.has_value(), !layers.postMask.isNull(), canvas.borderType);
    return layers;
}

QImage compositeFullResolution(const FramedPhoto& framed, int bands)
{
    const QImage& photo = framed.photo;
    if (photo.isNull())
        return {};
    const FullResolutionLayers l = fullResolutionLayers(framed, photo.size());
    return compositeLayers(photo, l.offset, l.overlay, l.op, l.postMask, l.color, bands);
}

std::pair<int, int> photoRowsFor(const FullResolutionLayers& layers, int firstRow, int endRow)
{
    const qint64 first =
        std::clamp<qint64>(qint64(firstRow) - layers.offset.y(), 0, layers.size.height());
    const qint64 end =
        std::clamp<qint64>(qint64(endRow) - layers.offset.y(), first, layers.size.height());
    return {int(first), int(end)};
}

bool compositeBand(const FullResolutionLayers& l, const QImage& photoRows, int photoFirstRow,
                   int firstRow, int endRow, QImage* band)
{
    const auto [first, end] = photoRowsFor(l, firstRow, endRow);
    const bool photoFormat = photoRows.format() == QImage::Format_RGB32 ||
                             photoRows.format() == QImage::Format_ARGB32_Premultiplied;
    if (first < end && (!photoFormat || photoRows.width() != l.size.width() ||
                        first < photoFirstRow || end > photoFirstRow + photoRows.height()))
        return false;
    const QSize size(l.size.width(), endRow - firstRow);
    if (band->size() != size || band->format() != QImage::Format_ARGB32_Premultiplied)
        *band = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (band->isNull())
        return false;
    Layers layers;
    layers.photo = photoRows.isNull() ? nullptr : photoRows.constBits();
    layers.photoStride = photoRows.bytesPerLine();
    layers.photoFirstRow = photoFirstRow;
    layers.photoSize = l.size;
    layers.photoIsRGB32 = photoRows.format() == QImage::Format_RGB32;
    layers.offset = l.offset;
    layers.op = l.op;
    if (!l.overlay.isNull())
        layers.overlay = &l.overlay;
    if (!l.postMask.isNull())
        layers.postMask = &l.postMask;
    layers.hasColor = l.color.has_value();
    layers.color = l.color ? qPremultiply(l.color->rgba()) : 0u;
    layers.canvas = band->bits();
    layers.canvasStride = band->bytesPerLine();
    layers.canvasFirstRow = firstRow;
    layers.size = l.size;
    std::atomic<bool> failed = false;
    compositeRows(layers, firstRow, endRow, &failed);
    return !failed.load();
}

QPointF scaledOffset(QPointF offset, int fromWidth, int toWidth)
{
    if (fromWidth <= 0 || toWidth <= 0)
        return offset;
    const double k = double(toWidth) / double(fromWidth);
    return QPointF(k * offset.x(), k * offset.y());
}

} // namespace BorderCompositor
