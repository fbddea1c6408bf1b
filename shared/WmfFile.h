#pragma once

// Placeable Windows metafiles: a 22-byte header (key 0x9AC6CDD7, bounding box, units per inch,
// checksum) before a 16-bit metafile.

#include "platform/core/TBitmap.h"

#include <QByteArray>
#include <QRect>

#include <cstdint>
#include <span>

namespace qdx {

class WmfFile {
public:
    static constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
    static constexpr int kUnitsPerInch = 96;

    // A metafile as wide and as high as the bitmap that draws it once, unscaled, at (0, 0): window
    // origin and extent, then one StretchDIB record holding the bitmap in its own depth and
    // palette. Throws PictureError for an empty bitmap or one wider or higher than 32767 pixels
    // (the format's coordinates are 16-bit).
    static QByteArray encode(const TBitmap& bitmap);

    // The checksum of a placeable header: the XOR of its first ten 16-bit words.
    static uint16_t checksum(const uint8_t* header);

    // What the file's headers say: the bounding box in metafile units, the units per inch (0 for
    // a metafile without the placeable header) and the size of the picture it is shown as, in
    // pixels at 96 per inch. Throws PictureError when the headers are malformed.
    struct Header {
        QRect bounds;
        int unitsPerInch = 0;
        QSize pixels;
        size_t recordsOffset = 0; // first record after the metafile header
        uint16_t objectCount = 0;
    };
    static Header readHeader(std::span<const uint8_t> file);

    // Plays the metafile onto a white bitmap of its size (see WmfPlayer). Throws PictureError
    // when the file is malformed.
    static TBitmap decode(std::span<const uint8_t> file);
};

} // namespace qdx
