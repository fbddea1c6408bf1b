#pragma once

// Windows bitmap files: a file header, a DIB header (BITMAPINFOHEADER or one of its extensions, or
// the old 12-byte core header), masks or colour table, pixels.

#include "platform/core/TBitmap.h"

#include <QByteArray>
#include <QSize>

#include <cstdint>
#include <span>

namespace qdx {

class BmpFile {
public:
    // The bitmap in its own depth and palette: 1, 4 and 8 bits with their colour tables, 16 bits
    // as 5-5-5 or (a 5-6-5 bitmap) 5-6-5 with BI_BITFIELDS masks, 24 and 32 bits. Bottom-up rows,
    // uncompressed. Throws PictureError for an empty bitmap or one too large for the format.
    static QByteArray encode(const TBitmap& bitmap);

    // Reads a bitmap file: 1/4/8/16/24/32 bits, bottom-up or top-down, RLE4/RLE8, bit fields.
    // The file is hostile; a malformed one throws PictureError with the reason (the caller adds
    // the file name). With a valid `atLeast`, a large picture comes back reduced while its rows
    // are read, not below that size (see decodeDib).
    static TBitmap decode(std::span<const uint8_t> file, QSize atLeast = QSize());

    // The number of bits a bitmap of this depth is written with.
    static int bitsFor(TPixelFormat format);
};

} // namespace qdx
