#include "platform/core/TBitmap.h"
#include "platform/core/Palettes.h"

#include <gtest/gtest.h>

namespace {

QImage rgbPicture(std::initializer_list<QRgb> pixels) {
    QImage image(int(pixels.size()), 1, QImage::Format_RGB32);
    int x = 0;
    for (QRgb p : pixels)
        image.setPixel(x++, 0, p);
    return image;
}

TEST(TBitmap, TwoColoursKeepOnlyPureWhite) {
    TBitmap bitmap(rgbPicture({qRgb(255, 255, 255), qRgb(254, 255, 255), qRgb(0, 0, 0),
                               qRgb(200, 200, 200), qRgb(255, 255, 254)}));
    bitmap.SetPixelFormat(pf1bit);
    ASSERT_EQ(bitmap.Image().format(), QImage::Format_Mono);
    EXPECT_EQ(bitmap.Image().pixel(0, 0), qRgb(255, 255, 255));
    for (int x = 1; x < 5; ++x)
        EXPECT_EQ(bitmap.Image().pixel(x, 0), qRgb(0, 0, 0)) << x;
}

TEST(TBitmap, ReducedDepthsTakeTheNearestPaletteColourWithoutDithering) {
    QImage flat(8, 8, QImage::Format_RGB32);
    flat.fill(qRgb(250, 10, 10));
    TBitmap sixteen(flat);
    sixteen.SetPixelFormat(pf4bit);
    ASSERT_EQ(sixteen.Image().format(), QImage::Format_Indexed8);
    EXPECT_EQ(sixteen.Image().colorCount(), 16);
    // No dithering: every pixel of a flat area maps to the same colour.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(sixteen.Image().pixel(x, y), qRgb(255, 0, 0));

    TBitmap halftone(rgbPicture({qRgb(51, 102, 153), qRgb(130, 1, 2)}));
    halftone.SetPixelFormat(pf8bit);
    EXPECT_EQ(halftone.Image().colorCount(), 256);
    EXPECT_EQ(halftone.Image().pixel(0, 0), qRgb(51, 102, 153)); // palette colours stay exact
    EXPECT_EQ(halftone.Image().pixel(1, 0), qRgb(128, 0, 0));
}

// A reduction maps onto the fixed palette of its depth also when the picture is indexed already
// with colours of its own; a picture already in that palette stays exactly as it is.
TEST(TBitmap, IndexedPicturesAreReducedOntoTheFixedPaletteOfTheirDepth) {
    QImage redBlue(4, 1, QImage::Format_Mono);
    redBlue.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    redBlue.setPixel(1, 0, 1);
    TBitmap two(redBlue);
    two.SetPixelFormat(pf1bit);
    EXPECT_EQ(two.Image().colorTable(), (QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}));
    EXPECT_EQ(two.Image().pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(two.Image().pixel(1, 0), qRgb(0, 0, 0));

    QImage custom(3, 1, QImage::Format_Indexed8);
    custom.setColorTable({qRgb(250, 10, 10), qRgb(10, 10, 250), qRgb(1, 2, 3)});
    for (int x = 0; x < 3; ++x)
        custom.setPixel(x, 0, uint(x));
    TBitmap sixteen(custom);
    sixteen.SetPixelFormat(pf4bit);
    EXPECT_EQ(sixteen.Image().colorTable(), qdx::standardPalette16());
    EXPECT_EQ(sixteen.Image().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(sixteen.Image().pixel(1, 0), qRgb(0, 0, 255));
    EXPECT_EQ(sixteen.Image().pixel(2, 0), qRgb(0, 0, 0));

    QList<QRgb> greys;
    for (int i = 0; i < 256; ++i)
        greys.append(qRgb(i, i, 255 - i));
    QImage ramp(256, 1, QImage::Format_Indexed8);
    ramp.setColorTable(greys);
    for (int x = 0; x < 256; ++x)
        ramp.setPixel(x, 0, uint(x));
    TBitmap eight(ramp);
    eight.SetPixelFormat(pf8bit);
    EXPECT_EQ(eight.Image().colorTable(), qdx::halftonePalette256());

    // Already in the palette of the depth: nothing moves.
    const QImage before = sixteen.Image();
    sixteen.SetPixelFormat(pf4bit);
    EXPECT_EQ(sixteen.Image(), before);
}

TEST(TBitmap, PalettesHaveTheirSizesAndBlackFirst) {
    EXPECT_EQ(qdx::standardPalette16().size(), 16);
    EXPECT_EQ(qdx::halftonePalette256().size(), 256);
    EXPECT_EQ(qdx::webPalette216().size(), 216);
    EXPECT_EQ(qdx::halftonePalette256()[0], qRgb(0, 0, 0));
    EXPECT_EQ(qdx::webPalette216()[11], qRgb(0, 51, 255));
}

TEST(TBitmap, SixteenBitDepthsUseTheirBitLayouts) {
    TBitmap bitmap(rgbPicture({qRgb(255, 255, 255), qRgb(8, 4, 8)}));
    bitmap.SetPixelFormat(pf16bit);
    EXPECT_EQ(bitmap.Image().format(), QImage::Format_RGB16);
    // 5-6-5: green keeps one bit more than red and blue.
    EXPECT_EQ(qGreen(bitmap.Image().pixel(1, 0)) & 0xFC, 4);
    bitmap.SetPixelFormat(pf15bit);
    EXPECT_EQ(bitmap.Image().format(), QImage::Format_RGB555);
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap.Image().format(), QImage::Format_BGR888);
    EXPECT_EQ(bitmap.Image().pixel(0, 0), qRgb(255, 255, 255));
}

TEST(TBitmap, DepthGivenBeforeSizingAppliesToWhatIsAssignedLater) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(4, 3);
    EXPECT_EQ(bitmap.Image().format(), QImage::Format_Indexed8);
    QImage screen(5, 2, QImage::Format_RGB32);
    screen.fill(qRgb(0, 0, 255));
    bitmap.Assign(screen);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
    EXPECT_EQ(bitmap.Image().pixel(4, 1), qRgb(0, 0, 255));
}

TEST(TBitmap, ResizingKeepsPixelsAndPalette) {
    QImage image(2, 2, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0), qRgb(10, 20, 30)});
    image.fill(1);
    TBitmap bitmap(image);
    bitmap.SetSize(3, 3);
    EXPECT_EQ(bitmap.Image().pixel(1, 1), qRgb(10, 20, 30));
    EXPECT_EQ(bitmap.Image().pixelIndex(2, 2), 0);
    bitmap.SetWidth(0);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(TBitmap, BitsPerPixelOfEveryDepth) {
    EXPECT_EQ(bitsPerPixel(pfDevice), 32);
    EXPECT_EQ(bitsPerPixel(pf15bit), 16);
    EXPECT_EQ(bitsPerPixel(pf4bit), 4);
    EXPECT_EQ(bitsPerPixel(pfCustom), 0);
}

} // namespace
