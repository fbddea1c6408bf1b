#pragma once

// Turns decoded pictures into packed DIBs (header, colour table, pixels) of one chosen layout:
// 16 (5-5-5, or 5-6-5 with BI_BITFIELDS), 24 or 32 bits through libswscale; 1, 4 and 8 bits
// through the picture routines' palettes. Rows bottom-up, or top-down for a negative height.

#include "platform/codec/DibBytes.h"
#include "platform/codec/FfmpegHandles.h"
#include "platform/core/Dib.h"

#include <QImage>

#include <cstdint>
#include <vector>

namespace qdx::vfw {

class FrameConverter {
public:
    // True when a frame getter or compressor can deliver this layout.
    static bool supports(const BITMAPINFOHEADER& target);
    // The normalised header of a layout (biSize 40, biSizeImage set).
    static BITMAPINFOHEADER normalised(const BITMAPINFOHEADER& target);

    explicit FrameConverter(const BITMAPINFOHEADER& target);

    // Writes the packed DIB of `frame` scaled to the target size into `out`. False when libswscale
    // cannot convert the frame's pixel format.
    bool convert(const AVFrame* frame, DibBytes& out);
    // True when `frame` converts through our AVX-512 loop (about 0.12 ms a 720p frame), which
    // costs less than handing it to another thread.
    bool convertsQuickly(const AVFrame* frame) const;
    // The frame as a 32-bit picture of the target size (the preview and low depths use it).
    QImage toImage(const AVFrame* frame);
    // Writes a picture as a packed DIB of the target layout (any supported depth), scaling it to
    // the target size when it differs.
    static bool writeImage(const QImage& picture, const BITMAPINFOHEADER& target, DibBytes& out);

    const BITMAPINFOHEADER& target() const { return m_target; }

private:
    bool throughOwnLoop(const AVFrame* frame) const;
    bool scale(const AVFrame* frame, AVPixelFormat format, uint8_t* bits, int stride, bool flip);

    BITMAPINFOHEADER m_target;
    int m_width;
    int m_height;
    SwsPtr m_sws;
};

} // namespace qdx::vfw
