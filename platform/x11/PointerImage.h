#pragma once

#include <cstdint>
#include <vector>

namespace qdx::x11 {

// The picture of the mouse pointer as the X server shows it: premultiplied ARGB pixels at their
// real size, and the hot spot, the pixel that lies at the pointer position.
struct PointerImage {
    int width = 0;
    int height = 0;
    int xhot = 0;
    int yhot = 0;
    uint32_t serial = 0; // the server's number of this cursor image
    std::vector<uint32_t> pixels;

    bool empty() const { return width <= 0 || height <= 0 || pixels.empty(); }

    // Blends the pointer onto a frame of 0x??RRGGBB pixels (`stride` pixels from one row to the
    // next) with its hot spot at (x, y) in frame coordinates; parts outside the frame are cut
    // off. The frame's pad bytes are left as they are where the pointer is transparent and set
    // to 0xff where it draws.
    void drawOnto(uint32_t* frame, int stride, int frameWidth, int frameHeight, int x, int y) const;
};

} // namespace qdx::x11
