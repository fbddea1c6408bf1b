#include "platform/avifile/AviStreamData.h"

#include "platform/avifile/RiffBytes.h"
#include "platform/core/Dib.h"

#include <algorithm>
#include <cstring>

namespace qdx::vfw {

bool AviStreamData::isUncompressedVideo() const {
    if (!isVideo())
        return false;
    if (format.size() < sizeof(BITMAPINFOHEADER))
        return info.fccHandler == 0 || info.fccHandler == comptypeDIB;
    const uint32_t compression = riff::u32(format.data() + 16);
    return compression == BI_RGB || compression == BI_BITFIELDS;
}

uint8_t AviStreamData::silence() const {
    if (format.size() >= 16 && riff::u16(format.data()) == WAVE_FORMAT_PCM &&
        riff::u16(format.data() + 14) == 8)
        return 0x80;
    return 0;
}

HRESULT copyFormat(const std::vector<uint8_t>& format, void* out, LONG* size) {
    const LONG stored = LONG(format.size());
    if (!out) {
        *size = stored;
        return AVIERR_OK;
    }
    if (*size < 0)
        return AVIERR_BADPARAM;
    const LONG n = std::min(*size, stored);
    if (n > 0)
        std::memcpy(out, format.data(), size_t(n));
    *size = n;
    return AVIERR_OK;
}

} // namespace qdx::vfw
