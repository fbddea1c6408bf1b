#pragma once

// What a RIFF AVI file knows about one of its streams: the header, the format and where the
// samples are. Shared by the reading and the writing side of RiffAviFile.

#include "platform/avifile/AviRecords.h"
#include "platform/avifile/SampleTable.h"

#include <cstdint>
#include <vector>

namespace qdx::vfw {

struct AviStreamData {
    AVISTREAMINFO info;          // as stored; the length comes from `samples`
    std::vector<uint8_t> format; // strf
    SampleTable samples;
    std::vector<uint8_t> indx; // the OpenDML index chunk of a stream read, if any

    bool isVideo() const { return info.fccType == streamtypeVIDEO; }
    // Uncompressed frames: every frame stands alone.
    bool isUncompressedVideo() const;
    // A byte of silence for a fixed-size sound format (0x80 for 8-bit PCM, else 0).
    uint8_t silence() const;
};

// AVIStreamReadFormat on a stored format: with no buffer only the size, else up to *size bytes
// copied and *size set to what was copied.
HRESULT copyFormat(const std::vector<uint8_t>& format, void* out, LONG* size);

} // namespace qdx::vfw
