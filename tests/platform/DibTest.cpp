#include "platform/core/Dib.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

QImage pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 37) & 255, (y * 59) & 255, ((x + y) * 13) & 255));
    return image;
}

std::vector<uint8_t> pack(const qdx::DibLayout& layout, const std::vector<uint8_t>& bits) {
    std::vector<uint8_t> packed(sizeof(BITMAPINFOHEADER));
    std::memcpy(packed.data(), &layout.header, sizeof layout.header);
    if (layout.header.biCompression == BI_BITFIELDS) {
        packed.resize(packed.size() + 12);
        std::memcpy(packed.data() + 40, layout.masks, 12);
    }
    const auto* colours = reinterpret_cast<const uint8_t*>(layout.colours.data());
    packed.insert(packed.end(), colours, colours + layout.colours.size() * 4);
    packed.insert(packed.end(), bits.begin(), bits.end());
    return packed;
}

// Every depth written and read back gives the picture as that depth holds it.
TEST(Dib, EveryDepthRoundTrips) {
    const QImage source = pattern(13, 7); // odd width exercises row padding
    struct Case {
        int bits;
        bool rgb565;
        TPixelFormat depth;
    };
    for (Case c : {Case{1, false, pf1bit}, Case{4, false, pf4bit}, Case{8, false, pf8bit},
                   Case{16, false, pf15bit}, Case{16, true, pf16bit}, Case{24, false, pf24bit},
                   Case{32, false, pf32bit}}) {
        const QImage reduced = TBitmap::convertedTo(source, c.depth);
        const qdx::DibLayout layout = qdx::dibLayoutOf(reduced, c.bits, c.rgb565);
        std::vector<uint8_t> bits(layout.header.biSizeImage, 0xAA);
        qdx::writeDibBits(reduced, layout, bits.data());
        QString error;
        const TBitmap back = qdx::decodePackedDib(pack(layout, bits), &error);
        ASSERT_FALSE(back.Empty()) << c.bits << " " << error.toStdString();
        EXPECT_EQ(back.PixelFormat(), c.depth) << c.bits;
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                ASSERT_EQ(back.Image().pixel(x, y), reduced.pixel(x, y))
                    << c.bits << " bits at " << x << "," << y;
    }
}

TEST(Dib, RowsArePaddedToFourBytesAndStoredBottomUp) {
    EXPECT_EQ(qdx::dibStride(101, 24), 304);
    EXPECT_EQ(qdx::dibStride(100, 1), 16);
    QImage image(1, 2, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(1, 2, 3)); // top row
    image.setPixel(0, 1, qRgb(4, 5, 6));
    const qdx::DibLayout layout = qdx::dibLayoutOf(image, 24);
    std::vector<uint8_t> bits(layout.header.biSizeImage);
    qdx::writeDibBits(image, layout, bits.data());
    ASSERT_EQ(bits.size(), 8u);
    EXPECT_EQ(bits[0], 6); // the bottom row comes first, blue first
    EXPECT_EQ(bits[4], 3);
    EXPECT_EQ(bits[3], 0); // padding is zero
}

TEST(Dib, TopDownRowsAreReadInOrder) {
    BITMAPINFOHEADER h;
    h.biWidth = 1;
    h.biHeight = -2;
    h.biBitCount = 24;
    const std::vector<uint8_t> bits = {3, 2, 1, 0, 6, 5, 4, 0};
    QString error;
    const TBitmap bitmap = qdx::decodeDib(h, {}, nullptr, bits, &error);
    ASSERT_FALSE(bitmap.Empty());
    EXPECT_EQ(bitmap.Image().pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(bitmap.Image().pixel(0, 1), qRgb(4, 5, 6));
}

TEST(Dib, RunLengthPicturesDecode) {
    BITMAPINFOHEADER h;
    h.biWidth = 4;
    h.biHeight = 2;
    h.biBitCount = 8;
    h.biCompression = BI_RLE8;
    const RGBQUAD colours[3] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};
    // Bottom row: 4 x colour 1; end of line; top row: absolute 2, 1, then 2 x colour 2; end.
    const std::vector<uint8_t> rle = {4, 1, 0, 0, 0, 3, 2, 1, 2, 0, 1, 2, 0, 1};
    QString error;
    const TBitmap bitmap = qdx::decodeDib(h, colours, nullptr, rle, &error);
    ASSERT_FALSE(bitmap.Empty()) << error.toStdString();
    EXPECT_EQ(bitmap.Image().pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(bitmap.Image().pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(bitmap.Image().pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(bitmap.Image().pixel(3, 0), qRgb(0, 0, 255));
}

TEST(Dib, HostileHeadersGiveErrorsNotPictures) {
    QString error;
    BITMAPINFOHEADER h;
    h.biWidth = 100000;
    h.biHeight = 100000;
    h.biBitCount = 24;
    EXPECT_TRUE(qdx::decodeDib(h, {}, nullptr, {}, &error).Empty());
    EXPECT_FALSE(error.isEmpty());

    h.biWidth = 16;
    h.biHeight = 16;
    const std::vector<uint8_t> shortBits(100);
    error.clear();
    EXPECT_TRUE(qdx::decodeDib(h, {}, nullptr, shortBits, &error).Empty());
    EXPECT_FALSE(error.isEmpty());

    h.biBitCount = 7;
    EXPECT_TRUE(qdx::decodeDib(h, {}, nullptr, std::vector<uint8_t>(4096), &error).Empty());

    const std::vector<uint8_t> tiny = {40, 0, 0};
    EXPECT_TRUE(qdx::decodePackedDib(tiny, &error).Empty());
}

TEST(Dib, BitfieldMasksAreHonoured) {
    BITMAPINFOHEADER h;
    h.biWidth = 1;
    h.biHeight = 1;
    h.biBitCount = 32;
    h.biCompression = BI_BITFIELDS;
    const uint32_t masks[3] = {0x000000FF, 0x0000FF00, 0x00FF0000}; // red in the low byte
    const std::vector<uint8_t> bits = {10, 20, 30, 0};
    QString error;
    const TBitmap bitmap = qdx::decodeDib(h, {}, masks, bits, &error);
    ASSERT_FALSE(bitmap.Empty());
    EXPECT_EQ(bitmap.Image().pixel(0, 0), qRgb(10, 20, 30));
}

} // namespace
