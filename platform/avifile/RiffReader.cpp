#include "platform/avifile/RiffReader.h"

namespace qdx::vfw {

RiffReader::RiffReader(const PosixFile& file) : m_file(file), m_size(file.size()) {}

bool RiffReader::read(int64_t offset, void* data, size_t length) const {
    if (offset < 0 || offset > m_size || int64_t(length) > m_size - offset)
        return false;
    return m_file.readAt(offset, data, length);
}

std::optional<RiffChunk> RiffReader::chunkAt(int64_t offset, int64_t limit) const {
    limit = std::min(limit, m_size);
    if (offset < 0 || offset + 8 > limit)
        return std::nullopt;
    uint8_t header[12];
    const bool withType = offset + 12 <= limit;
    if (!read(offset, header, withType ? 12 : 8))
        return std::nullopt;
    RiffChunk chunk;
    chunk.id = riff::u32(header);
    chunk.size = riff::u32(header + 4);
    chunk.offset = offset;
    if (chunk.isList()) {
        if (!withType || chunk.size < 4)
            return std::nullopt;
        chunk.listType = riff::u32(header + 8);
    }
    return chunk;
}

bool RiffReader::readData(const RiffChunk& chunk, std::vector<uint8_t>& out, size_t maxSize) const {
    if (chunk.size > maxSize || chunk.declaredEnd() > m_size)
        return false;
    out.resize(chunk.size);
    return chunk.size == 0 || read(chunk.dataOffset(), out.data(), chunk.size);
}

} // namespace qdx::vfw
