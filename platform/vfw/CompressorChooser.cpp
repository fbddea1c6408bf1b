#include "platform/vfw/CompressorChooser.h"

#include "platform/vfw/FourccMap.h"
#include "platform/vfw/StreamCopy.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>

namespace qdx::vfw {

namespace {

std::atomic<CompressorChooser*> installed{nullptr};

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

void fillOptions(AVICOMPRESSOPTIONS& block, const AVICOMPRESSOPTIONS& answer) {
    void* format = block.lpFormat;
    const DWORD formatSize = block.cbFormat;
    void* parms = block.lpParms;
    const DWORD parmsSize = block.cbParms;
    block = answer;
    block.lpFormat = format;
    block.cbFormat = formatSize;
    block.lpParms = parms;
    block.cbParms = parmsSize;
}

CompressorChooser* setCompressorChooser(CompressorChooser* chooser) {
    return installed.exchange(chooser);
}

CompressorChooser* installedCompressorChooser() {
    return installed.load();
}

PresetCompressorChooser::PresetCompressorChooser() : m_answer(defaultOptions(compressors()[0])) {}

PresetCompressorChooser::PresetCompressorChooser(const AVICOMPRESSOPTIONS& answer) {
    setAnswer(answer);
}

void PresetCompressorChooser::setAnswer(const AVICOMPRESSOPTIONS& answer) {
    m_answer = answer;
    m_answer.lpFormat = nullptr;
    m_answer.cbFormat = 0;
    m_answer.lpParms = nullptr;
    m_answer.cbParms = 0;
    m_answer.fccType = streamtypeVIDEO;
    m_answer.dwFlags |= AVICOMPRESSF_VALID;
}

bool PresetCompressorChooser::choose(UINT flags, int streamCount, AviStream** streams,
                                     AVICOMPRESSOPTIONS** options) {
    ++m_asked;
    m_lastFlags = flags;
    if (m_cancel)
        return false;
    // Direct stream copy needs a source film to copy from, which only callers that offer it have.
    if (isStreamCopy(m_answer.fccHandler) && !streamCopyOffered())
        return false;
    for (int i = 0; i < streamCount; ++i) {
        AVISTREAMINFO info;
        if (!streams[i] || !options[i] || streams[i]->info(info) != AVIERR_OK)
            return false;
        if (info.fccType == streamtypeVIDEO)
            fillOptions(*options[i], m_answer);
        else
            options[i]->fccType = info.fccType;
    }
    return true;
}

BOOL chooseCompressorOptions(UINT flags, int streamCount, AviStream** streams,
                             AVICOMPRESSOPTIONS** options) {
    for (int i = 0; i < streamCount; ++i)
        if (!streams[i] || !options[i])
            return 0;
    if (CompressorChooser* chooser = installed.load())
        return chooser->choose(flags, streamCount, streams, options) ? 1 : 0;
    PresetCompressorChooser fallback;
    return fallback.choose(flags, streamCount, streams, options) ? 1 : 0;
}

} // namespace qdx::vfw
