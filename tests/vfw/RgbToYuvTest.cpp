#include "platform/codec/RgbToYuv.h"
#include "platform/codec/YuvToRgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
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

// BT.601 back to RGB in floating point, rounded and clamped: B, G, R.
std::array<int, 3> rgbOf(int y, int u, int v, bool full) {
    const double luma = full ? y : (y - 16) * 255.0 / 219.0;
    const double cb = (u - 128) * (full ? 1.0 : 255.0 / 224.0);
    const double cr = (v - 128) * (full ? 1.0 : 255.0 / 224.0);
    auto clamp = [](double c) {
        return std::clamp(int(std::lround(c)), 0, 255);
    };
    return {clamp(luma + 1.772 * cb), clamp(luma - 0.344136 * cb - 0.714136 * cr),
            clamp(luma + 1.402 * cr)};
}

// Random pictures in both chroma layouts and ranges come out of our conversion, in every RGB
// layout and row direction, within two steps of the exact BT.601 colours (each pixel taking the
// chroma sample it lies in); the width is not a multiple of the vector step, so the scalar tail
// is compared too.
TEST(YuvToRgb, AgreesWithTheExactColoursWithinTwoSteps) {
    const int width = 72;
    const int height = 6;
    std::mt19937 random(11);
    for (bool half : {true, false}) {
        const int chromaRows = half ? height / 2 : height;
        std::vector<uint8_t> y(width * height), u(width / 2 * chromaRows), v(u.size());
        for (auto* plane : {&y, &u, &v})
            for (uint8_t& c : *plane)
                c = uint8_t(random());
        for (bool full : {false, true}) {
            // The exact answer as BGR24 rows, top-down.
            std::vector<uint8_t> expected(size_t(width) * 3 * height);
            for (int row = 0; row < height; ++row)
                for (int x = 0; x < width; ++x) {
                    const size_t c = size_t((half ? row / 2 : row) * (width / 2) + x / 2);
                    const auto bgr = rgbOf(y[size_t(row * width + x)], u[c], v[c], full);
                    for (int k = 0; k < 3; ++k)
                        expected[size_t((row * width + x) * 3 + k)] = uint8_t(bgr[size_t(k)]);
                }

            const qdx::vfw::YuvSource source{y.data(),  u.data(), v.data(), width, width / 2,
                                             width / 2, width,    height,   half,  full};
            using qdx::vfw::RgbLayout;
            for (RgbLayout layout : {RgbLayout::Bgr24, RgbLayout::Rgb24, RgbLayout::Bgrx32}) {
                const int bytes = layout == RgbLayout::Bgrx32 ? 4 : 3;
                for (bool bottomUp : {false, true}) {
                    const ptrdiff_t stride = ptrdiff_t(width) * bytes;
                    // A guard byte after each row: nothing may be written past a row's pixels.
                    std::vector<uint8_t> rows(size_t(stride + 1) * height, 0xA5);
                    const ptrdiff_t step = stride + 1;
                    uint8_t* first = bottomUp ? rows.data() + (height - 1) * step : rows.data();
                    qdx::vfw::yuvToRgb(source, first, bottomUp ? -step : step, layout);
                    for (int row = 0; row < height; ++row) {
                        const uint8_t* got = first + (bottomUp ? -row : row) * step;
                        ASSERT_EQ(got[stride], 0xA5) << "row " << row;
                        for (int x = 0; x < width; ++x) {
                            const uint8_t* e = expected.data() + (row * width + x) * 3;
                            const uint8_t* g = got + x * bytes;
                            const int blue = layout == RgbLayout::Rgb24 ? g[2] : g[0];
                            const int red = layout == RgbLayout::Rgb24 ? g[0] : g[2];
                            ASSERT_LE(std::abs(blue - e[0]), 2) << half << full << x << "," << row;
                            ASSERT_LE(std::abs(g[1] - e[1]), 2) << half << full << x << "," << row;
                            ASSERT_LE(std::abs(red - e[2]), 2) << half << full << x << "," << row;
                            if (layout == RgbLayout::Bgrx32) {
                                ASSERT_EQ(g[3], 255);
                            }
                        }
                    }
                }
            }
        }
    }
}

// The scalar, AVX2 and AVX-512 conversions give the same bytes (those the processor has), on an
// odd size (a scalar tail on every row, a last row without its pair under the same chroma row),
// in both chroma layouts and ranges, every RGB layout and both row directions, writing nothing
// past a row's pixels.
TEST(YuvToRgb, EveryPathGivesTheSameBytes) {
    using qdx::vfw::RgbLayout;
    using qdx::vfw::YuvToRgbPath;
    const int width = 101;
    const int height = 7;
    const int chromaWidth = (width + 1) / 2;
    std::mt19937 random(5);
    for (bool half : {true, false}) {
        const int chromaRows = half ? (height + 1) / 2 : height;
        std::vector<uint8_t> y(size_t(width) * height), u(size_t(chromaWidth) * chromaRows),
            v(u.size());
        for (auto* plane : {&y, &u, &v})
            for (uint8_t& c : *plane)
                c = uint8_t(random());
        // The extremes, where the 16-bit sums could saturate.
        for (int i = 0; i < 8; ++i) {
            y[size_t(i)] = i % 2 ? 255 : 0;
            u[size_t(i)] = i % 4 < 2 ? 255 : 0;
            v[size_t(i)] = i % 4 < 2 ? 0 : 255;
        }
        for (bool full : {false, true}) {
            const qdx::vfw::YuvSource source{y.data(),    u.data(), v.data(), width, chromaWidth,
                                             chromaWidth, width,    height,   half,  full};
            for (RgbLayout layout : {RgbLayout::Bgr24, RgbLayout::Rgb24, RgbLayout::Bgrx32}) {
                const int bytes = layout == RgbLayout::Bgrx32 ? 4 : 3;
                const ptrdiff_t step = ptrdiff_t(width) * bytes + 3;
                for (bool bottomUp : {false, true}) {
                    auto convert = [&](YuvToRgbPath path) {
                        std::vector<uint8_t> rows(size_t(step) * height, 0xA5);
                        uint8_t* first = bottomUp ? rows.data() + (height - 1) * step : rows.data();
                        qdx::vfw::yuvToRgb(source, first, bottomUp ? -step : step, layout, path);
                        return rows;
                    };
                    const std::vector<uint8_t> scalar = convert(YuvToRgbPath::Scalar);
                    for (ptrdiff_t row = 0; row < height; ++row)
                        ASSERT_EQ(scalar[size_t(row * step + step - 1)], 0xA5);
                    for (YuvToRgbPath path : {YuvToRgbPath::Avx2, YuvToRgbPath::Avx512}) {
                        if (qdx::vfw::yuvToRgbAvailable(path)) {
                            ASSERT_TRUE(convert(path) == scalar)
                                << int(path) << " " << half << full << int(layout) << bottomUp;
                        }
                    }
                }
            }
        }
    }
}

} // namespace
