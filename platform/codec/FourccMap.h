#pragma once

// FourCC codes of AVI video streams and the FFmpeg codecs behind them, through libavformat's RIFF
// tag table (the table FFmpeg's own AVI reader uses), so every FourCC libavcodec knows decodes.
// The common FourCCs are known without it; libavformat is loaded the first time another is met.

#include "platform/core/VfwTypes.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <QString>

#include <vector>

namespace qdx::vfw {

class FourccMap {
public:
    // The codec of a FourCC; upper- and lower-case spellings are the same code.
    // AV_CODEC_ID_NONE when libavformat does not know it.
    static AVCodecID codecOf(FOURCC fourcc);
    // The FourCC libavformat writes for a codec; 0 when it has none.
    static FOURCC fourccOf(AVCodecID codec);
    // The FourCCs known without libavformat, their codecs, and libavformat's codec of a FourCC
    // (the two tables must agree).
    static std::vector<FOURCC> commonFourccs();
    static AVCodecID commonCodecOf(FOURCC fourcc);
    static AVCodecID riffCodecOf(FOURCC fourcc);
    // True for the handler codes of uncompressed frames: 0, "DIB ", "RGB ", "RAW ".
    static bool isUncompressedHandler(FOURCC fourcc);
    // True when two FourCCs name the same compressor (same code in any case, or the same codec).
    static bool sameCompressor(FOURCC a, FOURCC b);
    // The four characters, printable ones as they are and others as '.'.
    static QString text(FOURCC fourcc);
};

} // namespace qdx::vfw
