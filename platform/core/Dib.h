#pragma once

// Device-independent bitmaps: the Windows records, and conversion between pictures and DIB pixels.
// Used by the BMP and WMF files, the AVI layer (formats and uncompressed frames) and the engine.

#include "platform/core/TBitmap.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <span>
#include <vector>

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};
struct BITMAPFILEHEADER {
    uint16_t bfType = 0x4D42; // "BM"
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(BITMAPFILEHEADER) == 14);

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_JPEG = 4;
constexpr uint32_t BI_PNG = 5;
constexpr uint32_t BI_ALPHABITFIELDS = 6;

namespace qdx {

// Bytes of one DIB row of `width` pixels at `bitCount` bits, padded to 32 bits; -1 on overflow
// or a negative width.
int64_t dibStride(int64_t width, int bitCount);

// Colour table entries that a header announces (biClrUsed, or 2^bits up to 8 bits).
int dibColourCount(const BITMAPINFOHEADER& header);

// The layout a picture is written in as an uncompressed DIB.
struct DibLayout {
    BITMAPINFOHEADER header;       // biSizeImage filled, bottom-up, BI_RGB or BI_BITFIELDS
    std::vector<RGBQUAD> colours;  // 2^bits entries up to 8 bits, else empty
    uint32_t masks[3] = {0, 0, 0}; // red, green, blue with BI_BITFIELDS
};

// Builds the layout of `picture` at `bitCount` bits (1, 4, 8, 16, 24, 32). 16 bits are written as
// 5-5-5 BI_RGB, or as 5-6-5 BI_BITFIELDS when `rgb565` is set. Up to 8 bits the colour table is
// the picture's own when it is indexed with no more colours than the depth holds, otherwise the
// fixed palette of that depth (TBitmap's rules).
DibLayout dibLayoutOf(const QImage& picture, int bitCount, bool rgb565 = false);

// Writes the pixels of `picture` in `layout` into `bits` (layout.header.biSizeImage bytes),
// bottom-up, converting them with TBitmap's rules when the depth differs.
void writeDibBits(const QImage& picture, const DibLayout& layout, uint8_t* bits);

// Reads DIB pixels. The input is hostile: every size is checked against the data given, and a
// clear message comes back in `error` instead of a picture. Supports BI_RGB 1/4/8/16/24/32,
// BI_RLE4, BI_RLE8, BI_BITFIELDS and BI_ALPHABITFIELDS 16/32, bottom-up and top-down rows.
// The bitmap's depth follows the DIB: 1 bit pf1bit, 4 bits pf4bit, 8 bits pf8bit, 16 bits
// 5-5-5 pf15bit and 5-6-5 pf16bit, 24 bits pf24bit, the rest pf32bit.
// With a valid `atLeast` (a thumbnail's size), a picture at least twice as large each way comes
// back reduced while its rows are read (PictureReducer), as a pf32bit bitmap not below that size:
// the whole picture is never built.
TBitmap decodeDib(const BITMAPINFOHEADER& header, std::span<const RGBQUAD> colours,
                  const uint32_t* masks, std::span<const uint8_t> bits, QString* error,
                  QSize atLeast = QSize());

// Reads a packed DIB: header, then masks or colour table, then pixels.
TBitmap decodePackedDib(std::span<const uint8_t> packed, QString* error);

// Header sizes that are BITMAPINFOHEADER or one of its extensions (V2..V5).
bool isKnownDibHeaderSize(uint32_t size);

} // namespace qdx
