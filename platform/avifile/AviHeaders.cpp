#include "platform/avifile/AviHeaders.h"

#include "platform/avifile/RiffBytes.h"

#include <cstring>

namespace qdx::vfw::avi {

using namespace riff;

MainHeader parseMainHeader(const uint8_t* data, size_t size) {
    uint8_t record[kAvihSize] = {};
    if (size > 0)
        std::memcpy(record, data, std::min<size_t>(size, kAvihSize));
    MainHeader h;
    h.microSecPerFrame = u32(record);
    h.maxBytesPerSec = u32(record + 4);
    h.paddingGranularity = u32(record + 8);
    h.flags = u32(record + 12);
    h.totalFrames = u32(record + 16);
    h.initialFrames = u32(record + 20);
    h.streams = u32(record + 24);
    h.suggestedBufferSize = u32(record + 28);
    h.width = u32(record + 32);
    h.height = u32(record + 36);
    return h;
}

void writeMainHeader(const MainHeader& h, uint8_t out[kAvihSize]) {
    std::memset(out, 0, kAvihSize);
    put32(out, h.microSecPerFrame);
    put32(out + 4, h.maxBytesPerSec);
    put32(out + 8, h.paddingGranularity);
    put32(out + 12, h.flags);
    put32(out + 16, h.totalFrames);
    put32(out + 20, h.initialFrames);
    put32(out + 24, h.streams);
    put32(out + 28, h.suggestedBufferSize);
    put32(out + 32, h.width);
    put32(out + 36, h.height);
}

AVISTREAMINFO parseStreamHeader(const uint8_t* data, size_t size) {
    uint8_t r[kStrhSize] = {};
    if (size > 0)
        std::memcpy(r, data, std::min<size_t>(size, kStrhSize));
    AVISTREAMINFO info;
    info.fccType = u32(r);
    info.fccHandler = u32(r + 4);
    info.dwFlags = u32(r + 8);
    info.wPriority = u16(r + 12);
    info.wLanguage = u16(r + 14);
    info.dwInitialFrames = u32(r + 16);
    info.dwScale = u32(r + 20);
    info.dwRate = u32(r + 24);
    info.dwStart = u32(r + 28);
    info.dwLength = u32(r + 32);
    info.dwSuggestedBufferSize = u32(r + 36);
    info.dwQuality = u32(r + 40);
    info.dwSampleSize = u32(r + 44);
    if (size >= kStrhSize) {
        info.rcFrame.left = int16_t(u16(r + 48));
        info.rcFrame.top = int16_t(u16(r + 50));
        info.rcFrame.right = int16_t(u16(r + 52));
        info.rcFrame.bottom = int16_t(u16(r + 54));
    }
    return info;
}

void writeStreamHeader(const AVISTREAMINFO& info, uint8_t out[kStrhSize]) {
    std::memset(out, 0, kStrhSize);
    put32(out, info.fccType);
    put32(out + 4, info.fccHandler);
    put32(out + 8, info.dwFlags);
    put16(out + 12, info.wPriority);
    put16(out + 14, info.wLanguage);
    put32(out + 16, info.dwInitialFrames);
    put32(out + 20, info.dwScale);
    put32(out + 24, info.dwRate);
    put32(out + 28, info.dwStart);
    put32(out + 32, info.dwLength);
    put32(out + 36, info.dwSuggestedBufferSize);
    put32(out + 40, info.dwQuality);
    put32(out + 44, info.dwSampleSize);
    put16(out + 48, uint16_t(int16_t(info.rcFrame.left)));
    put16(out + 50, uint16_t(int16_t(info.rcFrame.top)));
    put16(out + 52, uint16_t(int16_t(info.rcFrame.right)));
    put16(out + 54, uint16_t(int16_t(info.rcFrame.bottom)));
}

int streamOfChunk(uint32_t id) {
    const char c0 = char(id & 0xFF);
    const char c1 = char((id >> 8) & 0xFF);
    const char t0 = char((id >> 16) & 0xFF);
    const char t1 = char((id >> 24) & 0xFF);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9')
        return -1;
    if (t0 == 'p' && t1 == 'c')
        return -1;
    return (c0 - '0') * 10 + (c1 - '0');
}

static char digit(int v) {
    return char('0' + v % 10);
}

uint32_t chunkId(int stream, const char type[2]) {
    return uint32_t(uint8_t(digit(stream / 10))) | (uint32_t(uint8_t(digit(stream))) << 8) |
           (uint32_t(uint8_t(type[0])) << 16) | (uint32_t(uint8_t(type[1])) << 24);
}

uint32_t indexChunkId(int stream) {
    return uint32_t('i') | (uint32_t('x') << 8) | (uint32_t(uint8_t(digit(stream / 10))) << 16) |
           (uint32_t(uint8_t(digit(stream))) << 24);
}

} // namespace qdx::vfw::avi
