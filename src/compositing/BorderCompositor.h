#pragma once

#include "compositing/FrameLayer.h"
#include "compositing/FramedPhoto.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSize>

#include <optional>
#include <utility>

// The framed photo: the photo at its offset on a canvas of its own size, the frame overlay
// stretched over it, the post mask cut out and the colour filled in behind. The preview
// and the export both come through here, so what the user sees is what gets saved.
namespace BorderCompositor {

// View-size caches kept by the preview; compositePreview fills them lazily.
struct OverlayCache {
    QImage overlay;       // view-size overlay: tinted mask or alpha frame, turned as needed
    QImage smallPostMask; // the post mask turned like the frame and reduced the same way
    int borderType = -1;
    bool turned = false;
    // What the images above were built from: the document's composite key without the
    // photo and its offset, which the overlay does not depend on, plus the turn and the box.
    struct Key {
        FramedPhoto::CompositeKey frame;
        bool turned = false;
        QSize box;
        bool operator==(const Key&) const = default;
    };
    // None: not built. A redraw with another key rebuilds, so a change of AutoRotateBorder
    // shows at the next redraw even if nobody calls clear().
    std::optional<Key> built;
    // overlay and smallPostMask stretched to the last canvas, so drag steps only blend.
    QImage stretchedOverlay;
    QImage stretchedPostMask;
    void clear(); // drop everything (frame, colour, AutoRotateBorder or size changed)
};

enum class OverlayOperator { SourceOver, DestinationOut };

// Source-over when a colour or a post mask is present or the frame is an alpha frame;
// otherwise destination-out, which cuts the frame's area out of the photo.
OverlayOperator overlayOperator(bool hasColor, bool hasPostMask, int borderType);

// Turn when allowed and photo and frame are both non-square with different orientations.
bool shouldTurnFrame(QSize photoSize, QSize frameSize, bool autoRotate);

// The frame overlay at the frame's own size: the alpha frame (turned clockwise when
// turning) or the tinted overlay of a mask frame (turned counter-clockwise). Null for no
// frame. *borderType receives the frame kind.
QImage frameOverlay(const QImage& border, const std::optional<QColor>& color, bool turn,
                    int* borderType = nullptr);

// The frame's overlay and post mask as they lie on a canvas: drawn at the canvas's size
// from a drawing, laid out by the frame's geometry, or (a plain bitmap frame) stretched
// from the frame-size overlay. The post mask turns clockwise like an alpha frame.
struct CanvasLayers {
    FrameLayer overlay;
    FrameLayer postMask;
    int borderType = -1;
};
CanvasLayers canvasLayers(const FramedPhoto& framed, QSize canvas,
                          const std::optional<QColor>& color, bool turn);

// Builds cache.overlay and cache.smallPostMask reduced to fit box.
void buildOverlayCache(OverlayCache& cache, const QImage& border, const QImage& postMask,
                       const std::optional<QColor>& color, bool turn, QSize box);

// The document composited at the size of reducedPhoto, a reduced copy of its photo.
// offset = the photo's offset in the reduced picture, y growing upward (the document's
// offset reduced, plus the drag under way). The full photo decides the frame's
// orientation, so preview and export agree. viewSize is the box the cached overlay is
// reduced to; empty means the reduced photo's size. A cache built from other inputs (frame,
// post mask, colour, turning, box) is rebuilt. Without a frame the result is the shifted
// photo alone.
QImage compositePreview(const FramedPhoto& framed, const QImage& reducedPhoto, QPointF offset,
                        OverlayCache& cache, QSize viewSize = QSize());

// The document at full resolution. Uses up to `bands` threads (0: one per core); the result
// does not depend on their number.
QImage compositeFullResolution(const FramedPhoto& framed, int bands = 0);

// What compositeFullResolution lays over a photo of a given size, made once so that the
// composite can also be made band by band from photo rows that arrive in order, as a
// decoder gives them: then neither the photo nor the composite is ever held whole.
struct FullResolutionLayers {
    QSize size; // the canvas: the photo's size
    QPoint offset;
    FrameLayer overlay; // null: none
    OverlayOperator op = OverlayOperator::SourceOver;
    FrameLayer postMask; // null: none
    std::optional<QColor> color;
};
// framed.photo is not read: the photo may still be in its file.
FullResolutionLayers fullResolutionLayers(const FramedPhoto& framed, QSize photoSize);

// The photo rows [first, end) that canvas rows [firstRow, endRow) show; first == end when
// they show none.
std::pair<int, int> photoRowsFor(const FullResolutionLayers& layers, int firstRow, int endRow);

// Canvas rows [firstRow, endRow) into *band (ARGB32_Premultiplied, made when it has not the
// right size), the same pixels as those rows of compositeFullResolution. photoRows (RGB32
// or ARGB32_Premultiplied at the photo's width) holds the photo's rows from photoFirstRow
// on, at least those photoRowsFor names. False when rows are missing or memory ran out.
bool compositeBand(const FullResolutionLayers& layers, const QImage& photoRows, int photoFirstRow,
                   int firstRow, int endRow, QImage* band);

// The last stage: photo at offset (whole pixels, y downward as in QImage), overlay and post
// mask (or null) stretched over the photo's size, colour behind the post-mask cut-outs.
QImage compositeLayers(const QImage& photo, QPoint offset, const QImage& overlay,
                       OverlayOperator op, const QImage& postMask,
                       const std::optional<QColor>& color, int bands = 1);
// The same with overlay and post mask already laid out at the photo's size.
QImage compositeLayers(const QImage& photo, QPoint offset, const FrameLayer& overlay,
                       OverlayOperator op, const FrameLayer& postMask,
                       const std::optional<QColor>& color, int bands = 1);

// k x offset with k = toWidth / fromWidth: between the full photo and its reduced copy,
// one ratio from the widths for both axes. Unchanged when a width is not positive.
QPointF scaledOffset(QPointF offset, int fromWidth, int toWidth);

} // namespace BorderCompositor
