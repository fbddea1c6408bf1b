#pragma once

// Walks the chunks of a RIFF file. The file is hostile: every header is read with its size checked
// against the file, a chunk's data is read only when it lies wholly inside the file and under a
// caller's limit, and nothing recurses (callers descend into lists one level at a time).

#include "platform/avifile/PosixFile.h"
#include "platform/avifile/RiffBytes.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qdx::vfw {

struct RiffChunk {
    uint32_t id = 0;
    uint32_t size = 0;     // declared size of the data (for lists: form type and contents)
    uint32_t listType = 0; // the form type of a RIFF or LIST chunk, else 0
    int64_t offset = 0;    // offset of the 8-byte header

    bool isList() const { return id == riff::kList || id == riff::kRiff; }
    int64_t dataOffset() const { return offset + 8; }
    // Contents of a list, after its form type.
    int64_t listBegin() const { return offset + 12; }
    int64_t declaredEnd() const { return offset + 8 + int64_t(size); }
    // Where the next chunk starts (data padded to an even size).
    int64_t next() const { return offset + 8 + riff::padded(size); }
};

class RiffReader {
public:
    explicit RiffReader(const PosixFile& file);

    int64_t fileSize() const { return m_size; }
    bool read(int64_t offset, void* data, size_t length) const;

    // The chunk header at `offset` (with the form type of a list), when it lies inside the file
    // and before `limit`. The data may reach past the file end: callers check declaredEnd().
    std::optional<RiffChunk> chunkAt(int64_t offset, int64_t limit) const;

    // The data of a chunk, when it is wholly inside the file and no larger than `maxSize`.
    bool readData(const RiffChunk& chunk, std::vector<uint8_t>& out, size_t maxSize) const;

    // Calls `visit(chunk)` for each chunk from `begin` up to `end`, in order, until it returns
    // false or a header does not fit. A chunk whose declared size runs past `end` is still
    // visited (so a cut file shows what it has) and ends the walk.
    template <typename Visit>
    void forEach(int64_t begin, int64_t end, Visit&& visit) const {
        int64_t at = begin;
        while (at + 8 <= end) {
            const std::optional<RiffChunk> chunk = chunkAt(at, end);
            if (!chunk || !visit(*chunk))
                return;
            if (chunk->next() <= at)
                return;
            at = chunk->next();
        }
    }

private:
    const PosixFile& m_file;
    int64_t m_size;
};

} // namespace qdx::vfw
