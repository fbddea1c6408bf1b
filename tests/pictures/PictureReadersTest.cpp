// The readers: what they make of unusual but valid files, and that damaged or hostile files give
// a clear error and never crash or exit.

#include "platform/core/Dib.h"
#include "shared/BmpFile.h"
#include "shared/GifFile.h"
#include "shared/IcoFile.h"
#include "shared/JpegFile.h"
#include "shared/PictureError.h"
#include "shared/WmfFile.h"
#include "tests/pictures/PictureTestSupport.h"

#include <QBuffer>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace qdx;
using namespace qdx::test;

namespace {

using Decoder = std::function<TBitmap(std::span<const uint8_t>)>;

// Every way of damaging a valid file must end in a picture or a PictureError.
void expectSurvivesDamage(const QByteArray& valid, const Decoder& decode, const char* name) {
    std::mt19937 random(1234);
    std::vector<QByteArray> damaged = {QByteArray(), valid.left(1), valid.left(valid.size() / 2),
                                       valid.left(valid.size() - 1)};
    for (int cut = 2; cut < std::min<qsizetype>(valid.size(), 200); cut += 7)
        damaged.push_back(valid.left(cut));
    for (int i = 0; i < 300; ++i) {
        QByteArray flipped = valid;
        for (int k = 0; k < 1 + i % 4; ++k) {
            // Damage the headers more often than the pixels.
            const qsizetype at = i % 2 ? random() % std::min<qsizetype>(flipped.size(), 120)
                                       : random() % flipped.size();
            flipped[at] = char(i % 3 == 0 ? 0xFF : random() & 0xFF);
        }
        damaged.push_back(flipped);
    }
    for (const QByteArray& data : damaged) {
        try {
            const TBitmap bitmap = decode(bytesOf(data));
            EXPECT_FALSE(bitmap.Empty()) << name;
        } catch (const PictureError& e) {
            EXPECT_FALSE(e.text().isEmpty()) << name;
        }
    }
}

// The same for a reader that also reduces pictures for thumbnails: whole, and reduced.
void expectSurvivesDamage(const QByteArray& valid,
                          TBitmap (*decode)(std::span<const uint8_t>, QSize), const char* name) {
    for (const QSize atLeast : {QSize(), QSize(4, 3)})
        expectSurvivesDamage(
            valid, [&](std::span<const uint8_t> bytes) { return decode(bytes, atLeast); }, name);
}

TEST(PictureReaders, DamagedFilesGiveAnErrorOrAPictureNeverACrash) {
    const QImage picture = testPicture(23, 17);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit}) {
        TBitmap bitmap(picture);
        bitmap.SetPixelFormat(format);
        expectSurvivesDamage(BmpFile::encode(bitmap), BmpFile::decode, "bmp");
        expectSurvivesDamage(GifFile::encode(bitmap), GifFile::decode, "gif");
        expectSurvivesDamage(WmfFile::encode(bitmap), WmfFile::decode, "wmf");
    }
    expectSurvivesDamage(JpegFile::encode(TBitmap(picture)), JpegFile::decode, "jpeg");
}

TEST(PictureReaders, SizesPastTheLimitAreRefusedBeforeAllocating) {
    TBitmap small(testPicture(4, 4));
    // A bitmap header claiming 60000 x 60000 pixels.
    QByteArray bmp = BmpFile::encode(small);
    const int32_t huge = 60000;
    std::memcpy(bmp.data() + 18, &huge, 4);
    std::memcpy(bmp.data() + 22, &huge, 4);
    EXPECT_THROW(BmpFile::decode(bytesOf(bmp)), PictureError);

    // A GIF whose logical screen is 65535 x 65535.
    QByteArray gif = GifFile::encode(small);
    gif[6] = gif[7] = gif[8] = gif[9] = char(0xFF);
    EXPECT_THROW(GifFile::decode(bytesOf(gif)), PictureError);

    // A JPEG frame header claiming 65000 x 65000.
    QByteArray jpeg = JpegFile::encode(small);
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    jpeg[sof + 5] = jpeg[sof + 7] = char(0xFD);
    jpeg[sof + 6] = jpeg[sof + 8] = char(0xE8);
    EXPECT_THROW(JpegFile::decode(bytesOf(jpeg)), PictureError);

    // A placeable metafile 32767 units wide at 1 unit per inch.
    QByteArray wmf = WmfFile::encode(small);
    const int16_t wide = 32767;
    const uint16_t perInch = 1;
    std::memcpy(wmf.data() + 10, &wide, 2);
    std::memcpy(wmf.data() + 14, &perInch, 2);
    EXPECT_THROW(WmfFile::decode(bytesOf(wmf)), PictureError);
}

TEST(BmpReader, TopDownRowsAndTheOldCoreHeader) {
    const QImage picture = testPicture(9, 5);
    TBitmap bitmap(picture);
    bitmap.SetPixelFormat(pf24bit);
    QByteArray file = BmpFile::encode(bitmap);
    // Turn the rows round and mark the header top-down.
    const int stride = 28;
    QByteArray topDown = file.left(54);
    for (int y = 4; y >= 0; --y)
        topDown += file.mid(54 + y * stride, stride);
    const int32_t negative = -5;
    std::memcpy(topDown.data() + 22, &negative, 4);
    EXPECT_EQ(maxChannelDifference(BmpFile::decode(bytesOf(topDown)).Image(), picture), 0);

    // The 12-byte core header with a 3-byte colour table.
    TBitmap sixteen(picture);
    sixteen.SetPixelFormat(pf4bit);
    const QByteArray modern = BmpFile::encode(sixteen);
    QByteArray core = modern.left(14);
    const uint32_t coreSize = 12;
    const uint16_t w = 9, h = 5, planes = 1, bits = 4;
    core.append(reinterpret_cast<const char*>(&coreSize), 4);
    core.append(reinterpret_cast<const char*>(&w), 2);
    core.append(reinterpret_cast<const char*>(&h), 2);
    core.append(reinterpret_cast<const char*>(&planes), 2);
    core.append(reinterpret_cast<const char*>(&bits), 2);
    for (int i = 0; i < 16; ++i)
        core.append(modern.mid(54 + 4 * i, 3));
    const uint32_t offset = uint32_t(core.size());
    core += modern.mid(54 + 64);
    std::memcpy(core.data() + 10, &offset, 4);
    EXPECT_EQ(maxChannelDifference(BmpFile::decode(bytesOf(core)).Image(), sixteen.Image()), 0);
}

// A GIF made with giflib directly: a 6 x 4 screen whose background is green, holding a 2 x 2
// image at (3, 1) whose index 1 is transparent.
QByteArray handMadeGif() {
    QByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* b, int n) {
            static_cast<QByteArray*>(g->UserData)->append(reinterpret_cast<const char*>(b), n);
            return n;
        },
        &error);
    GifColorType colours[4] = {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {9, 9, 9}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifPutScreenDesc(gif, 6, 4, 8, 2, map);
    GraphicsControlBlock control{};
    control.TransparentColor = 1;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension);
    EGifPutImageDesc(gif, 3, 1, 2, 2, false, nullptr);
    GifPixelType row0[2] = {0, 1};
    GifPixelType row1[2] = {3, 0};
    EGifPutLine(gif, row0, 2);
    EGifPutLine(gif, row1, 2);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(GifReader, RendersTheFirstImageOnTheFullScreenWithBackgroundAndTransparency) {
    const TBitmap bitmap = GifFile::decode(bytesOf(handMadeGif()));
    ASSERT_EQ(bitmap.Width(), 6);
    ASSERT_EQ(bitmap.Height(), 4);
    EXPECT_EQ(bitmap.PixelFormat(), pf4bit); // four colours: the file's own palette
    const QRgb green = qRgb(0, 255, 0);
    EXPECT_EQ(bitmap.Image().pixel(0, 0), green);
    EXPECT_EQ(bitmap.Image().pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(bitmap.Image().pixel(4, 1), green); // transparent shows the background
    EXPECT_EQ(bitmap.Image().pixel(3, 2), qRgb(9, 9, 9));
    EXPECT_EQ(bitmap.Image().pixel(5, 3), green);

    // A file that ends before its first image holds no picture.
    const QByteArray header = handMadeGif().left(13 + 12);
    EXPECT_THROW(GifFile::decode(bytesOf(header + QByteArray(1, ';'))), PictureError);
}

// An icon file with the given images (each a complete DIB or PNG stream).
QByteArray iconFile(const std::vector<QByteArray>& images) {
    QByteArray file;
    auto u16 = [&](uint16_t v) {
        file.append(reinterpret_cast<const char*>(&v), 2);
    };
    auto u32 = [&](uint32_t v) {
        file.append(reinterpret_cast<const char*>(&v), 4);
    };
    u16(0);
    u16(1);
    u16(uint16_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (const QByteArray& image : images) {
        file.append(4, '\0'); // sizes left 0: the reader trusts the image's own header
        u16(1);
        u16(32);
        u32(uint32_t(image.size()));
        u32(offset);
        offset += uint32_t(image.size());
    }
    for (const QByteArray& image : images)
        file += image;
    return file;
}

// A DIB icon image: 24- or 32-bit colour rows (bottom-up) and a mask, as the format stores them.
QByteArray dibIcon(int size, int bits, const std::function<QRgb(int, int)>& colour,
                   const std::function<int(int, int)>& alpha,
                   const std::function<bool(int, int)>& mask) {
    BITMAPINFOHEADER header;
    header.biWidth = size;
    header.biHeight = size * 2;
    header.biBitCount = uint16_t(bits);
    QByteArray out(reinterpret_cast<const char*>(&header), sizeof header);
    const int stride = int(dibStride(size, bits));
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < size; ++x) {
            const QRgb c = colour(x, y);
            const int at = x * (bits / 8);
            row[at] = char(qBlue(c));
            row[at + 1] = char(qGreen(c));
            row[at + 2] = char(qRed(c));
            if (bits == 32)
                row[at + 3] = char(alpha(x, y));
        }
        out += row;
    }
    const int maskStride = int(dibStride(size, 1));
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < size; ++x)
            if (mask(x, y))
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out += row;
    }
    return out;
}

TEST(IcoReader, TheLargestImageIsDrawnOnWhiteWithItsMaskOrAlpha) {
    // 16 x 16, 24 bits: left half masked. Masked black shows white, masked red shows its inverse.
    const QByteArray small = dibIcon(
        16, 24, [](int x, int) { return x < 4 ? qRgb(0, 0, 0) : qRgb(255, 0, 0); },
        [](int, int) { return 0; }, [](int x, int) { return x < 8; });
    TBitmap icon = IcoFile::decode(bytesOf(iconFile({small})));
    ASSERT_EQ(icon.Width(), 16);
    EXPECT_EQ(icon.Image().pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(icon.Image().pixel(5, 1), qRgb(0, 255, 255));
    EXPECT_EQ(icon.Image().pixel(12, 1), qRgb(255, 0, 0));

    // 32 x 32, 32 bits with alpha: alpha blends onto white and the mask is ignored.
    const QByteArray large = dibIcon(
        32, 32, [](int, int) { return qRgb(0, 0, 200); },
        [](int x, int) { return x < 16 ? 0 : 255; }, [](int, int) { return true; });
    icon = IcoFile::decode(bytesOf(iconFile({small, large})));
    ASSERT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Image().pixel(3, 3), qRgb(255, 255, 255));
    EXPECT_EQ(icon.Image().pixel(20, 3), qRgb(0, 0, 200));

    // A 48 x 48 PNG image wins over both.
    QImage png(48, 48, QImage::Format_ARGB32);
    png.fill(qRgba(0, 128, 0, 255));
    png.setPixel(0, 0, qRgba(0, 0, 0, 0));
    QByteArray pngBytes;
    QBuffer buffer(&pngBytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(png.save(&buffer, "PNG"));
    icon = IcoFile::decode(bytesOf(iconFile({small, pngBytes, large})));
    ASSERT_EQ(icon.Width(), 48);
    EXPECT_EQ(icon.Image().pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(icon.Image().pixel(1, 0), qRgb(0, 128, 0));

    // Entries that point outside the file are skipped; a directory of nothing else is an error.
    QByteArray broken = iconFile({small});
    broken.truncate(30);
    EXPECT_THROW(IcoFile::decode(bytesOf(broken)), PictureError);
    expectSurvivesDamage(iconFile({small, large}), IcoFile::decode, "ico");
}

} // namespace
