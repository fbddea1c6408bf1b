#pragma once

// Conversions between the planar YUV layouts of decoded pictures and the layouts encoders take,
// without a round trip through RGB: a recompression hands the decoder's picture to the encoder
// as it is when the layouts agree, and otherwise changes only the chroma layout here.

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "platform/codec/YuvToRgb.h"

namespace qdx::vfw {

// The layout of a planar 8-bit YUV format with full-range variants folded onto the plain ones
// (yuvj420p is yuv420p): AV_PIX_FMT_NONE for anything else.
AVPixelFormat plainYuvLayout(AVPixelFormat format);

// True when a picture's samples use the full 0..255 range (JPEG) rather than 16..235.
bool fullRangePicture(const AVFrame* picture);

// True when the picture uses the BT.601 matrix, or names none (BT.601 is then assumed).
bool bt601Picture(const AVFrame* picture);

// True for 8-bit 4:2:0 and 4:2:2 BT.601 pictures, which yuvToRgb converts without libswscale.
bool directRgbPicture(const AVFrame* picture);

// Converts such a picture into packed rows (see YuvToRgb.h); `first` is the top row as
// displayed and `stride` steps to the row below it.
void pictureToRgb(const AVFrame* picture, uint8_t* first, ptrdiff_t stride, RgbLayout layout);

// Copies the picture's planes into `target`, a writable 4:2:0 picture at least as large, turning
// 4:2:2 chroma into 4:2:0 by averaging each pair of rows (the sample between them, as 4:2:0
// chroma sits). The area of `target` beyond the picture is left as it is. False for layouts other
// than 8-bit 4:2:0 and 4:2:2.
bool copyToYuv420(const AVFrame* picture, AVFrame* target);

} // namespace qdx::vfw
