#include "platform/avifile/AppendWriter.h"

#include <algorithm>
#include <cstring>

namespace qdx::vfw {

AppendWriter::AppendWriter(PosixFile& file, int64_t start, size_t bufferSize)
    : m_file(file), m_buffer(std::max<size_t>(bufferSize, 4096)), m_bufferStart(start),
      m_end(start) {}

bool AppendWriter::flush() {
    if (m_failed)
        return false;
    if (m_used > 0) {
        if (!m_file.writeAt(m_bufferStart, m_buffer.data(), m_used)) {
            m_failed = true;
            return false;
        }
        m_bufferStart += int64_t(m_used);
        m_used = 0;
    }
    return true;
}

bool AppendWriter::rewind(int64_t offset) {
    if (offset < 0 || offset > m_end || !flush())
        return false;
    m_bufferStart = offset;
    m_end = offset;
    return true;
}

bool AppendWriter::append(const void* data, size_t length) {
    if (m_failed)
        return false;
    if (length == 0)
        return true;
    if (m_used + length <= m_buffer.size()) {
        std::memcpy(m_buffer.data() + m_used, data, length);
        m_used += length;
        m_end += int64_t(length);
        return true;
    }
    if (!flush())
        return false;
    if (length >= m_buffer.size()) {
        // Large blocks (whole frames) go straight to the file without a copy.
        if (!m_file.writeAt(m_bufferStart, data, length)) {
            m_failed = true;
            return false;
        }
        m_bufferStart += int64_t(length);
        m_end += int64_t(length);
        return true;
    }
    std::memcpy(m_buffer.data(), data, length);
    m_used = length;
    m_end += int64_t(length);
    return true;
}

bool AppendWriter::appendZeros(size_t length) {
    static const uint8_t zeros[4096] = {};
    while (length > 0) {
        const size_t n = std::min(length, sizeof zeros);
        if (!append(zeros, n))
            return false;
        length -= n;
    }
    return !m_failed;
}

bool AppendWriter::patch(int64_t offset, const void* data, size_t length) {
    if (m_failed)
        return false;
    if (offset < 0 || offset + int64_t(length) > m_end)
        return false;
    const auto* in = static_cast<const uint8_t*>(data);
    // The part before the buffer goes to the file, the rest into the buffer.
    if (offset < m_bufferStart) {
        const size_t head = size_t(std::min<int64_t>(int64_t(length), m_bufferStart - offset));
        if (!m_file.writeAt(offset, in, head)) {
            m_failed = true;
            return false;
        }
        in += head;
        offset += int64_t(head);
        length -= head;
    }
    if (length > 0)
        std::memcpy(m_buffer.data() + (offset - m_bufferStart), in, length);
    return true;
}

} // namespace qdx::vfw
