#pragma once

// Windows icon and cursor files: a directory of images, each a DIB (colour pixels and a
// transparency mask) or a PNG stream.

#include "platform/core/TBitmap.h"

#include <QSize>

#include <cstdint>
#include <span>

namespace qdx {

class IcoFile {
public:
    // The largest image of the file (by area, then by colour depth) drawn at (0, 0) on a white
    // bitmap of its size, as the platform draws an icon: masked pixels let the white through,
    // pixels with an alpha channel are blended onto it. The file is hostile; a malformed one
    // throws PictureError with the reason. With a valid `atLeast`, a PNG image at least twice as
    // large each way comes back reduced while its rows are read (a DIB image is at most
    // 1024 x 1024 and comes back whole).
    static TBitmap decode(std::span<const uint8_t> file, QSize atLeast = QSize());
};

} // namespace qdx
