#include "platform/codec/RgbToYuv.h"

#include <algorithm>

namespace qdx::vfw {

namespace {

// BT.601 coefficients in 15-bit fixed point.
struct Matrix {
    int yr, yg, yb, yOffset;
    int ur, ug, ub;
    int vr, vg, vb;
};

constexpr Matrix kFull{9798, 19235, 3735, 0, -5529, -10855, 16384, 16384, -13720, -2664};
constexpr Matrix kLimited{8414, 16519, 3208, 16, -4857, -9535, 14392, 14392, -12052, -2341};

// Channels of a pixel: 32-bit pixels are read as one word (blue in the low byte), which lets the
// compiler turn the loops below into vector code.
template <int Bytes>
struct Pixels {
    const uint8_t* row;
    int blue(int x) const {
        if constexpr (Bytes == 4)
            return int(word(x) & 0xFF);
        return row[3 * x];
    }
    int green(int x) const {
        if constexpr (Bytes == 4)
            return int((word(x) >> 8) & 0xFF);
        return row[3 * x + 1];
    }
    int red(int x) const {
        if constexpr (Bytes == 4)
            return int((word(x) >> 16) & 0xFF);
        return row[3 * x + 2];
    }
    uint32_t word(int x) const {
        uint32_t w;
        __builtin_memcpy(&w, row + 4 * ptrdiff_t(x), 4);
        return w;
    }
};

template <int Bytes>
[[gnu::always_inline]] inline void lumaRow(Pixels<Bytes> in, uint8_t* __restrict y, int width,
                                           const Matrix& m, int bias) {
    for (int x = 0; x < width; ++x)
        y[x] = uint8_t((m.yr * in.red(x) + m.yg * in.green(x) + m.yb * in.blue(x) + bias) >> 15);
}

template <int Bytes>
[[gnu::always_inline]] inline void chromaRow(Pixels<Bytes> top, Pixels<Bytes> bottom,
                                             uint8_t* __restrict u, uint8_t* __restrict v,
                                             int width, const Matrix& m, int bias) {
    for (int x = 0; x < width / 2; ++x) {
        const int r =
            top.red(2 * x) + top.red(2 * x + 1) + bottom.red(2 * x) + bottom.red(2 * x + 1);
        const int g =
            top.green(2 * x) + top.green(2 * x + 1) + bottom.green(2 * x) + bottom.green(2 * x + 1);
        const int b =
            top.blue(2 * x) + top.blue(2 * x + 1) + bottom.blue(2 * x) + bottom.blue(2 * x + 1);
        // Pure blue and pure red round up to 256: chroma saturates at 255.
        u[x] = uint8_t(std::min((m.ur * r + m.ug * g + m.ub * b + bias) >> 17, 255));
        v[x] = uint8_t(std::min((m.vr * r + m.vg * g + m.vb * b + bias) >> 17, 255));
    }
}

template <int Bytes>
[[gnu::always_inline]] inline void convert(const uint8_t* first, ptrdiff_t stride, int width,
                                           int height, const YuvPlanes& out, const Matrix& m) {
    const int yBias = (m.yOffset << 15) + (1 << 14);
    // Chroma comes from the sum of four pixels: two more bits to drop.
    const int cBias = (128 << 17) + (1 << 16);
    for (int row = 0; row < height; row += 2) {
        const Pixels<Bytes> top{first + ptrdiff_t(row) * stride};
        const Pixels<Bytes> bottom{top.row + stride};
        uint8_t* y0 = out.y + ptrdiff_t(row) * out.yStride;
        lumaRow(top, y0, width, m, yBias);
        lumaRow(bottom, y0 + out.yStride, width, m, yBias);
        chromaRow(top, bottom, out.u + ptrdiff_t(row / 2) * out.uStride,
                  out.v + ptrdiff_t(row / 2) * out.vStride, width, m, cBias);
    }
}

} // namespace

// Built for AVX2 as well, chosen at run time on processors that have it: the loops above then
// convert eight pixels at a time.
[[gnu::target_clones("avx2", "default")]] void rgbToYuv420(const uint8_t* first, ptrdiff_t stride,
                                                           int bytesPerPixel, int width, int height,
                                                           const YuvPlanes& out, bool fullRange) {
    const Matrix& m = fullRange ? kFull : kLimited;
    if (bytesPerPixel == 4)
        convert<4>(first, stride, width, height, out, m);
    else
        convert<3>(first, stride, width, height, out, m);
}

} // namespace qdx::vfw
