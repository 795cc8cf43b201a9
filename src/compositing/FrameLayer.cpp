#include "compositing/FrameLayer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

FrameLayer::FrameLayer(const QImage& image, const FrameGeometry& geometry, QSize canvas,
                       std::optional<uint32_t> outside)
    : _image(image), _kind(image.format() == QImage::Format_Alpha8 ? Kind::Alpha : Kind::Color),
      _geometry(geometry), _canvas(canvas), _outside(outside)
{
    if (!_image.isNull() && !_geometry.isPlain())
        _layout = _geometry.layout(frameSize(), _canvas);
}

FrameLayer::FrameLayer(std::shared_ptr<const VectorImage> drawing, bool turn, Kind kind,
                       const FrameGeometry& geometry, QSize canvas, bool clockwise)
    : _drawing(std::move(drawing)), _turn(turn), _clockwise(clockwise), _kind(kind),
      _geometry(geometry), _canvas(canvas)
{
    if (_drawing)
        _layout = _geometry.layout(frameSize(), _canvas);
}

QSizeF FrameLayer::frameSize() const
{
    if (_drawing)
        return _turn ? _drawing->size().transposed() : _drawing->size();
    return QSizeF(_image.size());
}

QImage FrameLayer::rendered() const
{
    if (isNull())
        return {};
    QImage out(_canvas,
               _kind == Kind::Alpha ? QImage::Format_Alpha8 : QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return {};
    Rows rows(this);
    const qsizetype bytes = qsizetype(_canvas.width()) * (_kind == Kind::Alpha ? 1 : 4);
    for (int y = 0; y < _canvas.height(); ++y) {
        const uchar* row = rows.row(y);
        if (!row)
            return {};
        std::memcpy(out.scanLine(y), row, size_t(bytes));
    }
    return out;
}

FrameLayer::Rows::Rows(const FrameLayer* layer) : _layer(layer)
{
    if (!layer || layer->isNull()) {
        _layer = nullptr;
        return;
    }
    if (layer->_drawing)
        return;
    const int channels = layer->_kind == Kind::Alpha ? 1 : 4;
    if (layer->_geometry.isPlain()) {
        _direct = layer->_image.size() == layer->_canvas;
        if (!_direct) {
            _stretchers.push_back(std::make_unique<ImageStretcher>(layer->_image, layer->_canvas));
            _buffer.resize(size_t(layer->_canvas.width()) * channels);
        }
        return;
    }
    for (const FrameGeometry::Cell& cell : layer->_layout.cells)
        _stretchers.push_back(std::make_unique<ImageStretcher>(layer->_image, cell.target.size(),
                                                               cell.columns, cell.rows));
    _buffer.resize(size_t(layer->_canvas.width()) * channels);
}

void FrameLayer::Rows::fillOutside(int y, uchar* out) const
{
    const QRect& placed = _layer->_layout.placed;
    if (!_layer->_outside || placed.isNull())
        return;
    auto* words = reinterpret_cast<uint32_t*>(out);
    const uint32_t fill = *_layer->_outside;
    const int w = _layer->_canvas.width();
    if (y < placed.top() || y > placed.bottom()) {
        std::fill(words, words + w, fill);
        return;
    }
    std::fill(words, words + placed.left(), fill);
    std::fill(words + placed.left() + placed.width(), words + w, fill);
}

const uchar* FrameLayer::Rows::row(int y)
{
    const FrameLayer& l = *_layer;
    if (_direct)
        return l._image.constScanLine(y);
    if (l._drawing)
        return keptRow(y);
    if (l._geometry.isPlain()) {
        _stretchers.front()->stretchRow(y, _buffer.data());
        return _buffer.data();
    }
    const int channels = l._kind == Kind::Alpha ? 1 : 4;
    for (size_t i = 0; i < l._layout.cells.size(); ++i) {
        const QRect& target = l._layout.cells[i].target;
        if (y >= target.top() && y <= target.bottom())
            _stretchers[i]->stretchRow(y - target.top(),
                                       _buffer.data() + size_t(target.left()) * channels);
    }
    fillOutside(y, _buffer.data());
    return _buffer.data();
}

QImage FrameLayer::Rows::drawRows(int first, int end) const
{
    const FrameLayer& l = *_layer;
    const int w = l._canvas.width();
    QImage rows(w, end - first, QImage::Format_ARGB32_Premultiplied);
    if (rows.isNull())
        return {};
    rows.fill(0);
    const QRect band(0, first, w, end - first);
    // The drawing's own units to the turned frame's: clockwise its left edge becomes the
    // top one, counter-clockwise its right edge does.
    QTransform turn;
    if (l._turn && l._clockwise)
        turn = QTransform(0, 1, -1, 0, l._drawing->size().height(), 0);
    else if (l._turn)
        turn = QTransform(0, -1, 1, 0, 0, l._drawing->size().width());
    {
        QPainter painter(&rows);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(0, -first);
        for (const FrameGeometry::Cell& cell : l._layout.cells) {
            for (const ImageStretcher::Segment& xs : cell.columns) {
                for (const ImageStretcher::Segment& ys : cell.rows) {
                    if (xs.src1 <= xs.src0 || ys.src1 <= ys.src0)
                        continue; // the canvas around a kept shape: widened afterwards
                    const double left = cell.target.left() + xs.dst0;
                    const double top = cell.target.top() + ys.dst0;
                    const double right = cell.target.left() + xs.dst1;
                    const double bottom = cell.target.top() + ys.dst1;
                    // Whole pixels, rounded alike on both sides of a shared edge, so that
                    // neighbouring parts neither overlap nor leave a gap.
                    const QRect clip(
                        QPoint(int(std::lround(left)), int(std::lround(top))),
                        QPoint(int(std::lround(right)) - 1, int(std::lround(bottom)) - 1));
                    if (!clip.intersects(band))
                        continue;
                    const double kx = (right - left) / (xs.src1 - xs.src0);
                    const double ky = (bottom - top) / (ys.src1 - ys.src0);
                    const QTransform piece(kx, 0, 0, ky, left - xs.src0 * kx, top - ys.src0 * ky);
                    painter.save();
                    painter.setClipRect(clip);
                    l._drawing->render(&painter, turn * piece);
                    painter.restore();
                }
            }
        }
    }
    const QRect& placed = l._layout.placed;
    if (!placed.isNull()) {
        // The drawing's nearest edge pixels to the left and right of a kept shape.
        for (int y = 0; y < rows.height(); ++y) {
            auto* line = reinterpret_cast<uint32_t*>(rows.scanLine(y));
            std::fill(line, line + placed.left(), line[placed.left()]);
            std::fill(line + placed.left() + placed.width(), line + w,
                      line[placed.left() + placed.width() - 1]);
        }
    }
    if (l._kind == Kind::Alpha)
        return rows.convertToFormat(QImage::Format_Alpha8);
    return rows;
}

const uchar* FrameLayer::Rows::keptRow(int y)
{
    const FrameLayer& l = *_layer;
    const QRect& placed = l._layout.placed;
    // Above and below a kept shape, its first and last rows repeat.
    if (!placed.isNull() && y < placed.top()) {
        if (_topEdge.isNull())
            _topEdge = drawRows(placed.top(), placed.top() + 1);
        return _topEdge.isNull() ? nullptr : _topEdge.constScanLine(0);
    }
    if (!placed.isNull() && y > placed.bottom()) {
        if (_bottomEdge.isNull())
            _bottomEdge = drawRows(placed.bottom(), placed.bottom() + 1);
        return _bottomEdge.isNull() ? nullptr : _bottomEdge.constScanLine(0);
    }
    const int first = y / ChunkRows * ChunkRows;
    if (_chunkFirst != first || _chunk.isNull()) {
        _chunk = drawRows(first, std::min(first + ChunkRows, l._canvas.height()));
        _chunkFirst = _chunk.isNull() ? -1 : first;
    }
    return _chunk.isNull() ? nullptr : _chunk.constScanLine(y - first);
}
