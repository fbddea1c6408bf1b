#pragma once

// Conversion of decoded planar YUV pictures (8-bit 4:2:0 or 4:2:2, BT.601, limited or full range)
// into packed RGB rows: 24-bit BGR or RGB, or 32-bit BGRX (X 255), each chroma sample standing for
// the pixels it covers, as libswscale's unscaled path does. With AVX2 it converts 16 pixels a
// step in 16-bit arithmetic, several times faster than libswscale, which makes it the frame
// getter's and the RGB compressors' conversion for the common layouts; with AVX-512 (BW and
// VBMI) 32 pixels of two rows sharing a chroma row a step, about three times as fast again. All
// paths give the same bytes.

#include <cstddef>
#include <cstdint>

namespace qdx::vfw {

enum class RgbLayout { Bgr24, Rgb24, Bgrx32 };

struct YuvSource {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    ptrdiff_t yStride;
    ptrdiff_t uStride;
    ptrdiff_t vStride;
    int width;
    int height;
    bool verticalHalf; // 4:2:0 (one chroma row for two rows) rather than 4:2:2
    bool fullRange;
};

// `first` is the top row as displayed; `stride` steps to the row below it (negative for the
// bottom-up rows of a DIB). Writes exactly the bytes of the pixels.
// The fastest path the processor has.
void yuvToRgb(const YuvSource& in, uint8_t* first, ptrdiff_t stride, RgbLayout layout);

enum class YuvToRgbPath { Scalar, Avx2, Avx512 };
bool yuvToRgbAvailable(YuvToRgbPath path);
// The path given (which must be available).
void yuvToRgb(const YuvSource& in, uint8_t* first, ptrdiff_t stride, RgbLayout layout,
              YuvToRgbPath path);

} // namespace qdx::vfw
