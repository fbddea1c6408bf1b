#pragma once

// The compressors the AVI layer offers: each a FourCC, the name the compressor list shows, the
// FFmpeg encoder behind it and which of the option block's settings mean something to it.

#include "platform/core/VfwTypes.h"

#include <QString>

#include <vector>

namespace qdx::vfw {

struct Compressor {
    FOURCC fourcc = 0;             // written as the stream's handler and biCompression
    QString name;                  // as the compressor list shows it
    const char* encoder = nullptr; // FFmpeg's encoder; nullptr for uncompressed frames
    bool hasQuality = false;       // dwQuality (0..10000) means something
    bool hasKeyFrames = false;     // dwKeyFrameEvery means something
    bool hasDataRate = false;      // dwBytesPerSecond means something
    bool lossless = false;
    DWORD defaultQuality = 0;
    DWORD defaultKeyFrameEvery = 0;
};

// Every compressor offered, "Full Frames (Uncompressed)" first; compressors whose FFmpeg encoder
// this system lacks are left out.
const std::vector<Compressor>& compressors();
// The compressor of a FourCC (any case; 0 and "DIB " are uncompressed), or nullptr.
const Compressor* findCompressor(FOURCC fourcc);
// An options block for a video stream with the compressor's defaults (no memory attached).
AVICOMPRESSOPTIONS defaultOptions(const Compressor& compressor);

} // namespace qdx::vfw
