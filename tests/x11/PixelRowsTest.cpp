#include "platform/x11/ImageLayout.h"
#include "platform/x11/PointerImage.h"
#include "platform/x11/RowConversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace qdx::x11;

namespace {

TEST(ImageLayout, SixteenBitPixelsWidenToFullRangeAndSurviveTheRoundTrip) {
    const ImageLayout layout(16, 0xF800, 0x07E0, 0x001F, false);
    ASSERT_TRUE(layout.supported());
    EXPECT_FALSE(layout.nativeRgb32());
    // white, pure red, the middle grey of 5-6-5, black; little-endian bytes
    const uint16_t pixels[] = {0xFFFF, 0xF800, uint16_t((16 << 11) | (32 << 5) | 16), 0};
    uint32_t out[4];
    layout.toRgb32Row(reinterpret_cast<const uint8_t*>(pixels), out, 4);
    EXPECT_EQ(out[0], 0xFFFFFFFFu);
    EXPECT_EQ(out[1], 0xFFFF0000u);
    EXPECT_EQ(out[2], 0xFF848284u); // (132, 130, 132)
    EXPECT_EQ(out[3], 0xFF000000u);
    // Every 5-6-5 value comes back unchanged after widening and cutting back to 5-6-5.
    for (uint32_t p = 0; p < 0x10000; p += 7) {
        const uint16_t pixel = uint16_t(p);
        uint32_t rgb;
        layout.toRgb32Row(reinterpret_cast<const uint8_t*>(&pixel), &rgb, 1);
        const uint32_t back = ((rgb >> 8) & 0xF800) | ((rgb >> 5) & 0x07E0) | ((rgb >> 3) & 0x1F);
        ASSERT_EQ(back, p) << p;
    }
}

TEST(ImageLayout, ReadsEitherByteOrderAndOtherChannelOrders) {
    const ImageLayout native(32, 0xFF0000, 0xFF00, 0xFF, false);
    EXPECT_TRUE(native.nativeRgb32());
    // Most significant byte first: the bytes 00 11 22 33 hold the pixel 0x00112233.
    const ImageLayout bigEndian(32, 0xFF0000, 0xFF00, 0xFF, true);
    EXPECT_FALSE(bigEndian.nativeRgb32());
    const uint8_t bytes[] = {0x00, 0x11, 0x22, 0x33};
    uint32_t out = 0;
    bigEndian.toRgb32Row(bytes, &out, 1);
    EXPECT_EQ(out, 0xFF112233u);
    // Blue in the high bits, 24 bits per pixel, packed.
    const ImageLayout bgr(24, 0xFF, 0xFF00, 0xFF0000, false);
    const uint8_t packed[] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    uint32_t two[2];
    bgr.toRgb32Row(packed, two, 2);
    EXPECT_EQ(two[0], 0xFF102030u);
    EXPECT_EQ(two[1], 0xFF405060u);
    // Layouts that cannot be read are said to be so, and convert nothing.
    EXPECT_FALSE(ImageLayout(12, 0xF00, 0xF0, 0xF, false).supported());
    EXPECT_FALSE(ImageLayout(16, 0, 0x07E0, 0x1F, false).supported());
    EXPECT_FALSE(ImageLayout(16, 0xF8000, 0x07E0, 0x1F, false).supported());
}

TEST(ImageLayout, RowBytesFollowTheScanlinePadding) {
    EXPECT_EQ(ImageLayout(16, 0xF800, 0x07E0, 0x1F, false).rowBytes(3, 32), 8);
    EXPECT_EQ(ImageLayout(24, 0xFF0000, 0xFF00, 0xFF, false).rowBytes(3, 32), 12);
    EXPECT_EQ(ImageLayout(24, 0xFF0000, 0xFF00, 0xFF, false).rowBytes(5, 32), 16);
    EXPECT_EQ(ImageLayout(32, 0xFF0000, 0xFF00, 0xFF, false).rowBytes(7, 32), 28);
}

TEST(RowConversion, RowsKeepEveryChannelInPlaceForEveryRowLength) {
    for (int count = 0; count <= 40; ++count) { // whole blocks of 16 and every remainder
        std::vector<uint32_t> in(count);
        for (int i = 0; i < count; ++i)
            in[i] = 0xA0000000u | uint32_t(i * 0x010203 + 0x102030);
        std::vector<uint8_t> out(count * 3 + 4, 0xEE);
        rgb32ToBgr24Row(in.data(), out.data(), count);
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(out[i * 3 + 0], uint8_t(in[i])) << count << ":" << i;
            ASSERT_EQ(out[i * 3 + 1], uint8_t(in[i] >> 8)) << count << ":" << i;
            ASSERT_EQ(out[i * 3 + 2], uint8_t(in[i] >> 16)) << count << ":" << i;
        }
        // Nothing written past the row.
        for (size_t i = count * 3; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xEE) << count;
    }
    for (int count = 0; count <= 20; ++count) {
        std::vector<uint32_t> padded(count), opaque(count + 1, 0xEEEEEEEEu);
        for (int i = 0; i < count; ++i)
            padded[i] = uint32_t(i) << 28 | uint32_t(i * 0x030507);
        rgb32ToOpaqueRow(padded.data(), opaque.data(), count);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(opaque[i], 0xFF000000u | uint32_t(i * 0x030507)) << count << ":" << i;
        ASSERT_EQ(opaque[count], 0xEEEEEEEEu) << count;
    }
}

// A 4 x 3 pointer with its hot spot at (1, 1): opaque red, half-transparent white (premultiplied
// 0x80808080), and transparent pixels.
PointerImage testPointer() {
    PointerImage p;
    p.width = 4;
    p.height = 3;
    p.xhot = 1;
    p.yhot = 1;
    p.pixels = {0xFFFF0000, 0xFFFF0000, 0x80808080, 0x00000000, //
                0xFFFF0000, 0xFFFF0000, 0x80808080, 0x00000000, //
                0xFFFF0000, 0xFFFF0000, 0x80808080, 0x00000000};
    return p;
}

TEST(PointerImage, BlendsAtTheHotSpotWithPremultipliedAlpha) {
    std::vector<uint32_t> frame(10 * 8, 0x00204060u);
    testPointer().drawOnto(frame.data(), 10, 10, 8, 5, 4);
    const auto px = [&](int x, int y) {
        return frame[y * 10 + x];
    };
    EXPECT_EQ(px(4, 3), 0xFFFF0000u); // pointer (0, 0)
    EXPECT_EQ(px(5, 4), 0xFFFF0000u); // the hot spot
    // 0x80 + c * (255 - 0x80) / 255, rounded, for each channel
    const auto kept = [](uint32_t c) {
        return 0x80 + (c * 127 + 127) / 255;
    };
    EXPECT_EQ(px(6, 3), 0xFF000000u | kept(0x20) << 16 | kept(0x40) << 8 | kept(0x60));
    EXPECT_EQ(px(7, 3), 0x00204060u); // transparent: untouched
    EXPECT_EQ(px(3, 3), 0x00204060u);
    EXPECT_EQ(px(4, 2), 0x00204060u);
    EXPECT_EQ(px(4, 6), 0x00204060u);
}

TEST(PointerImage, IsCutOffAtEveryEdgeWithoutTouchingMemoryOutsideTheFrame) {
    // The frame sits inside a larger block whose guard pixels must stay as they are.
    const int stride = 8, width = 4, height = 3;
    for (int y = -4; y <= height + 3; ++y)
        for (int x = -5; x <= width + 4; ++x) {
            std::vector<uint32_t> block(stride * (height + 2), 0x11111111u);
            uint32_t* frame = block.data() + stride + 2;
            for (int row = 0; row < height; ++row)
                for (int column = 0; column < width; ++column)
                    frame[row * stride + column] = 0;
            testPointer().drawOnto(frame, stride, width, height, x, y);
            for (int i = 0; i < int(block.size()); ++i) {
                const int row = i / stride - 1, column = i % stride - 2;
                const bool inside = row >= 0 && row < height && column >= 0 && column < width;
                if (!inside) {
                    ASSERT_EQ(block[i], 0x11111111u) << x << "," << y;
                }
            }
        }
    // Partly outside at the top left: pointer pixel (1, 1) lands on (0, 0).
    std::vector<uint32_t> frame(4 * 3, 0);
    testPointer().drawOnto(frame.data(), 4, 4, 3, 0, 0);
    EXPECT_EQ(frame[0], 0xFFFF0000u);
    EXPECT_EQ(frame[2], 0x00000000u);
    EXPECT_NE(frame[1], 0u);
}

TEST(PointerImage, ChannelsAboveTheirAlphaDoNotOverflow) {
    PointerImage p;
    p.width = p.height = 1;
    p.pixels = {0x10FFFFFF}; // not premultiplied: colour above alpha
    uint32_t pixel = 0xFFFFFFFF;
    p.drawOnto(&pixel, 1, 1, 1, 0, 0);
    EXPECT_EQ(pixel, 0xFFFFFFFFu);
    PointerImage broken = p;
    broken.width = 2; // more pixels claimed than held: draws nothing
    pixel = 0;
    broken.drawOnto(&pixel, 1, 1, 1, 0, 0);
    EXPECT_EQ(pixel, 0u);
}

} // namespace
