#include "platform/x11/ImageLayout.h"

#include <QtGlobal>

#include <bit>

namespace qdx::x11 {

namespace {

// A channel value of `bits` bits widened to 8 bits by repeating its bits, so that the largest
// value becomes 255 and 5-6-5 pixels survive a round trip through 8 bits unchanged.
uint32_t widen(uint32_t value, int bits) {
    if (bits <= 0)
        return 0;
    if (bits >= 8)
        return (value >> (bits - 8)) & 0xFFu;
    uint32_t result = 0;
    for (int position = 8 - bits; position > -bits; position -= bits)
        result |= position >= 0 ? value << position : value >> -position;
    return result & 0xFFu;
}

} // namespace

ImageLayout::ImageLayout(int bitsPerPixel, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                         bool mostSignificantByteFirst)
    : m_bitsPerPixel(bitsPerPixel), m_msbFirst(mostSignificantByteFirst) {
    const auto channelOf = [](uint32_t mask) {
        Channel c;
        c.mask = mask;
        c.shift = mask ? std::countr_zero(mask) : 0;
        c.bits = std::popcount(mask);
        return c;
    };
    m_red = channelOf(redMask);
    m_green = channelOf(greenMask);
    m_blue = channelOf(blueMask);
    const bool knownSize =
        bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32;
    const uint64_t limit = bitsPerPixel >= 32 ? 0x100000000ull : (1ull << bitsPerPixel);
    m_supported = knownSize && redMask && greenMask && blueMask && redMask < limit &&
                  greenMask < limit && blueMask < limit;
    m_native = m_supported && bitsPerPixel == 32 && redMask == 0xFF0000u && greenMask == 0xFF00u &&
               blueMask == 0xFFu && mostSignificantByteFirst == (Q_BYTE_ORDER == Q_BIG_ENDIAN);
    if (m_supported && bitsPerPixel <= 16) {
        m_table.resize(std::size_t(1) << bitsPerPixel);
        for (uint32_t p = 0; p < m_table.size(); ++p)
            m_table[p] = rgb32Of(p);
    }
}

int ImageLayout::rowBytes(int width, int scanlinePadBits) const {
    const int pad = scanlinePadBits > 0 ? scanlinePadBits : 8;
    const int64_t bits = int64_t(width) * m_bitsPerPixel;
    return int((bits + pad - 1) / pad * pad / 8);
}

uint32_t ImageLayout::rgb32Of(uint32_t pixel) const {
    const auto value = [pixel](const Channel& c) {
        return widen((pixel & c.mask) >> c.shift, c.bits);
    };
    return 0xFF000000u | (value(m_red) << 16) | (value(m_green) << 8) | value(m_blue);
}

uint32_t ImageLayout::readPixel(const uint8_t* in) const {
    const int bytes = m_bitsPerPixel / 8;
    uint32_t pixel = 0;
    if (m_msbFirst) {
        for (int i = 0; i < bytes; ++i)
            pixel = (pixel << 8) | in[i];
    } else {
        for (int i = bytes - 1; i >= 0; --i)
            pixel = (pixel << 8) | in[i];
    }
    return pixel;
}

void ImageLayout::toRgb32Row(const uint8_t* in, uint32_t* out, int count) const {
    if (!m_supported)
        return;
    const int bytes = m_bitsPerPixel / 8;
    if (!m_table.empty()) {
        for (int x = 0; x < count; ++x, in += bytes)
            out[x] = m_table[readPixel(in)];
        return;
    }
    for (int x = 0; x < count; ++x, in += bytes)
        out[x] = rgb32Of(readPixel(in));
}

} // namespace qdx::x11
