#pragma once

#include <cstdint>

namespace qdx::x11 {

// Row conversions from 0x??RRGGBB pixels (Format_RGB32, any pad byte) into the storage of the
// bitmap depths a grab hands out most: these run over every pixel of every recorded frame.

// 24-bit rows in B, G, R byte order (Format_BGR888, a DIB row).
void rgb32ToBgr24Row(const uint32_t* in, uint8_t* out, int count);
// 32-bit rows with the pad byte set to 0xff.
void rgb32ToOpaqueRow(const uint32_t* in, uint32_t* out, int count);

} // namespace qdx::x11
