#include "compositing/ImageStretcher.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

ImageStretcher::ImageStretcher(const QImage& source, QSize size) : _size(size)
{
    if (source.isNull() || size.isEmpty())
        return;
    adoptSource(source);
    _columns = axisTaps(_source.width(), size.width());
    _rows = axisTaps(_source.height(), size.height());
}

ImageStretcher::ImageStretcher(const QImage& source, QSize size,
                               const std::vector<Segment>& columns,
                               const std::vector<Segment>& rows)
    : _size(size)
{
    if (source.isNull() || size.isEmpty())
        return;
    adoptSource(source);
    _columns = segmentTaps(_source.width(), size.width(), columns);
    _rows = segmentTaps(_source.height(), size.height(), rows);
}

void ImageStretcher::adoptSource(const QImage& source)
{
    if (source.format() == QImage::Format_Alpha8) {
        _source = source;
        _channels = 1;
    } else {
        _source = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        _channels = 4;
    }
}

ImageStretcher::AxisTaps ImageStretcher::segmentTaps(int source, int target,
                                                     const std::vector<Segment>& segments)
{
    AxisTaps axis;
    axis.first.resize(target);
    axis.count.resize(target);
    auto clampIndex = [source](double v) { return std::clamp(int(std::floor(v)), 0, source - 1); };
    for (int i = 0; i < target; ++i) {
        axis.first[i] = int(axis.taps.size());
        double covered = 0;
        for (const Segment& s : segments) {
            const double lo = std::max(double(i), s.dst0);
            const double hi = std::min(i + 1.0, s.dst1);
            if (hi <= lo)
                continue;
            const double share = hi - lo;
            covered += share;
            if (s.src1 <= s.src0 || s.dst1 <= s.dst0) {
                axis.taps.push_back(
                    {clampIndex(s.src0 - (s.src0 >= source ? 1 : 0)), float(share)});
                continue;
            }
            const double scale = (s.src1 - s.src0) / (s.dst1 - s.dst0);
            // The segment's own source pixels: sampling never reaches into its neighbours.
            const int firstPixel = clampIndex(s.src0);
            const int lastPixel = std::max(firstPixel, clampIndex(std::ceil(s.src1) - 1));
            auto toSource = [&](double d) { return s.src0 + (d - s.dst0) * scale; };
            if (scale <= 1.0) {
                const double at = std::clamp(toSource((lo + hi) / 2) - 0.5, double(firstPixel),
                                             double(lastPixel));
                const int below = int(std::floor(at));
                const float f = float(at - below);
                axis.taps.push_back({below, float(share) * (1.0f - f)});
                if (f > 0)
                    axis.taps.push_back({below + 1, float(share) * f});
            } else {
                const double a = std::max(toSource(lo), double(firstPixel));
                const double b = std::min(toSource(hi), lastPixel + 1.0);
                const double span = b - a;
                for (int j = int(std::floor(a)); j <= lastPixel && j < b; ++j) {
                    const double overlap = std::min(b, j + 1.0) - std::max(a, double(j));
                    if (overlap > 0 && span > 0)
                        axis.taps.push_back({j, float(share * overlap / span)});
                }
            }
        }
        // A pixel the segments leave (partly) uncovered takes the rest from the nearest edge.
        if (covered < 1.0 - 1e-9 || int(axis.taps.size()) == axis.first[i]) {
            const int edge = segments.empty() || i < segments.front().dst0 ? 0 : source - 1;
            axis.taps.push_back({edge, float(1.0 - covered)});
        }
        axis.count[i] = int(axis.taps.size()) - axis.first[i];
    }
    return axis;
}

ImageStretcher::AxisTaps ImageStretcher::axisTaps(int source, int target)
{
    AxisTaps axis;
    axis.first.resize(target);
    axis.count.resize(target);
    const double scale = double(source) / double(target);
    for (int i = 0; i < target; ++i) {
        axis.first[i] = int(axis.taps.size());
        if (target >= source) {
            // Pixel centres line up; the outermost half pixels repeat the edge.
            const double at = (i + 0.5) * scale - 0.5;
            if (at <= 0) {
                axis.taps.push_back({0, 1.0f});
            } else if (at >= source - 1) {
                axis.taps.push_back({source - 1, 1.0f});
            } else {
                const int below = int(std::floor(at));
                const float f = float(at - below);
                axis.taps.push_back({below, 1.0f - f});
                if (f > 0)
                    axis.taps.push_back({below + 1, f});
            }
        } else {
            const double lo = i * scale;
            const double hi = std::min((i + 1) * scale, double(source));
            for (int j = int(std::floor(lo)); j < source && j < hi; ++j) {
                const double overlap = std::min(hi, j + 1.0) - std::max(lo, double(j));
                if (overlap > 0)
                    axis.taps.push_back({j, float(overlap / scale)});
            }
        }
        axis.count[i] = int(axis.taps.size()) - axis.first[i];
    }
    return axis;
}

void ImageStretcher::dropFirstRow()
{
    // Kept for the next row to be built: same size, no allocation.
    _spare.push_back(std::move(_cache.front()));
    _cache.pop_front();
    ++_cachedFirst;
}

const std::vector<float>& ImageStretcher::horizontalRow(int sourceRow)
{
    const int c = _channels;
    const int width = _size.width();
    auto build = [&](std::vector<float>& row) {
        row.resize(size_t(width) * c); // every sample is written below
        const uchar* in = _source.constScanLine(sourceRow);
        for (int x = 0; x < width; ++x) {
            float* out = row.data() + size_t(x) * c;
            const Tap* tap = _columns.taps.data() + _columns.first[x];
            const int count = _columns.count[x];
#if defined(__SSE2__)
            if (c == 4) {
                const __m128i zero = _mm_setzero_si128();
                __m128 sum = _mm_setzero_ps();
                for (int t = 0; t < count; ++t, ++tap) {
                    int bytes;
                    std::memcpy(&bytes, in + size_t(tap->index) * 4, 4);
                    const __m128i px =
                        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
                    sum =
                        _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(tap->weight), _mm_cvtepi32_ps(px)));
                }
                _mm_storeu_ps(out, sum);
                continue;
            }
#endif
            float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (int t = 0; t < count; ++t, ++tap) {
                const uchar* px = in + size_t(tap->index) * c;
                for (int k = 0; k < c; ++k)
                    sum[k] = sum[k] + tap->weight * float(px[k]);
            }
            std::copy(sum, sum + c, out);
        }
    };
    if (_cache.empty() || sourceRow < _cachedFirst ||
        sourceRow > _cachedFirst + int(_cache.size())) {
        while (!_cache.empty())
            dropFirstRow();
        _cachedFirst = sourceRow;
    }
    if (sourceRow == _cachedFirst + int(_cache.size())) {
        if (_spare.empty()) {
            _cache.emplace_back();
        } else {
            _cache.push_back(std::move(_spare.back()));
            _spare.pop_back();
        }
        build(_cache.back());
    }
    return _cache[size_t(sourceRow - _cachedFirst)];
}

namespace {

// The weights of each axis add up to one, so a colour sample never ends above the alpha
// it was premultiplied with; values just above 255 from the weights' own rounding are
// held at 255. Vector and scalar loops do the same single-precision steps in the same
// order, so every sample comes out the same whichever loop made it.
inline uchar toByte(float v)
{
    return uchar(std::min(255.0f, v + 0.5f));
}

// out = round(w0 x r0 [+ w1 x r1]), with r1 absent when count is 1.
void blendRows(const float* r0, float w0, const float* r1, float w1, int count, size_t n,
               uchar* out)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 a = _mm_set1_ps(w0);
    const __m128 b = _mm_set1_ps(w1);
    for (; i + 16 <= n; i += 16) {
        __m128i q[4];
        for (int k = 0; k < 4; ++k) {
            __m128 v = _mm_add_ps(_mm_setzero_ps(), _mm_mul_ps(a, _mm_loadu_ps(r0 + i + 4 * k)));
            if (count == 2)
                v = _mm_add_ps(v, _mm_mul_ps(b, _mm_loadu_ps(r1 + i + 4 * k)));
            q[k] = _mm_cvttps_epi32(_mm_add_ps(v, half));
        }
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < n; ++i) {
        float v = 0.0f + w0 * r0[i];
        if (count == 2)
            v = v + w1 * r1[i];
        out[i] = toByte(v);
    }
}

void accumulate(float* acc, const float* row, float w, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 wv = _mm_set1_ps(w);
    for (; i + 4 <= n; i += 4)
        _mm_storeu_ps(acc + i,
                      _mm_add_ps(_mm_loadu_ps(acc + i), _mm_mul_ps(wv, _mm_loadu_ps(row + i))));
#endif
    for (; i < n; ++i)
        acc[i] = acc[i] + w * row[i];
}

} // namespace

void ImageStretcher::stretchRow(int y, uchar* out)
{
    if (isNull() || y < 0 || y >= _size.height())
        return;
    const int first = _rows.first[y];
    const int count = _rows.count[y];
    // Rows above this output row's first tap are never needed again by later rows.
    const int lowest = _rows.taps[first].index;
    while (!_cache.empty() && _cachedFirst < lowest)
        dropFirstRow();
    const size_t n = size_t(_size.width()) * _channels;
    // Two rows next to each other share the cache; two apart (a repeat starting over, a
    // pixel across a segment boundary) go through the accumulator, which holds one at a time.
    if (count == 1 || (count == 2 && _rows.taps[first + 1].index == _rows.taps[first].index + 1)) {
        const Tap& a = _rows.taps[first];
        const float* r0 = horizontalRow(a.index).data();
        if (count == 1) {
            blendRows(r0, a.weight, nullptr, 0.0f, 1, n, out);
            return;
        }
        const Tap& b = _rows.taps[first + 1];
        const float* r1 = horizontalRow(b.index).data();
        blendRows(r0, a.weight, r1, b.weight, 2, n, out);
        return;
    }
    // A strong reduction: add the rows up one at a time and let each go at once (only the
    // last may be shared with the next output row), so memory stays at a few rows however
    // many rows fall into one.
    _accumulator.assign(n, 0.0f);
    for (int t = 0; t < count; ++t) {
        const Tap& tap = _rows.taps[first + t];
        accumulate(_accumulator.data(), horizontalRow(tap.index).data(), tap.weight, n);
        if (t + 1 < count) {
            while (!_cache.empty() && _cachedFirst <= tap.index)
                dropFirstRow();
        }
    }
    size_t i = 0;
#if defined(__SSE2__)
    const __m128 half = _mm_set1_ps(0.5f);
    for (; i + 16 <= n; i += 16) {
        __m128i q[4];
        for (int k = 0; k < 4; ++k)
            q[k] =
                _mm_cvttps_epi32(_mm_add_ps(_mm_loadu_ps(_accumulator.data() + i + 4 * k), half));
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < n; ++i)
        out[i] = toByte(_accumulator[i]);
}

QImage ImageStretcher::stretched()
{
    if (isNull())
        return {};
    QImage out(_size, _channels == 1 ? QImage::Format_Alpha8 : QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return {};
    for (int y = 0; y < _size.height(); ++y)
        stretchRow(y, out.scanLine(y));
    return out;
}
