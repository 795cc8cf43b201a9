#pragma once

#include "compositing/ImageStretcher.h"

#include <QRect>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <vector>

// How a frame is laid over a canvas of another shape, as its "<Name>_frame.plist" says.
// Plain (the default): stretched to the canvas, width and height each on their own.
// With insets: drawn in nine parts, so that every border keeps its thickness on any photo.
// Kept in shape: scaled as a whole and centred, the canvas around it drawn like its rim.
struct FrameGeometry {
    enum class Edges { Stretch, Tile };

    bool hasInsets = false;
    // In the frame's own units (pixels, or view-box units of a drawing).
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    Edges edges = Edges::Stretch;
    bool keepAspect = false;

    // Each repeat of a drawn tile is drawn on its own, band after band: tiles repeat no
    // more often than this along an edge (each then longer than asked), and tiles smaller
    // than a MinTileShare-th of the frame are refused.
    static constexpr int MaxRepeats = 250;
    static constexpr int MinTileShare = 1000;

    bool operator==(const FrameGeometry&) const = default;
    bool isPlain() const { return !hasInsets && !keepAspect; }

    // The property list's root for a frame of the given size. Every entry that is not as
    // it should be (a wrong type, a negative inset, insets that leave no middle) is left out
    // and told in *warnings; the rest still counts.
    static FrameGeometry fromPropertyList(const QVariant& root, QSizeF frameSize,
                                          QStringList* warnings);

    // The same for the frame mirrored left to right, or turned a quarter turn.
    FrameGeometry flipped() const;
    FrameGeometry turned(bool clockwise) const;
    // The same for a picture of another size (a post mask drawn at another resolution).
    FrameGeometry scaled(QSizeF from, QSizeF to) const;

    // One rectangle of the canvas and what of the frame it shows, per axis.
    struct Cell {
        QRect target;
        std::vector<ImageStretcher::Segment> columns; // target x relative to target.left()
        std::vector<ImageStretcher::Segment> rows;
    };
    struct Layout {
        std::vector<Cell> cells; // they tile the canvas without overlap
        // Where the whole frame sits when it is kept in shape; the canvas outside is not
        // part of the frame. Null otherwise.
        QRect placed;
    };
    // The cells for a frame of frameSize drawn on a canvas; empty for an empty size.
    Layout layout(QSizeF frameSize, QSize canvas) const;
    // s = min(W / w, H / h): the scale of corners, borders and kept shapes.
    static double scaleFor(QSizeF frameSize, QSize canvas);
};
