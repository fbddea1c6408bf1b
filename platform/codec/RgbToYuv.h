#pragma once

// The compressors' conversion of DIB rows (32-bit BGRX or 24-bit BGR) into planar YUV 4:2:0 with
// the BT.601 matrix, full range (JPEG) or limited range (MPEG). It reads exactly the pixels it
// converts, so it works straight from the caller's buffer, and it is several times faster than
// libswscale's general path for these layouts, which is the hot spot of every recompression.

#include <cstddef>
#include <cstdint>

namespace qdx::vfw {

struct YuvPlanes {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    ptrdiff_t yStride;
    ptrdiff_t uStride;
    ptrdiff_t vStride;
};

// `first` is the top row as displayed; `stride` steps to the row below it (negative for the
// bottom-up rows of a DIB). Width and height must be even. `bytesPerPixel` is 3 or 4.
void rgbToYuv420(const uint8_t* first, ptrdiff_t stride, int bytesPerPixel, int width, int height,
                 const YuvPlanes& out, bool fullRange);

} // namespace qdx::vfw
