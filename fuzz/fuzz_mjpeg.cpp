// The Motion JPEG transcoder on hostile samples: a requantised picture or a refusal, nothing else.
// The first byte picks the frame size (so that some inputs pass the size check), the second the
// target's tables; the rest is the sample.
#include "platform/codec/MjpegTranscoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    qdx::vfw::MjpegTranscoder::Target target;
    target.horizontal = {2, 1, 1};
    target.vertical = {2, 1, 1};
    for (size_t c = 0; c < 3; ++c)
        for (size_t k = 0; k < 64; ++k)
            target.tables[c][k] = uint16_t(1 + (data[1] * (k + 1) + c * 7) % 255);
    const int side = 8 * (1 + data[0] % 8);
    qdx::vfw::MjpegTranscoder transcoder(target, side, side, data[1] & 1);
    std::vector<uint8_t> out;
    if (transcoder.transcode(data + 2, size - 2, out)) {
        // What it wrote is a picture of the target's layout.
        const auto written = qdx::vfw::MjpegTranscoder::targetOf(out.data(), out.size());
        if (!written || written->width != side || written->height != side ||
            written->tables != target.tables)
            __builtin_trap();
    }
    return 0;
}
