#include "platform/vfw/YuvToRgb.h"

#include <immintrin.h>

#include <cstring>

namespace qdx::vfw {

namespace {

// BT.601 in the form the vector code computes it: luma and chroma are scaled by 64 and each
// coefficient is split into a whole part (shifts and adds) and a fraction in 15 bits (a rounding
// high multiply), so every intermediate value fits 16 bits.
struct Coefficients {
    int16_t yOffset; // 16 or 0
    int16_t yFrac;   // the fraction of the luma gain (1.164 or 1)
    int16_t rvFrac;  // red from V: 1 + fraction
    int16_t gu;      // green from U: fraction
    int16_t gv;      // green from V: fraction
    int16_t buFrac;  // blue from U: 2 + fraction (limited) or 1 + fraction (full)
    int16_t buWhole;
};

// The fractions of swscale's BT.601 coefficients (1.164, 1.596, 0.391, 0.813, 2.018 for limited
// range; 1, 1.402, 0.344, 0.714, 1.772 for full range) in 15 bits.
constexpr Coefficients kLimited{16, 5387, 19530, 12838, 26640, 564, 2};
constexpr Coefficients kFull{0, 0, 13173, 11277, 23401, 25297, 1};

int16_t mulhrs(int a, int b) {
    return int16_t((a * b + (1 << 14)) >> 15);
}

int16_t sat16(int v) {
    return int16_t(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

uint8_t toByte(int v) {
    v >>= 6; // truncated, as libswscale does
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One pixel, exactly as the vector code computes it (saturating 16-bit sums included).
void pixel(int yy, int uu, int vv, const Coefficients& c, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int y64 = (yy - c.yOffset) * 64;
    const int u64 = (uu - 128) * 64;
    const int v64 = (vv - 128) * 64;
    const int16_t luma = sat16(y64 + mulhrs(y64, c.yFrac));
    r = toByte(sat16(luma + sat16(v64 + mulhrs(v64, c.rvFrac))));
    g = toByte(sat16(sat16(luma - mulhrs(u64, c.gu)) - mulhrs(v64, c.gv)));
    b = toByte(sat16(luma + sat16(u64 * c.buWhole + mulhrs(u64, c.buFrac))));
}

void storePixel(uint8_t* out, RgbLayout layout, uint8_t r, uint8_t g, uint8_t b) {
    switch (layout) {
    case RgbLayout::Bgr24:
        out[0] = b;
        out[1] = g;
        out[2] = r;
        break;
    case RgbLayout::Rgb24:
        out[0] = r;
        out[1] = g;
        out[2] = b;
        break;
    case RgbLayout::Bgrx32:
        out[0] = b;
        out[1] = g;
        out[2] = r;
        out[3] = 255;
        break;
    }
}

void scalarRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int from, int width,
               uint8_t* out, RgbLayout layout, const Coefficients& c) {
    const int bytes = layout == RgbLayout::Bgrx32 ? 4 : 3;
    for (int x = from; x < width; ++x) {
        uint8_t r, g, b;
        pixel(y[x], u[x / 2], v[x / 2], c, r, g, b);
        storePixel(out + ptrdiff_t(x) * bytes, layout, r, g, b);
    }
}

// Sixteen 16-bit values scaled by 64 down to bytes, truncated as libswscale does; packus works
// within 128-bit lanes, the permute puts the results in order in the low half.
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i bytesOf(__m256i value) {
    const __m256i shifted = _mm256_srai_epi16(value, 6);
    const __m256i packed = _mm256_packus_epi16(shifted, shifted);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(packed, 0x08));
}

// Pixels from..width of a row, 16 at a time; returns where it stopped.
[[gnu::target("avx2")]] int vectorRow(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                      int from, int width, uint8_t* out, RgbLayout layout,
                                      const Coefficients& c) {
    const __m256i yOffset = _mm256_set1_epi16(c.yOffset);
    const __m256i yFrac = _mm256_set1_epi16(c.yFrac);
    const __m256i rvFrac = _mm256_set1_epi16(c.rvFrac);
    const __m256i gu = _mm256_set1_epi16(c.gu);
    const __m256i gv = _mm256_set1_epi16(c.gv);
    const __m256i buFrac = _mm256_set1_epi16(c.buFrac);
    const __m256i half = _mm256_set1_epi16(128);
    const __m128i opaque = _mm_set1_epi8(char(0xFF));
    // 4 BGRX pixels into 12 bytes of BGR or RGB.
    const __m128i toBgr = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i toRgb = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const int bytes = layout == RgbLayout::Bgrx32 ? 4 : 3;
    int x = from;
    for (; x + 16 <= width; x += 16) {
        const __m256i yy =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
        // Eight chroma samples, each standing for two pixels.
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
        const __m256i uu = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, u8));
        const __m256i vv = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v8, v8));
        const __m256i y64 = _mm256_slli_epi16(_mm256_sub_epi16(yy, yOffset), 6);
        const __m256i u64 = _mm256_slli_epi16(_mm256_sub_epi16(uu, half), 6);
        const __m256i v64 = _mm256_slli_epi16(_mm256_sub_epi16(vv, half), 6);
        const __m256i luma = _mm256_adds_epi16(y64, _mm256_mulhrs_epi16(y64, yFrac));
        const __m256i red =
            _mm256_adds_epi16(luma, _mm256_adds_epi16(v64, _mm256_mulhrs_epi16(v64, rvFrac)));
        const __m256i green = _mm256_subs_epi16(
            _mm256_subs_epi16(luma, _mm256_mulhrs_epi16(u64, gu)), _mm256_mulhrs_epi16(v64, gv));
        __m256i blueU = _mm256_adds_epi16(u64, _mm256_mulhrs_epi16(u64, buFrac));
        if (c.buWhole == 2)
            blueU = _mm256_adds_epi16(blueU, u64);
        const __m256i blue = _mm256_adds_epi16(luma, blueU);
        const __m128i b = bytesOf(blue);
        const __m128i g = bytesOf(green);
        const __m128i r = bytesOf(red);
        const __m128i bgLow = _mm_unpacklo_epi8(b, g);
        const __m128i bgHigh = _mm_unpackhi_epi8(b, g);
        const __m128i raLow = _mm_unpacklo_epi8(r, opaque);
        const __m128i raHigh = _mm_unpackhi_epi8(r, opaque);
        const __m128i quads[4] = {
            _mm_unpacklo_epi16(bgLow, raLow), _mm_unpackhi_epi16(bgLow, raLow),
            _mm_unpacklo_epi16(bgHigh, raHigh), _mm_unpackhi_epi16(bgHigh, raHigh)};
        uint8_t* o = out + ptrdiff_t(x) * bytes;
        if (layout == RgbLayout::Bgrx32) {
            for (int i = 0; i < 4; ++i)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * i), quads[i]);
        } else {
            // Each quad packed into 12 bytes, the four joined into three whole 16-byte stores.
            const __m128i order = layout == RgbLayout::Bgr24 ? toBgr : toRgb;
            const __m128i p0 = _mm_shuffle_epi8(quads[0], order);
            const __m128i p1 = _mm_shuffle_epi8(quads[1], order);
            const __m128i p2 = _mm_shuffle_epi8(quads[2], order);
            const __m128i p3 = _mm_shuffle_epi8(quads[3], order);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16),
                             _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32),
                             _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
        }
    }
    return x;
}

bool haveAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

} // namespace

void yuvToRgb(const YuvSource& in, uint8_t* first, ptrdiff_t stride, RgbLayout layout) {
    const Coefficients& c = in.fullRange ? kFull : kLimited;
    const bool vector = haveAvx2();
    for (int row = 0; row < in.height; ++row) {
        const int chromaRow = in.verticalHalf ? row / 2 : row;
        const uint8_t* y = in.y + ptrdiff_t(row) * in.yStride;
        const uint8_t* u = in.u + ptrdiff_t(chromaRow) * in.uStride;
        const uint8_t* v = in.v + ptrdiff_t(chromaRow) * in.vStride;
        uint8_t* out = first + ptrdiff_t(row) * stride;
        const int done = vector ? vectorRow(y, u, v, 0, in.width, out, layout, c) : 0;
        scalarRow(y, u, v, done, in.width, out, layout, c);
    }
}

} // namespace qdx::vfw
