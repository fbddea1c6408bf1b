#include "platform/vfw/RgbToYuv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using qdx::vfw::YuvPlanes;

// BT.601 in floating point, chroma from the mean of each 2x2 block.
struct Reference {
    double y, u, v;
};

Reference reference(double r, double g, double b, bool full) {
    const double y = 0.299 * r + 0.587 * g + 0.114 * b;
    const double u = (b - y) / 1.772;
    const double v = (r - y) / 1.402;
    if (full)
        return {y, 128 + u, 128 + v};
    return {16 + y * 219 / 255, 128 + u * 224 / 255, 128 + v * 224 / 255};
}

// Every pixel of a random picture, in both layouts, directions and ranges, lands within one step
// of the exact value.
TEST(RgbToYuv, MatchesTheExactConversionWithinOneStep) {
    const int width = 38; // not a multiple of the vector width
    const int height = 6;
    std::mt19937 random(7);
    for (int bytes : {3, 4}) {
        const ptrdiff_t stride = ((width * bytes + 3) / 4) * 4;
        std::vector<uint8_t> dib(size_t(stride) * height);
        for (uint8_t& c : dib)
            c = uint8_t(random());
        // The first blocks are the saturated colours, where rounding reaches the ends of the range.
        const uint8_t extremes[][3] = {{0, 0, 255},   {255, 0, 0},     {0, 255, 255},
                                       {255, 255, 0}, {255, 255, 255}, {0, 0, 0}};
        for (int block = 0; block < 6; ++block)
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    std::memcpy(dib.data() + dy * stride + (2 * block + dx) * bytes,
                                extremes[block], 3);
        for (bool full : {false, true}) {
            for (bool bottomUp : {false, true}) {
                std::vector<uint8_t> y(width * height), u(width * height / 4),
                    v(width * height / 4);
                const YuvPlanes planes{y.data(), u.data(), v.data(), width, width / 2, width / 2};
                const uint8_t* first = bottomUp ? dib.data() + (height - 1) * stride : dib.data();
                qdx::vfw::rgbToYuv420(first, bottomUp ? -stride : stride, bytes, width, height,
                                      planes, full);
                auto pixel = [&](int x, int row) {
                    const uint8_t* p = first + (bottomUp ? -row : row) * stride + x * bytes;
                    return std::array<double, 3>{double(p[2]), double(p[1]), double(p[0])};
                };
                for (int row = 0; row < height; ++row)
                    for (int x = 0; x < width; ++x) {
                        const auto c = pixel(x, row);
                        const Reference e = reference(c[0], c[1], c[2], full);
                        ASSERT_NEAR(y[row * width + x], e.y, 1.0)
                            << bytes << " " << full << " " << bottomUp << " " << x << "," << row;
                    }
                for (int row = 0; row < height; row += 2)
                    for (int x = 0; x < width; x += 2) {
                        double r = 0, g = 0, b = 0;
                        for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
                            const auto c = pixel(x + dx, row + dy);
                            r += c[0] / 4;
                            g += c[1] / 4;
                            b += c[2] / 4;
                        }
                        const Reference e = reference(r, g, b, full);
                        const int i = (row / 2) * (width / 2) + x / 2;
                        ASSERT_NEAR(u[i], e.u, 1.0) << x << "," << row;
                        ASSERT_NEAR(v[i], e.v, 1.0) << x << "," << row;
                    }
            }
        }
    }
}

} // namespace
