#pragma once

// What the stream copier reads of a codec's own headers in stored samples: where an H.264 stream
// can start decoding (an IDR picture) and what its sequence parameters are, and the coding tools
// an MPEG-4 part 2 video object layer uses. A bridge re-encoded between the source's samples must
// agree with them, or the source's samples after it decode wrong.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace qdx::vfw {

// True when an H.264 sample holds an IDR slice. `lengthSize` 0: start-code (Annex B) units;
// else units prefixed by their length in that many bytes (an avcC stream).
bool h264HasIdr(const uint8_t* data, size_t size, int lengthSize);

// The parameters of an H.264 sequence parameter set that a bridge must share with the source.
struct H264Sequence {
    int profile = 0;
    int level = 0;
    int chromaFormat = 1; // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
    int bitDepth = 8;
    bool frameMbsOnly = true; // false: interlaced (field or MBAFF) coding
    int referenceFrames = 0;
    bool cabac = false; // the first picture parameter set's entropy coder (false: CAVLC)
};
// The first sequence parameter set in start-code or length-prefixed units, with the entropy coder
// of the first picture parameter set.
std::optional<H264Sequence> h264Sequence(const uint8_t* data, size_t size, int lengthSize);

// The coding tools of an MPEG-4 part 2 video object layer that change how its VOPs decode.
struct Mpeg4Layer {
    bool mpegQuantisation = false; // quant_type 1
    bool customMatrices = false;   // load_intra/nonintra_quant_mat
    bool quarterPel = false;
    bool interlaced = false;
    bool sprites = false; // static sprites or global motion compensation
    bool unusual = false; // not rectangular, not 8 bits, or a header that does not parse
    bool operator==(const Mpeg4Layer&) const = default;
};
// The first video object layer header (start code 00 00 01 20..2F) in the bytes.
std::optional<Mpeg4Layer> mpeg4Layer(const QByteArray& bytes);
// What of a layer a bridge cannot take over; empty when it can.
QString mpeg4Differences(const Mpeg4Layer& source, const Mpeg4Layer& bridge);

} // namespace qdx::vfw
