#pragma once

// FourCC codes of AVI video streams and the FFmpeg codecs behind them, through libavformat's RIFF
// tag table (the table FFmpeg's own AVI reader uses), so every FourCC libavcodec knows decodes.

#include "platform/vfw/Vfw.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <QString>

namespace qdx::vfw {

class FourccMap {
public:
    // The codec of a FourCC; upper- and lower-case spellings are the same code.
    // AV_CODEC_ID_NONE when libavformat does not know it.
    static AVCodecID codecOf(FOURCC fourcc);
    // The FourCC libavformat writes for a codec; 0 when it has none.
    static FOURCC fourccOf(AVCodecID codec);
    // True for the handler codes of uncompressed frames: 0, "DIB ", "RGB ", "RAW ".
    static bool isUncompressedHandler(FOURCC fourcc);
    // True when two FourCCs name the same compressor (same code in any case, or the same codec).
    static bool sameCompressor(FOURCC a, FOURCC b);
    // The four characters, printable ones as they are and others as '.'.
    static QString text(FOURCC fourcc);
};

} // namespace qdx::vfw
