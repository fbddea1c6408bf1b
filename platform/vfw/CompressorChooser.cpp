#include "platform/vfw/CompressorChooser.h"

#include "platform/vfw/StreamCopy.h"

#include <atomic>

namespace qdx::vfw {

namespace {

std::atomic<CompressorChooser*> installed{nullptr};

} // namespace

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
