#include "platform/x11/RowConversion.h"

#include <QtGlobal>

#include <cstring>

namespace qdx::x11 {

void rgb32ToBgr24Row(const uint32_t* in, uint8_t* out, int count) {
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

void rgb32ToOpaqueRow(const uint32_t* in, uint32_t* out, int count) {
    for (int x = 0; x < count; ++x)
        out[x] = in[x] | 0xFF000000u;
}

} // namespace qdx::x11
