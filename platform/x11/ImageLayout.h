#pragma once

#include <cstdint>
#include <vector>

namespace qdx::x11 {

// How the pixels of an X image (ZPixmap) of one visual sit in memory, and their conversion to
// 0xffRRGGBB, the layout of QImage::Format_RGB32. Handles any TrueColor visual of 8, 16, 24 or
// 32 bits per pixel in either byte order.
class ImageLayout {
public:
    ImageLayout() = default;
    ImageLayout(int bitsPerPixel, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                bool mostSignificantByteFirst);

    int bitsPerPixel() const { return m_bitsPerPixel; }
    // False for layouts this class cannot read (no masks, an odd pixel size).
    bool supported() const { return m_supported; }
    // True when the pixels already are Format_RGB32's in this process (apart from the pad
    // byte), so that no conversion is needed.
    bool nativeRgb32() const { return m_native; }

    // Bytes of one row of `width` pixels with rows padded to `scanlinePadBits`.
    int rowBytes(int width, int scanlinePadBits) const;
    // Converts `count` pixels of one row into opaque 0xffRRGGBB pixels.
    void toRgb32Row(const uint8_t* in, uint32_t* out, int count) const;

private:
    uint32_t readPixel(const uint8_t* in) const;
    uint32_t rgb32Of(uint32_t pixel) const;

    struct Channel {
        uint32_t mask = 0;
        int shift = 0;
        int bits = 0;
    };
    int m_bitsPerPixel = 32;
    bool m_msbFirst = false;
    bool m_supported = false;
    bool m_native = false;
    Channel m_red, m_green, m_blue;
    // Every pixel value of an 8- or 16-bit layout, already converted.
    std::vector<uint32_t> m_table;
};

} // namespace qdx::x11
