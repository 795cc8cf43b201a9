#pragma once

#include "compositing/FrameGeometry.h"
#include "compositing/ImageStretcher.h"
#include "compositing/VectorImage.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// One picture of a frame (its overlay or its post mask) as it lies on a canvas: a bitmap
// at the frame's size, or a drawing, laid out by the frame's geometry and drawn at the
// canvas's own size. A value that threads may share; each thread reads rows through a Rows
// of its own, so no full-size copy of the picture is ever needed.
class FrameLayer {
public:
    enum class Kind { Color, Alpha }; // rows of premultiplied ARGB32 words, or alpha bytes

    FrameLayer() = default;
    // image: ARGB32_Premultiplied (Color) or Alpha8 (Alpha), already turned as the frame
    // is, with the geometry turned likewise. outside: the pixel the canvas around a frame
    // kept in shape shows (a mask frame's colour); none repeats the frame's edge pixels.
    FrameLayer(const QImage& image, const FrameGeometry& geometry, QSize canvas,
               std::optional<uint32_t> outside = std::nullopt);
    // A drawing, turned a quarter turn first when turn is set (clockwise unless told
    // otherwise: the post mask of a mask frame turns the other way, as its frame does); the
    // geometry is the turned one.
    FrameLayer(std::shared_ptr<const VectorImage> drawing, bool turn, Kind kind,
               const FrameGeometry& geometry, QSize canvas, bool clockwise = true);

    bool isNull() const { return _canvas.isEmpty() || (_image.isNull() && !_drawing); }
    Kind kind() const { return _kind; }

    // The whole layer at the canvas's size (Alpha8 or ARGB32_Premultiplied); null when
    // empty or out of memory.
    QImage rendered() const;

    // Rows of one layer for one thread. Any row can be asked for and always comes out the
    // same; increasing order is cheapest.
    class Rows {
    public:
        explicit Rows(const FrameLayer* layer);
        explicit operator bool() const { return _layer != nullptr; }
        // 4 x width bytes or width bytes; valid until the next call. Null when a drawing
        // could not be drawn (out of memory).
        const uchar* row(int y);

    private:
        // Drawings are drawn this many rows at a time, at fixed places, so that a row comes
        // out the same whichever band asked for it.
        static constexpr int ChunkRows = 64;
        QImage drawRows(int first, int end) const;
        const uchar* keptRow(int y);
        void fillOutside(int y, uchar* out) const;

        const FrameLayer* _layer;
        bool _direct = false;
        std::vector<std::unique_ptr<ImageStretcher>> _stretchers; // one per layout cell
        std::vector<uchar> _buffer;
        QImage _chunk;
        int _chunkFirst = -1;
        QImage _topEdge; // a drawing kept in shape: its first and last rows, widened
        QImage _bottomEdge;
    };

private:
    QSizeF frameSize() const;

    QImage _image;
    std::shared_ptr<const VectorImage> _drawing;
    bool _turn = false;
    bool _clockwise = true;
    Kind _kind = Kind::Color;
    FrameGeometry _geometry;
    QSize _canvas;
    std::optional<uint32_t> _outside;
    FrameGeometry::Layout _layout;
};
