#include "platform/codec/Compressors.h"

#include "platform/codec/FourccMap.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace qdx::vfw {

namespace {

std::vector<Compressor> available() {
    const std::vector<Compressor> all = {
        {comptypeDIB, QStringLiteral("Full Frames (Uncompressed)"), nullptr, false, false, false,
         true, 0, 0},
        {mmioFOURCC('M', 'J', 'P', 'G'), QStringLiteral("Motion JPEG"), "mjpeg", true, false, true,
         false, 9000, 1},
        {mmioFOURCC('X', 'V', 'I', 'D'), QStringLiteral("MPEG-4 ASP"), "mpeg4", true, true, true,
         false, 9000, 50},
        {mmioFOURCC('H', '2', '6', '4'), QStringLiteral("H.264"), "libx264", true, true, true,
         false, 5500, 50},
        {mmioFOURCC('F', 'F', 'V', '1'), QStringLiteral("FFV1 (lossless)"), "ffv1", false, true,
         false, true, 10000, 50},
        {mmioFOURCC('H', 'F', 'Y', 'U'), QStringLiteral("HuffYUV (lossless)"), "huffyuv", false,
         false, false, true, 10000, 1},
        {mmioFOURCC('M', 'S', 'V', 'C'), QStringLiteral("Microsoft Video 1"), "msvideo1", false,
         true, false, false, 7500, 15},
    };
    std::vector<Compressor> out;
    for (const Compressor& c : all)
        if (!c.encoder || avcodec_find_encoder_by_name(c.encoder))
            out.push_back(c);
    return out;
}

} // namespace

const std::vector<Compressor>& compressors() {
    static const std::vector<Compressor> list = available();
    return list;
}

const Compressor* findCompressor(FOURCC fourcc) {
    for (const Compressor& c : compressors())
        if (FourccMap::isUncompressedHandler(fourcc)
                ? !c.encoder
                : (c.encoder && FourccMap::sameCompressor(c.fourcc, fourcc)))
            return &c;
    return nullptr;
}

AVICOMPRESSOPTIONS defaultOptions(const Compressor& c) {
    AVICOMPRESSOPTIONS o;
    o.fccType = streamtypeVIDEO;
    o.fccHandler = c.fourcc;
    o.dwQuality = c.defaultQuality;
    o.dwKeyFrameEvery = c.defaultKeyFrameEvery;
    o.dwFlags = AVICOMPRESSF_VALID;
    if (c.hasKeyFrames)
        o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    return o;
}

} // namespace qdx::vfw
