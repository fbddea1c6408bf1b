#include "platform/codec/YuvToRgb.h"

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

// The byte indices (into the b/g words packed with the r/opaque words, see vectorRows512) of
// 32 pixels of one layout: two 64-byte tables, the second one used in full for 32-bit rows and
// for its first 32 bytes for 24-bit ones.
struct PackTables {
    alignas(64) uint8_t first[64];
    alignas(64) uint8_t second[64];
};

constexpr PackTables packTables(RgbLayout layout) {
    PackTables t{};
    const int bytes = layout == RgbLayout::Bgrx32 ? 4 : 3;
    for (int k = 0; k < 32 * bytes; ++k) {
        const int x = k / bytes;
        int channel = k % bytes; // 0 blue, 1 green, 2 red, 3 opaque
        if (layout == RgbLayout::Rgb24 && channel != 1)
            channel = 2 - channel;
        const int lane = x / 8;
        const int i = x % 8;
        // packus puts, in each 128-bit lane, 8 bytes of its first operand then 8 of its second.
        const int index = (channel >= 2 ? 64 : 0) + lane * 16 + (channel % 2) * 8 + i;
        (k < 64 ? t.first[k] : t.second[k - 64]) = uint8_t(index);
    }
    return t;
}

constexpr PackTables kPackBgr24 = packTables(RgbLayout::Bgr24);
constexpr PackTables kPackRgb24 = packTables(RgbLayout::Rgb24);
constexpr PackTables kPackBgrx32 = packTables(RgbLayout::Bgrx32);

// 32 pixels of one row with their chroma terms.
[[gnu::target("avx2,avx512f,avx512bw,avx512vbmi"), gnu::always_inline]] inline void
rgbRow32(const uint8_t* y, uint8_t* out, __m512i red, __m512i green, __m512i blue, __m512i yOffset,
         __m512i yFrac, __m512i first, __m512i second, int bytes) {
    const __m512i opaque = _mm512_set1_epi16(255);
    const __m512i yy =
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)));
    const __m512i y64 = _mm512_slli_epi16(_mm512_sub_epi16(yy, yOffset), 6);
    const __m512i luma = _mm512_adds_epi16(y64, _mm512_mulhrs_epi16(y64, yFrac));
    const __m512i r = _mm512_srai_epi16(_mm512_adds_epi16(luma, red), 6);
    const __m512i g = _mm512_srai_epi16(_mm512_subs_epi16(luma, green), 6);
    const __m512i b = _mm512_srai_epi16(_mm512_adds_epi16(luma, blue), 6);
    const __m512i bg = _mm512_packus_epi16(b, g);
    const __m512i ra = _mm512_packus_epi16(r, opaque);
    _mm512_storeu_si512(out, _mm512_permutex2var_epi8(bg, first, ra));
    const __m512i rest = _mm512_permutex2var_epi8(bg, second, ra);
    if (bytes == 4)
        _mm512_storeu_si512(out + 64, rest);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm512_castsi512_si256(rest));
}

// Pixels from..width of one row, or of two rows sharing their chroma row (`y1`, `out1` not
// null), 32 pixels a step: the chroma terms are worked out once for the 16 chroma samples, each
// then standing for two pixels of each row. The same arithmetic as vectorRow, with green's two
// chroma terms summed first (no sum of them or with luma can saturate for 8-bit samples, so the
// result is the same). Returns where it stopped.
[[gnu::target("avx2,avx512f,avx512bw,avx512vbmi")]] int
vectorRows512(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, int width,
              uint8_t* out0, uint8_t* out1, RgbLayout layout, const Coefficients& c) {
    const __m256i half = _mm256_set1_epi16(128);
    const __m256i rvFrac = _mm256_set1_epi16(c.rvFrac);
    const __m256i gu = _mm256_set1_epi16(c.gu);
    const __m256i gv = _mm256_set1_epi16(c.gv);
    const __m256i buFrac = _mm256_set1_epi16(c.buFrac);
    const __m512i yOffset = _mm512_set1_epi16(c.yOffset);
    const __m512i yFrac = _mm512_set1_epi16(c.yFrac);
    const __m512i pairs = _mm512_set_epi16(15, 15, 14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8,
                                           8, 7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
    const PackTables& tables = layout == RgbLayout::Bgr24   ? kPackBgr24
                               : layout == RgbLayout::Rgb24 ? kPackRgb24
                                                            : kPackBgrx32;
    const __m512i first = _mm512_load_si512(tables.first);
    const __m512i second = _mm512_load_si512(tables.second);
    const int bytes = layout == RgbLayout::Bgrx32 ? 4 : 3;

    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i uu =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2)));
        const __m256i vv =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2)));
        const __m256i u64 = _mm256_slli_epi16(_mm256_sub_epi16(uu, half), 6);
        const __m256i v64 = _mm256_slli_epi16(_mm256_sub_epi16(vv, half), 6);
        const __m256i redV = _mm256_adds_epi16(v64, _mm256_mulhrs_epi16(v64, rvFrac));
        const __m256i greenUV =
            _mm256_adds_epi16(_mm256_mulhrs_epi16(u64, gu), _mm256_mulhrs_epi16(v64, gv));
        __m256i blueU = _mm256_adds_epi16(u64, _mm256_mulhrs_epi16(u64, buFrac));
        if (c.buWhole == 2)
            blueU = _mm256_adds_epi16(blueU, u64);
        const __m512i red = _mm512_permutexvar_epi16(pairs, _mm512_castsi256_si512(redV));
        const __m512i green = _mm512_permutexvar_epi16(pairs, _mm512_castsi256_si512(greenUV));
        const __m512i blue = _mm512_permutexvar_epi16(pairs, _mm512_castsi256_si512(blueU));
        rgbRow32(y0 + x, out0 + ptrdiff_t(x) * bytes, red, green, blue, yOffset, yFrac, first,
                 second, bytes);
        if (y1)
            rgbRow32(y1 + x, out1 + ptrdiff_t(x) * bytes, red, green, blue, yOffset, yFrac, first,
                     second, bytes);
    }
    return x;
}

bool haveAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

bool haveAvx512() {
    static const bool avx512 =
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    return avx512;
}

} // namespace

bool yuvToRgbAvailable(YuvToRgbPath path) {
    switch (path) {
    case YuvToRgbPath::Scalar:
        return true;
    case YuvToRgbPath::Avx2:
        return haveAvx2();
    case YuvToRgbPath::Avx512:
        return haveAvx512();
    }
    return false;
}

void yuvToRgb(const YuvSource& in, uint8_t* first, ptrdiff_t stride, RgbLayout layout) {
    const YuvToRgbPath path = haveAvx512() ? YuvToRgbPath::Avx512
                              : haveAvx2() ? YuvToRgbPath::Avx2
                                           : YuvToRgbPath::Scalar;
    yuvToRgb(in, first, stride, layout, path);
}

void yuvToRgb(const YuvSource& in, uint8_t* first, ptrdiff_t stride, RgbLayout layout,
              YuvToRgbPath path) {
    const Coefficients& c = in.fullRange ? kFull : kLimited;
    // The AVX-512 loop takes two rows a step where they share a chroma row.
    const int step = path == YuvToRgbPath::Avx512 && in.verticalHalf ? 2 : 1;
    for (int row = 0; row < in.height; row += step) {
        const int chromaRow = in.verticalHalf ? row / 2 : row;
        const uint8_t* y = in.y + ptrdiff_t(row) * in.yStride;
        const uint8_t* u = in.u + ptrdiff_t(chromaRow) * in.uStride;
        const uint8_t* v = in.v + ptrdiff_t(chromaRow) * in.vStride;
        uint8_t* out = first + ptrdiff_t(row) * stride;
        const bool pair = step == 2 && row + 1 < in.height;
        const uint8_t* y1 = pair ? y + in.yStride : nullptr;
        uint8_t* out1 = pair ? out + stride : nullptr;
        int done = 0;
        if (path == YuvToRgbPath::Avx512)
            done = vectorRows512(y, y1, u, v, in.width, out, out1, layout, c);
        else if (path == YuvToRgbPath::Avx2)
            done = vectorRow(y, u, v, 0, in.width, out, layout, c);
        scalarRow(y, u, v, done, in.width, out, layout, c);
        if (pair)
            scalarRow(y1, u, v, done, in.width, out1, layout, c);
    }
}

} // namespace qdx::vfw
