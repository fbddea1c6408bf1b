#include "platform/avifile/SampleTable.h"

#include <algorithm>
#include <climits>

namespace qdx::vfw {

void SampleTable::reserve(size_t chunks) {
    // Grown geometrically: indexes arrive in pieces (one per OpenDML extent), and reserving each
    // piece's exact size would copy the table once per piece.
    if (chunks <= m_chunks.capacity())
        return;
    chunks = std::max(chunks, 2 * m_chunks.capacity());
    m_chunks.reserve(chunks);
    if (m_sampleSize > 0)
        m_byteStart.reserve(chunks);
}

void SampleTable::append(int64_t offset, uint32_t size, bool key) {
    if (m_sampleSize > 0) {
        m_byteStart.push_back(m_totalBytes);
    } else if (key && m_chunks.size() < size_t(INT32_MAX)) {
        m_keys.push_back(int32_t(m_chunks.size()));
    }
    m_chunks.push_back({offset, size, key});
    m_totalBytes += size;
    m_furthestEnd = std::max(m_furthestEnd, offset + int64_t(size));
}

void SampleTable::clear() {
    m_chunks.clear();
    m_byteStart.clear();
    m_keys.clear();
    m_totalBytes = 0;
    m_furthestEnd = 0;
}

int64_t SampleTable::length() const {
    const int64_t n = m_sampleSize > 0 ? m_totalBytes / m_sampleSize : int64_t(m_chunks.size());
    return std::min<int64_t>(n, INT32_MAX);
}

bool SampleTable::isKey(int64_t sample) const {
    if (sample < 0 || sample >= length())
        return false;
    if (m_sampleSize > 0)
        return true;
    return m_chunks[size_t(sample)].key;
}

int64_t SampleTable::findKey(int64_t sample, bool forward) const {
    const int64_t n = length();
    if (sample < 0 || sample >= n)
        return -1;
    if (m_sampleSize > 0)
        return sample; // every block of fixed-size samples starts a sample of its own
    if (forward) {
        const auto it = std::lower_bound(m_keys.begin(), m_keys.end(), sample);
        return it == m_keys.end() ? -1 : *it;
    }
    const auto it = std::upper_bound(m_keys.begin(), m_keys.end(), sample);
    return it == m_keys.begin() ? -1 : *std::prev(it);
}

int64_t SampleTable::findNonEmpty(int64_t sample, bool forward) const {
    const int64_t n = length();
    if (sample < 0 || sample >= n)
        return -1;
    if (m_sampleSize > 0)
        return sample;
    if (forward) {
        for (int64_t i = sample; i < n; ++i)
            if (m_chunks[size_t(i)].size > 0)
                return i;
    } else {
        for (int64_t i = sample; i >= 0; --i)
            if (m_chunks[size_t(i)].size > 0)
                return i;
    }
    return -1;
}

int64_t SampleTable::find(int64_t sample, LONG flags) const {
    bool forward = (flags & FIND_PREV) == 0;
    if (flags & FIND_FROM_START) {
        sample = 0;
        forward = true;
    }
    const int64_t n = length();
    if (sample < 0 || sample >= n)
        return -1;
    switch (flags & FIND_TYPE) {
    case FIND_KEY:
        return findKey(sample, forward);
    case FIND_ANY:
        return findNonEmpty(sample, forward);
    case FIND_FORMAT:
        return forward ? (sample == 0 ? 0 : -1) : 0;
    default:
        return sample;
    }
}

size_t SampleTable::chunkOfByte(int64_t byte) const {
    // The last chunk that starts at or before the byte and is not empty.
    const auto it = std::upper_bound(m_byteStart.begin(), m_byteStart.end(), byte);
    size_t i = size_t(it - m_byteStart.begin()) - 1;
    while (i + 1 < m_chunks.size() && m_byteStart[i] + m_chunks[i].size <= byte)
        ++i;
    return i;
}

HRESULT SampleTable::read(const PosixFile& file, int64_t first, int64_t count, void* buffer,
                          int64_t bufferSize, LONG* bytesRead, LONG* samplesRead) const {
    if (bytesRead)
        *bytesRead = 0;
    if (samplesRead)
        *samplesRead = 0;
    if (first < 0)
        return AVIERR_NODATA;
    const int64_t n = length();
    if (first >= n || count == 0)
        return AVIERR_OK;
    const bool convenient = count < 0;
    if (buffer == nullptr)
        bufferSize = INT32_MAX;

    if (m_sampleSize == 0) {
        if (convenient)
            count = 1;
        count = std::min(count, n - first);
        auto* out = static_cast<uint8_t*>(buffer);
        int64_t used = 0;
        int64_t done = 0;
        for (; done < count; ++done) {
            const SampleChunk& c = m_chunks[size_t(first + done)];
            if (used + c.size > bufferSize) {
                if (done == 0) {
                    if (bytesRead)
                        *bytesRead = LONG(std::min<int64_t>(c.size, INT32_MAX));
                    return buffer ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
                }
                break;
            }
            if (buffer && c.size > 0 && !file.readAt(c.offset, out + used, c.size))
                return AVIERR_FILEREAD;
            used += c.size;
        }
        if (bytesRead)
            *bytesRead = LONG(used);
        if (samplesRead)
            *samplesRead = LONG(done);
        return AVIERR_OK;
    }

    const int64_t ss = m_sampleSize;
    int64_t byte = first * ss;
    if (convenient) {
        const size_t c = chunkOfByte(byte);
        const int64_t chunkEnd = m_byteStart[c] + m_chunks[c].size;
        count = std::max<int64_t>(1, (chunkEnd - byte) / ss);
    }
    count = std::min(count, n - first);
    const int64_t fit = bufferSize / ss;
    if (fit == 0) {
        if (bytesRead)
            *bytesRead = LONG(std::min<int64_t>(ss, INT32_MAX));
        return AVIERR_BUFFERTOOSMALL;
    }
    count = std::min(count, fit);
    int64_t remaining = count * ss;
    if (buffer) {
        auto* out = static_cast<uint8_t*>(buffer);
        size_t c = chunkOfByte(byte);
        while (remaining > 0 && c < m_chunks.size()) {
            const int64_t within = byte - m_byteStart[c];
            const int64_t take = std::min<int64_t>(remaining, int64_t(m_chunks[c].size) - within);
            if (take > 0) {
                if (!file.readAt(m_chunks[c].offset + within, out, size_t(take)))
                    return AVIERR_FILEREAD;
                out += take;
                byte += take;
                remaining -= take;
            }
            ++c;
        }
        if (remaining > 0)
            return AVIERR_FILEREAD;
    }
    if (bytesRead)
        *bytesRead = LONG(count * ss);
    if (samplesRead)
        *samplesRead = LONG(count);
    return AVIERR_OK;
}

} // namespace qdx::vfw
