// Temporary: replaced by the RIFF AVI and WAVE files.
#include "platform/vfw/AviObjects.h"

namespace qdx::vfw {

HRESULT openRiffAviFile(const QString&, UINT, AviFile**) {
    return AVIERR_UNSUPPORTED;
}

HRESULT openWaveFile(const QString&, UINT, AviFile**) {
    return AVIERR_UNSUPPORTED;
}

} // namespace qdx::vfw
