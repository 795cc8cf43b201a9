#pragma once

#include <QImage>
#include <QSize>

#include <deque>
#include <vector>

// Stretches an image to a given size row by row, separately in width and height: linear
// interpolation along an axis that grows, area averaging along one that shrinks. Any row
// can be asked for on its own and always comes out the same, so bands of a canvas can be
// stretched by separate threads (one stretcher each) without a full-size copy in memory.
class ImageStretcher {
public:
    // source: ARGB32_Premultiplied (4 channels) or Alpha8 (1 channel); other layouts are
    // converted to ARGB32_Premultiplied.
    ImageStretcher(const QImage& source, QSize size);

    // One piece of a piecewise-linear map from target to source along an axis: target
    // [dst0, dst1) shows source [src0, src1). src0 == src1 repeats the source's pixel at
    // src0 (clamped into the image), as the canvas outside a frame kept in shape does.
    struct Segment {
        double dst0;
        double dst1;
        double src0;
        double src1;
    };
    // The same stretch with each axis cut into segments that cover [0, size) of the target
    // in order; boundaries may fall inside a target pixel, which then mixes both sides.
    ImageStretcher(const QImage& source, QSize size, const std::vector<Segment>& columns,
                   const std::vector<Segment>& rows);

    bool isNull() const { return _source.isNull() || _size.isEmpty(); }
    int channels() const { return _channels; }
    // Writes row y of the stretched image: 4 x width bytes (premultiplied ARGB32 words) or
    // width alpha bytes. Rows are cheapest asked for in increasing order.
    void stretchRow(int y, uchar* out);
    // The whole stretched image, in the source's layout.
    QImage stretched();

private:
    struct Tap {
        int index;
        float weight;
    };
    struct AxisTaps {
        std::vector<int> first; // per output index: position in taps
        std::vector<int> count;
        std::vector<Tap> taps;
    };
    static AxisTaps axisTaps(int source, int target);
    static AxisTaps segmentTaps(int source, int target, const std::vector<Segment>& segments);
    void adoptSource(const QImage& source);
    const std::vector<float>& horizontalRow(int sourceRow);
    void dropFirstRow();

    QImage _source;
    QSize _size;
    int _channels = 4;
    AxisTaps _columns;
    AxisTaps _rows;
    // Horizontally stretched source rows [_cachedFirst, _cachedFirst + _cache.size()).
    std::deque<std::vector<float>> _cache;
    int _cachedFirst = 0;
    std::vector<std::vector<float>> _spare;
    std::vector<float> _accumulator;
};
