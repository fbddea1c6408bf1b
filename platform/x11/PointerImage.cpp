#include "platform/x11/PointerImage.h"

#include <algorithm>

namespace qdx::x11 {

namespace {

// source + destination * (255 - alpha) / 255 with premultiplied source channels; the sum is
// capped so that a source channel above its alpha (not truly premultiplied) cannot overflow.
uint32_t blendChannel(uint32_t source, uint32_t destination, uint32_t alpha) {
    const uint32_t kept = (destination * (255u - alpha) + 127u) / 255u;
    return std::min<uint32_t>(source + kept, 255u);
}

} // namespace

void PointerImage::drawOnto(uint32_t* frame, int stride, int frameWidth, int frameHeight, int x,
                            int y) const {
    if (empty() || pixels.size() < std::size_t(width) * std::size_t(height))
        return;
    const int left = x - xhot;
    const int top = y - yhot;
    const int firstColumn = std::max(0, -left);
    const int lastColumn = std::min(width, frameWidth - left); // exclusive
    const int firstRow = std::max(0, -top);
    const int lastRow = std::min(height, frameHeight - top);
    for (int row = firstRow; row < lastRow; ++row) {
        const uint32_t* in = pixels.data() + std::size_t(row) * width;
        uint32_t* out = frame + std::ptrdiff_t(top + row) * stride + left;
        for (int column = firstColumn; column < lastColumn; ++column) {
            const uint32_t p = in[column];
            const uint32_t alpha = p >> 24;
            if (alpha == 0)
                continue;
            if (alpha == 255) {
                out[column] = p;
                continue;
            }
            const uint32_t d = out[column];
            out[column] = 0xFF000000u |
                          blendChannel((p >> 16) & 0xFF, (d >> 16) & 0xFF, alpha) << 16 |
                          blendChannel((p >> 8) & 0xFF, (d >> 8) & 0xFF, alpha) << 8 |
                          blendChannel(p & 0xFF, d & 0xFF, alpha);
        }
    }
}

} // namespace qdx::x11
