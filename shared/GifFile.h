#pragma once

// GIF files through giflib: one LZW-coded image with its colour table.

#include "platform/core/TBitmap.h"

#include <QByteArray>
#include <QSize>

#include <cstdint>
#include <span>

namespace qdx {

class GifFile {
public:
    // One image as large as the bitmap. A 16- or 256-colour bitmap keeps its own palette; every
    // other depth (the 2-colour one too) is mapped onto the 216-colour web palette without
    // dithering (see webIndex). Throws PictureError for an empty bitmap or one wider or higher
    // than 65535 pixels.
    static QByteArray encode(const TBitmap& bitmap);

    // The first image of a GIF file rendered at the file's full size (the logical screen, grown
    // to hold the image when the file declares less). Pixels the image does not cover, and its
    // transparent pixels, take the file's background colour (white when there is none). The
    // result keeps the file's palette (16 or 256 colours) whenever the background fits in it.
    // The file is hostile; a malformed one throws PictureError with the reason.
    // With a valid `atLeast`, a canvas at least twice as large each way comes back reduced while
    // the rows are read (PictureReducer), as a 32-bit bitmap not below that size, so the whole
    // canvas is never held.
    static TBitmap decode(std::span<const uint8_t> file, QSize atLeast = QSize());

    // The web-palette index of a colour: each channel c becomes the level (c + 3) / 51 (0 to 5),
    // and the index is 36 * red + 6 * green + blue.
    static uint8_t webIndex(int red, int green, int blue);
};

} // namespace qdx
