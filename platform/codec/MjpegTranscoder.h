#pragma once

// Motion JPEG samples recompressed without decoding them to pixels: libjpeg reads a sample's DCT
// coefficients (Huffman decoding only), each coefficient is requantised from the sample's
// quantisation tables to the target's (rounded to the nearest step), and libjpeg writes them
// again as a baseline JPEG with the target's tables (Huffman encoding only). No inverse DCT, no
// colour conversion, no forward DCT: several times faster than decoding and encoding, and no
// rounding of pixels on the way.
//
// The target's tables and component layout come from a picture our own encoder wrote
// (targetOf). A sample is only transcoded when it is an 8-bit sequential Huffman-coded JPEG of
// the target's picture size and component layout; anything else (and any sample libjpeg reports
// damaged, even as a warning) is refused, for the caller to recompress through pixels. Samples
// without Huffman tables (Motion JPEG often leaves them out) get the standard tables decoders
// assume. libjpeg never writes to stderr from here and never exits: its errors end the sample.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qdx::vfw {

class MjpegTranscoder {
public:
    // What a target picture is made of: three components with their sampling factors and
    // quantisation tables (natural order).
    struct Target {
        int width = 0;
        int height = 0;
        std::array<int, 3> horizontal{};
        std::array<int, 3> vertical{};
        std::array<std::array<uint16_t, 64>, 3> tables{};
    };
    // The layout of a JPEG picture (one our encoder wrote); nullopt when it is not a 3-component
    // 8-bit sequential JPEG libjpeg reads.
    static std::optional<Target> targetOf(const uint8_t* jpeg, size_t size);

    // Transcodes into pictures of the target's layout and quantisation at width x height;
    // `optimiseHuffman` writes each sample with Huffman tables made for it (smaller samples, one
    // more pass over the coefficients), otherwise with the standard tables.
    MjpegTranscoder(const Target& target, int width, int height, bool optimiseHuffman);
    ~MjpegTranscoder();
    MjpegTranscoder(const MjpegTranscoder&) = delete;
    MjpegTranscoder& operator=(const MjpegTranscoder&) = delete;

    // The sample requantised into `out` (a baseline JPEG); false, `out` unspecified, when the
    // sample is refused.
    bool transcode(const uint8_t* sample, size_t size, std::vector<uint8_t>& out);

private:
    struct Codec;
    // Rounds every coefficient of the sample read to the target's quantisation steps.
    void requantise(void* coefficients);

    std::unique_ptr<Codec> m_codec;
    Target m_target;
    bool m_optimise;
};

} // namespace qdx::vfw
