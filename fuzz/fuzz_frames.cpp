// Video stream formats and samples as any film may hold them, fed to the frame getter: every
// format must be refused with a result or read, every sample decoded or refused, without touching
// memory the getter does not own.
//
// Input: one byte choosing the layout asked for (none, or 1, 4, 8, 16, 24, 32 bits, top-down),
// two bytes of format size, the format, then samples, each two bytes of size and its bytes.
#include "platform/vfw/FrameGetterImpl.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace qdx::vfw;

// A read-only video stream over the input.
class InputStream final : public AviStream {
public:
    std::vector<uint8_t> format;
    std::vector<std::vector<uint8_t>> samples;
    std::vector<bool> keys;

    HRESULT info(AVISTREAMINFO& out) override {
        out = AVISTREAMINFO();
        out.fccType = streamtypeVIDEO;
        out.dwScale = 1;
        out.dwRate = 25;
        out.dwLength = DWORD(samples.size());
        return AVIERR_OK;
    }
    LONG start() override { return 0; }
    LONG length() override { return LONG(samples.size()); }
    HRESULT readFormat(LONG, void* out, LONG* size) override {
        if (!out) {
            *size = LONG(format.size());
            return AVIERR_OK;
        }
        const LONG n = std::min<LONG>(*size, LONG(format.size()));
        if (n > 0)
            std::memcpy(out, format.data(), size_t(n));
        *size = n;
        return AVIERR_OK;
    }
    HRESULT setFormat(LONG, const void*, LONG) override { return AVIERR_READONLY; }
    HRESULT read(LONG start, LONG, void* buffer, LONG bufferSize, LONG* bytesRead,
                 LONG* samplesRead) override {
        if (start < 0 || start >= length())
            return AVIERR_NODATA;
        const std::vector<uint8_t>& s = samples[size_t(start)];
        if (bytesRead)
            *bytesRead = LONG(s.size());
        if (samplesRead)
            *samplesRead = 1;
        if (!buffer)
            return AVIERR_OK;
        if (bufferSize < LONG(s.size()))
            return AVIERR_BUFFERTOOSMALL;
        if (!s.empty())
            std::memcpy(buffer, s.data(), s.size());
        return AVIERR_OK;
    }
    HRESULT write(LONG, LONG, const void*, LONG, DWORD, LONG*, LONG*) override {
        return AVIERR_READONLY;
    }
    LONG findSample(LONG position, LONG flags) override {
        const LONG n = length();
        if (flags & FIND_PREV) {
            for (LONG i = std::min(position, n - 1); i >= 0; --i)
                if (!(flags & FIND_KEY) || keys[size_t(i)])
                    return i;
            return -1;
        }
        for (LONG i = std::max<LONG>(position, 0); i < n; ++i)
            if (!(flags & FIND_KEY) || keys[size_t(i)])
                return i;
        return -1;
    }
};

size_t take16(const uint8_t*& p, const uint8_t* end) {
    if (end - p < 2)
        return 0;
    const size_t v = size_t(p[0]) | (size_t(p[1]) << 8);
    p += 2;
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    const uint8_t choice = *p++;
    auto* stream = new InputStream;
    StreamHandle holder(stream);
    const size_t formatSize = std::min<size_t>(take16(p, end), size_t(end - p));
    stream->format.assign(p, p + formatSize);
    p += formatSize;
    while (p < end && stream->samples.size() < 12) {
        const size_t n = std::min<size_t>(take16(p, end), size_t(end - p));
        stream->samples.emplace_back(p, p + n);
        stream->keys.push_back(stream->samples.size() % 3 == 1);
        p += n;
    }

    // Frame sizes up to the getter's limit (2^26 pixels) are accepted by design; here they are
    // kept to a megapixel so that each input runs in milliseconds.
    {
        QString error;
        if (auto f = VideoFormat::parse(stream->format, &error))
            if (int64_t(f->width()) * f->height() > (int64_t(1) << 20))
                return 0;
    }
    static const uint16_t bits[] = {0, 1, 4, 8, 16, 24, 32};
    BITMAPINFOHEADER wanted;
    wanted.biBitCount = bits[(choice & 0x7F) % 7];
    if (choice & 0x80)
        wanted.biHeight = -1; // top-down at the stream's height is asked as a negative height
    const bool ask = wanted.biBitCount != 0;
    if (ask && wanted.biHeight < 0) {
        QString error;
        if (auto f = VideoFormat::parse(stream->format, &error))
            wanted.biHeight = -f->height();
        else
            wanted.biHeight = 0;
    }
    GetterHandle getter(AVIStreamGetFrameOpen(stream, ask ? &wanted : nullptr));
    if (!getter)
        return 0;
    const LONG n = LONG(stream->samples.size());
    auto touch = [&](LONG position) {
        const auto* dib = static_cast<const uint8_t*>(AVIStreamGetFrame(getter.get(), position));
        if (!dib)
            return;
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        // The last byte of the pixels must be ours to read.
        size_t bytes = 40 + (h.biCompression == BI_BITFIELDS ? 12 : 0) +
                       (h.biBitCount <= 8 ? (size_t(4) << h.biBitCount) : 0) + h.biSizeImage;
        volatile uint8_t last = dib[bytes - 1];
        (void)last;
    };
    for (LONG i = 0; i < n; ++i)
        touch(i);
    for (LONG i = n - 1; i >= 0; i -= 2)
        touch(i);
    return 0;
}
