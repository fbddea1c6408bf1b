#include "tests/vfw/MemoryStream.h"

#include <cstring>

namespace qdx::vfw::test {

HRESULT readIn(const std::vector<QByteArray>& stored, LONG start, LONG samples, void* buffer,
               LONG bufferSize, LONG* bytesRead, LONG* samplesRead) {
    const LONG length = LONG(stored.size());
    if (start < 0 || start >= length)
        return AVIERR_NODATA;
    if (samples == AVISTREAMREAD_CONVENIENT)
        samples = 1;
    samples = std::min(samples, length - start);
    LONG total = 0;
    for (LONG i = 0; i < samples; ++i)
        total += LONG(stored[size_t(start + i)].size());
    if (bytesRead)
        *bytesRead = total;
    if (samplesRead)
        *samplesRead = samples;
    if (!buffer)
        return AVIERR_OK;
    if (bufferSize < total)
        return AVIERR_BUFFERTOOSMALL;
    char* out = static_cast<char*>(buffer);
    for (LONG i = 0; i < samples; ++i) {
        const QByteArray& s = stored[size_t(start + i)];
        std::memcpy(out, s.constData(), size_t(s.size()));
        out += s.size();
    }
    return AVIERR_OK;
}

LONG findIn(const std::vector<bool>& keys, const std::vector<QByteArray>& samples, LONG position,
            LONG flags) {
    const LONG n = LONG(samples.size());
    auto matches = [&](LONG i) {
        if (flags & FIND_KEY)
            return bool(keys[size_t(i)]);
        return !samples[size_t(i)].isEmpty();
    };
    if (flags & FIND_FROM_START)
        position = 0;
    if (flags & FIND_PREV) {
        for (LONG i = std::min(position, n - 1); i >= 0; --i)
            if (matches(i))
                return i;
        return -1;
    }
    for (LONG i = std::max<LONG>(position, 0); i < n; ++i)
        if (matches(i))
            return i;
    return -1;
}

HRESULT MemoryStream::info(AVISTREAMINFO& out) {
    out = m_info;
    out.dwLength = uint32_t(m_samples.size());
    return AVIERR_OK;
}

HRESULT MemoryStream::readFormat(LONG, void* format, LONG* size) {
    if (m_format.isEmpty())
        return AVIERR_NODATA;
    if (!format) {
        *size = LONG(m_format.size());
        return AVIERR_OK;
    }
    const LONG n = std::min<LONG>(*size, LONG(m_format.size()));
    std::memcpy(format, m_format.constData(), size_t(n));
    *size = n;
    return AVIERR_OK;
}

HRESULT MemoryStream::setFormat(LONG, const void* format, LONG size) {
    m_format = QByteArray(static_cast<const char*>(format), size);
    return AVIERR_OK;
}

HRESULT MemoryStream::read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                           LONG* samplesRead) {
    return readIn(m_samples, start, samples, buffer, bufferSize, bytesRead, samplesRead);
}

HRESULT MemoryStream::write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                            DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (m_failWrites != AVIERR_OK)
        return m_failWrites;
    if (start < 0)
        return AVIERR_BADPARAM;
    if (size_t(start) > m_samples.size()) {
        m_samples.resize(size_t(start));
        m_keys.resize(size_t(start), false);
    }
    m_samples.resize(size_t(start));
    m_keys.resize(size_t(start));
    if (m_info.dwSampleSize > 0 && samples > 0) {
        const LONG each = LONG(m_info.dwSampleSize);
        for (LONG i = 0; i < samples; ++i) {
            m_samples.emplace_back(static_cast<const char*>(buffer) + i * each, each);
            m_keys.push_back(true);
        }
    } else {
        m_samples.emplace_back(static_cast<const char*>(buffer), bufferSize);
        m_keys.push_back((flags & AVIIF_KEYFRAME) != 0);
    }
    if (samplesWritten)
        *samplesWritten = samples;
    if (bytesWritten)
        *bytesWritten = bufferSize;
    return AVIERR_OK;
}

LONG MemoryStream::findSample(LONG position, LONG flags) {
    return findIn(m_keys, m_samples, position, flags);
}

} // namespace qdx::vfw::test
