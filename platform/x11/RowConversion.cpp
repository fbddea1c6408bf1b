#include "platform/x11/RowConversion.h"

#include <QtGlobal>

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QDX_X86_ROWS 1
#endif

namespace qdx::x11 {

namespace {

void bgr24Portable(const uint32_t* in, uint8_t* out, int count) {
    int x = 0;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // Four pixels (16 bytes in) make three words (12 bytes out): B G R of each pixel, in order.
    for (; x + 4 <= count; x += 4, in += 4, out += 12) {
        const uint32_t a = in[0], b = in[1], c = in[2], d = in[3];
        const uint32_t words[3] = {(a & 0xFFFFFFu) | (b << 24), ((b >> 8) & 0xFFFFu) | (c << 16),
                                   ((c >> 16) & 0xFFu) | (d << 8)};
        std::memcpy(out, words, sizeof words);
    }
#endif
    for (; x < count; ++x, ++in, out += 3) {
        const uint32_t p = *in;
        out[0] = uint8_t(p);
        out[1] = uint8_t(p >> 8);
        out[2] = uint8_t(p >> 16);
    }
}

#ifdef QDX_X86_ROWS
// Sixteen pixels (64 bytes in) make three full 16-byte stores: each group of four pixels loses its
// pad bytes through one byte shuffle, and the four 12-byte pieces are shifted together.
__attribute__((target("ssse3"))) void bgr24Ssse3(const uint32_t* in, uint8_t* out, int count) {
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 16 <= count; x += 16, in += 16, out += 48) {
        const __m128i a =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), drop);
        const __m128i b =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4)), drop);
        const __m128i c =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8)), drop);
        const __m128i d =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), drop);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                         _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    bgr24Portable(in, out, count - x);
}

using RowFunction = void (*)(const uint32_t*, uint8_t*, int);
RowFunction chooseBgr24() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? bgr24Ssse3 : bgr24Portable;
}
#endif

} // namespace

void rgb32ToBgr24Row(const uint32_t* in, uint8_t* out, int count) {
#ifdef QDX_X86_ROWS
    static const RowFunction convert = chooseBgr24();
    convert(in, out, count);
#else
    bgr24Portable(in, out, count);
#endif
}

void rgb32ToOpaqueRow(const uint32_t* in, uint32_t* out, int count) {
    int x = 0;
#ifdef __SSE2__
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    for (; x + 8 <= count; x += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(a, opaque));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4), _mm_or_si128(b, opaque));
    }
#endif
    for (; x < count; ++x)
        out[x] = in[x] | 0xFF000000u;
}

} // namespace qdx::x11
