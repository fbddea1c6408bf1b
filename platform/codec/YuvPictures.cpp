#include "platform/codec/YuvPictures.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <cstddef>
#include <cstdint>

namespace qdx::vfw {

namespace {

// The rounded mean of two rows: the compiler turns it into byte averages, 32 at a time with
// AVX2. (Chosen by a plain check rather than an ifunc: the sanitizers' builds run resolvers before
// their run time is ready.)
template <int>
[[gnu::always_inline]] inline void averageLoop(const uint8_t* __restrict a,
                                               const uint8_t* __restrict b, uint8_t* __restrict out,
                                               int width) {
    for (int x = 0; x < width; ++x)
        out[x] = uint8_t((unsigned(a[x]) + unsigned(b[x]) + 1) >> 1);
}

[[gnu::target("avx2")]] void averageRowsAvx2(const uint8_t* a, const uint8_t* b, uint8_t* out,
                                             int width) {
    averageLoop<2>(a, b, out, width);
}

void averageRows(const uint8_t* a, const uint8_t* b, uint8_t* out, int width) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        averageRowsAvx2(a, b, out, width);
    else
        averageLoop<1>(a, b, out, width);
}

} // namespace

AVPixelFormat plainYuvLayout(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    default:
        return AV_PIX_FMT_NONE;
    }
}

bool fullRangePicture(const AVFrame* picture) {
    switch (picture->format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
        return true;
    default:
        return picture->color_range == AVCOL_RANGE_JPEG;
    }
}

bool bt601Picture(const AVFrame* picture) {
    switch (picture->colorspace) {
    case AVCOL_SPC_UNSPECIFIED:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return true;
    default:
        return false;
    }
}

bool directRgbPicture(const AVFrame* picture) {
    const AVPixelFormat layout = plainYuvLayout(AVPixelFormat(picture->format));
    return (layout == AV_PIX_FMT_YUV420P || layout == AV_PIX_FMT_YUV422P) &&
           bt601Picture(picture) && picture->width > 0 && picture->height > 0;
}

void pictureToRgb(const AVFrame* picture, uint8_t* first, ptrdiff_t stride, RgbLayout layout) {
    const YuvSource source{picture->data[0],
                           picture->data[1],
                           picture->data[2],
                           picture->linesize[0],
                           picture->linesize[1],
                           picture->linesize[2],
                           picture->width,
                           picture->height,
                           plainYuvLayout(AVPixelFormat(picture->format)) == AV_PIX_FMT_YUV420P,
                           fullRangePicture(picture)};
    yuvToRgb(source, first, stride, layout);
}

bool copyToYuv420(const AVFrame* picture, AVFrame* target) {
    const AVPixelFormat layout = plainYuvLayout(AVPixelFormat(picture->format));
    if (layout != AV_PIX_FMT_YUV420P && layout != AV_PIX_FMT_YUV422P)
        return false;
    const int width = picture->width;
    const int height = picture->height;
    if (width > target->width || height > target->height || width <= 0 || height <= 0)
        return false;
    av_image_copy_plane(target->data[0], target->linesize[0], picture->data[0],
                        picture->linesize[0], width, height);
    const int chromaWidth = (width + 1) / 2;
    const int chromaRows = (height + 1) / 2;
    for (int plane = 1; plane <= 2; ++plane) {
        const uint8_t* in = picture->data[plane];
        const ptrdiff_t inStride = picture->linesize[plane];
        uint8_t* out = target->data[plane];
        const ptrdiff_t outStride = target->linesize[plane];
        if (layout == AV_PIX_FMT_YUV420P) {
            av_image_copy_plane(out, int(outStride), in, int(inStride), chromaWidth, chromaRows);
            continue;
        }
        for (int row = 0; row < chromaRows; ++row) {
            const uint8_t* top = in + ptrdiff_t(2 * row) * inStride;
            // An odd last row has no partner: it stands for itself.
            const uint8_t* bottom = 2 * row + 1 < height ? top + inStride : top;
            averageRows(top, bottom, out + ptrdiff_t(row) * outStride, chromaWidth);
        }
    }
    return true;
}

} // namespace qdx::vfw
