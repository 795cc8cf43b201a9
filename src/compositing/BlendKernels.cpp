#include "compositing/BlendKernels.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace BlendKernels {

namespace {

// round(v x a / 255) in each of the four 8-bit lanes of p, exactly.
uint32_t byteMul(uint32_t p, uint32_t a)
{
    uint32_t rb = (p & 0x00ff00ffu) * a + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00ff00ffu)) >> 8) & 0x00ff00ffu;
    uint32_t ag = ((p >> 8) & 0x00ff00ffu) * a + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00ff00ffu)) & 0xff00ff00u;
    return ag | rb;
}

// Lane-wise sum, each lane held at 255: interpolated premultiplied pixels may carry a
// colour one above their alpha.
uint32_t addSaturated(uint32_t a, uint32_t b)
{
    uint32_t rb = (a & 0x00ff00ffu) + (b & 0x00ff00ffu);
    uint32_t ag = ((a >> 8) & 0x00ff00ffu) + ((b >> 8) & 0x00ff00ffu);
    rb |= 0x01000100u - ((rb >> 8) & 0x00010001u);
    ag |= 0x01000100u - ((ag >> 8) & 0x00010001u);
    return (rb & 0x00ff00ffu) | ((ag & 0x00ff00ffu) << 8);
}

// Scalar forms of the three blends; the SSE2 forms below give the same values.
uint32_t overlayPixel(uint32_t d, uint32_t o, bool destinationOut)
{
    const uint32_t a = o >> 24;
    if (destinationOut)
        return byteMul(d, 255 - a);
    return addSaturated(o, byteMul(d, 255 - a));
}

uint32_t colorBehindPixel(uint32_t d, uint32_t color)
{
    return addSaturated(d, byteMul(color, 255 - (d >> 24)));
}

#if defined(__SSE2__)
// round(v x a / 255) for eight 16-bit lanes.
__m128i mulRound(__m128i v, __m128i a)
{
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(v, a), _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// Four pixels each times their own factor (0..255 in the low byte of each 32-bit lane).
__m128i mulPixels(__m128i px, __m128i factor)
{
    const __m128i zero = _mm_setzero_si128();
    factor = _mm_or_si128(factor, _mm_slli_epi32(factor, 16));
    const __m128i lo = mulRound(_mm_unpacklo_epi8(px, zero), _mm_unpacklo_epi32(factor, factor));
    const __m128i hi = mulRound(_mm_unpackhi_epi8(px, zero), _mm_unpackhi_epi32(factor, factor));
    return _mm_packus_epi16(lo, hi);
}

__m128i inverseAlpha(__m128i px)
{
    return _mm_sub_epi32(_mm_set1_epi32(255), _mm_srli_epi32(px, 24));
}
#endif

} // namespace

void overlayRow(uint32_t* out, const uint32_t* o, int w, bool destinationOut)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 4 <= w; x += 4) {
        // Skipped groups are those the formulas would leave as they are (factor 255, sum
        // with zero) or replace outright (factor 0).
        const __m128i ov = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o + x));
        const __m128i alpha = _mm_srli_epi32(ov, 24);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(destinationOut ? alpha : ov, zero)) == 0xffff)
            continue;
        if (!destinationOut &&
            _mm_movemask_epi8(_mm_cmpeq_epi32(alpha, _mm_set1_epi32(255))) == 0xffff) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), ov);
            continue;
        }
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + x));
        d = mulPixels(d, inverseAlpha(ov));
        if (!destinationOut)
            d = _mm_adds_epu8(d, ov);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), d);
    }
#endif
    for (; x < w; ++x)
        out[x] = overlayPixel(out[x], o[x], destinationOut);
}

void cutRow(uint32_t* out, const uchar* m, int w)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 4 <= w; x += 4) {
        uint32_t four;
        std::memcpy(&four, m + x, 4);
        if (four == 0)
            continue;
        if (four == 0xffffffffu) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), zero);
            continue;
        }
        const __m128i bytes = _mm_cvtsi32_si128(int(four));
        const __m128i alpha = _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero);
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         mulPixels(d, _mm_sub_epi32(_mm_set1_epi32(255), alpha)));
    }
#endif
    for (; x < w; ++x)
        out[x] = byteMul(out[x], 255u - m[x]);
}

void colorBehindRow(uint32_t* out, uint32_t color, int w)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i c = _mm_set1_epi32(int(color));
    for (; x + 4 <= w; x += 4) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + x));
        const __m128i inverse = inverseAlpha(d);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(inverse, _mm_setzero_si128())) == 0xffff)
            continue; // opaque already
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_adds_epu8(d, mulPixels(c, inverse)));
    }
#endif
    for (; x < w; ++x)
        out[x] = colorBehindPixel(out[x], color);
}

void copyPhotoRow(uint32_t* out, const uint32_t* in, int n, uint32_t opaque)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(int(opaque));
    for (; x + 4 <= n; x += 4)
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + x),
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x)), alpha));
#endif
    for (; x < n; ++x)
        out[x] = in[x] | opaque;
}
} // namespace BlendKernels
