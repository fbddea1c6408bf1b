#include "platform/codec/FrameConverter.h"

#include "platform/codec/YuvPictures.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace qdx::vfw {

namespace {

constexpr size_t kWriteSlack = 64;

// FFmpeg's pixel formats whose samples are full-range although the frame may not say so.
bool fullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

// The same format without the "J" (full range is told to libswscale separately), which avoids
// libswscale's warning about deprecated formats.
AVPixelFormat plainFormat(int format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        return AVPixelFormat(format);
    }
}

} // namespace

bool FrameConverter::supports(const BITMAPINFOHEADER& t) {
    const int bits = t.biBitCount;
    if (t.biCompression == BI_BITFIELDS)
        return bits == 16;
    if (t.biCompression != BI_RGB)
        return false;
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

BITMAPINFOHEADER FrameConverter::normalised(const BITMAPINFOHEADER& t) {
    BITMAPINFOHEADER h;
    h.biWidth = t.biWidth;
    h.biHeight = t.biHeight;
    h.biBitCount = t.biBitCount;
    h.biCompression = t.biCompression;
    const int height = t.biHeight < 0 ? -t.biHeight : t.biHeight;
    h.biSizeImage = uint32_t(qdx::dibStride(t.biWidth, t.biBitCount) * height);
    return h;
}

FrameConverter::FrameConverter(const BITMAPINFOHEADER& target)
    : m_target(normalised(target)), m_width(target.biWidth),
      m_height(target.biHeight < 0 ? -target.biHeight : target.biHeight) {}

namespace {

// The YUV matrix a frame declares, for libswscale (BT.601 when it declares none).
int matrixOf(const AVFrame* frame) {
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return SWS_CS_DEFAULT;
    }
}

// Converts `rows` rows of the frame from row `first` on into `dst`, scaled to the output size.
bool convertRows(SwsPtr& sws, const AVFrame* frame, AVPixelFormat source, int first, int rows,
                 AVPixelFormat format, uint8_t* dst, int dstStride, int outWidth, int outRows) {
    sws.reset(sws_getCachedContext(sws.release(), frame->width, rows, source, outWidth, outRows,
                                   format, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws)
        return false;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(source);
    const bool yuv =
        desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && !(desc->flags & AV_PIX_FMT_FLAG_PAL);
    if (yuv) {
        // YUV pictures: the stream's matrix and range; the output is full-range RGB.
        const bool fullRange =
            fullRangeFormat(frame->format) || frame->color_range == AVCOL_RANGE_JPEG;
        const int* table = sws_getCoefficients(matrixOf(frame));
        sws_setColorspaceDetails(sws.get(), table, fullRange ? 1 : 0, table, 1, 0, 1 << 16,
                                 1 << 16);
    }
    const uint8_t* src[4] = {};
    int srcStride[4] = {};
    for (int p = 0; p < 4; ++p) {
        srcStride[p] = frame->linesize[p];
        if (!frame->data[p])
            continue;
        int shift = 0;
        if (yuv && (p == 1 || p == 2))
            shift = desc->log2_chroma_h;
        const bool palette = desc && (desc->flags & AV_PIX_FMT_FLAG_PAL) && p == 1;
        src[p] = palette ? frame->data[p]
                         : frame->data[p] + ptrdiff_t(first >> shift) * frame->linesize[p];
    }
    uint8_t* out[4] = {dst, nullptr, nullptr, nullptr};
    const int outStride[4] = {dstStride, 0, 0, 0};
    return sws_scale(sws.get(), src, srcStride, 0, rows, out, outStride) > 0;
}

} // namespace

bool FrameConverter::scale(const AVFrame* frame, AVPixelFormat format, uint8_t* bits, int stride,
                           bool flip) {
    // Bottom-up rows: the first row written is the DIB's last.
    uint8_t* first = flip ? bits + ptrdiff_t(m_height - 1) * stride : bits;
    return convertRows(m_sws, frame, plainFormat(frame->format), 0, frame->height, format, first,
                       flip ? -stride : stride, m_width, m_height);
}

QImage FrameConverter::toImage(const AVFrame* frame) {
    // Converted into a buffer with slack behind it (see convert), then copied into the picture.
    const int stride = m_width * 4;
    std::vector<uint8_t> pixels(size_t(stride) * size_t(m_height) + kWriteSlack);
    if (!scale(frame, AV_PIX_FMT_BGRA, pixels.data(), stride, false))
        return QImage();
    return QImage(pixels.data(), m_width, m_height, stride, QImage::Format_RGB32).copy();
}

bool FrameConverter::writeImage(const QImage& picture, const BITMAPINFOHEADER& target,
                                DibBytes& out) {
    if (!supports(target) || picture.isNull())
        return false;
    const int width = target.biWidth;
    const int height = target.biHeight < 0 ? -target.biHeight : target.biHeight;
    QImage image = picture;
    if (image.width() != width || image.height() != height)
        image = image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int bits = target.biBitCount;
    if (bits >= 16 && image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    qdx::DibLayout layout =
        qdx::dibLayoutOf(image, bits, bits == 16 && target.biCompression == BI_BITFIELDS);
    const bool masks = layout.header.biCompression == BI_BITFIELDS;
    const size_t table = layout.colours.size() * 4;
    const size_t headerBytes = 40 + (masks ? 12 : 0) + table;
    out.resize(headerBytes + layout.header.biSizeImage);
    BITMAPINFOHEADER header = layout.header;
    header.biHeight = target.biHeight;
    std::memcpy(out.data(), &header, 40);
    if (masks)
        std::memcpy(out.data() + 40, layout.masks, 12);
    if (table > 0)
        std::memcpy(out.data() + 40 + (masks ? 12 : 0), layout.colours.data(), table);
    uint8_t* pixels = out.data() + headerBytes;
    qdx::writeDibBits(image, layout, pixels);
    if (target.biHeight < 0) {
        // writeDibBits stores bottom-up; a top-down layout wants the rows reversed.
        const size_t stride = size_t(qdx::dibStride(width, bits));
        std::vector<uint8_t> row(stride);
        for (int y = 0; y < height / 2; ++y) {
            uint8_t* a = pixels + size_t(y) * stride;
            uint8_t* b = pixels + size_t(height - 1 - y) * stride;
            std::memcpy(row.data(), a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, row.data(), stride);
        }
    }
    return true;
}

bool FrameConverter::throughOwnLoop(const AVFrame* frame) const {
    const int bits = m_target.biBitCount;
    return (bits == 24 || bits == 32) && frame->width == m_width && frame->height == m_height &&
           directRgbPicture(frame);
}

bool FrameConverter::convertsQuickly(const AVFrame* frame) const {
    return throughOwnLoop(frame) && yuvToRgbAvailable(YuvToRgbPath::Avx512);
}

bool FrameConverter::convert(const AVFrame* frame, DibBytes& out) {
    const int bits = m_target.biBitCount;
    const bool bottomUp = m_target.biHeight > 0;
    // Up to 16 bits the picture goes through 32-bit RGB and our own DIB writer: libswscale's
    // 5-5-5 and 5-6-5 writers take the colour of each pair of pixels at half resolution (they
    // have no full-chroma output), so colours would bleed across every sharp edge.
    if (bits <= 16) {
        const QImage image = toImage(frame);
        return !image.isNull() && writeImage(image, m_target, out);
    }
    const size_t headerBytes = 40;
    // libswscale's SIMD writers may store a few bytes past a row's end; the slack behind the last
    // row keeps those stores inside the buffer (the DIB itself ends before it).
    out.resize(headerBytes + m_target.biSizeImage + kWriteSlack);
    std::memcpy(out.data(), &m_target, 40);
    const AVPixelFormat format = bits == 32 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGR24;
    const int stride = int(qdx::dibStride(m_width, bits));
    if (throughOwnLoop(frame)) {
        // The common case, unscaled BT.601 pictures, goes through our own vector loops.
        uint8_t* bits0 = out.data() + headerBytes;
        uint8_t* top = bottomUp ? bits0 + ptrdiff_t(m_height - 1) * stride : bits0;
        pictureToRgb(frame, top, bottomUp ? -stride : stride,
                     bits == 32 ? RgbLayout::Bgrx32 : RgbLayout::Bgr24);
        return true;
    }
    return scale(frame, format, out.data() + headerBytes, stride, bottomUp);
}

} // namespace qdx::vfw
