// Temporary: replaced by the codec bridge.
#include "platform/vfw/AviObjects.h"

namespace qdx::vfw {

FrameGetter* createFrameGetter(AviStream*, const BITMAPINFOHEADER*) {
    return nullptr;
}

HRESULT createCompressedStream(AviStream*, const AVICOMPRESSOPTIONS&, AviStream**) {
    return AVIERR_NOCOMPRESSOR;
}

HRESULT saveStreams(const QString&, AVISAVECALLBACK, int, AviStream**, AVICOMPRESSOPTIONS**) {
    return AVIERR_UNSUPPORTED;
}

BOOL chooseCompressorOptions(UINT, int, AviStream**, AVICOMPRESSOPTIONS**) {
    return 0;
}

} // namespace qdx::vfw
