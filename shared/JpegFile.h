#pragma once

// JPEG (JFIF) files through libjpeg-turbo.

#include "platform/core/TBitmap.h"

#include <QByteArray>
#include <QSize>

#include <cstdint>
#include <span>

namespace qdx {

class JpegFile {
public:
    // Baseline JFIF: the picture as 24-bit colour, three components, quality 90, not progressive.
    // Throws PictureError for an empty bitmap or one wider or higher than 65500 pixels.
    static QByteArray encode(const TBitmap& bitmap, int quality = 90);

    // Colour pictures come back as 24-bit bitmaps, greyscale ones as 8-bit bitmaps with a grey
    // palette, CMYK ones as 24-bit colour. A file cut short keeps the rows it holds (the rest is
    // grey), as viewers show it. A malformed file throws PictureError with libjpeg's reason.
    static TBitmap decode(std::span<const uint8_t> file);

    // The same, reduced by libjpeg's DCT scaling (1/8 to 8/8) to the smallest size that is not
    // below `atLeast` in either direction (the whole picture when it is smaller); an invalid size
    // decodes the whole picture. Only the reduced picture is allocated, so a thumbnail of a large
    // photograph costs a fraction of a full decode in time and memory.
    static TBitmap decodeAtLeast(std::span<const uint8_t> file, QSize atLeast);
};

} // namespace qdx
