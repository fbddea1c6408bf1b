#pragma once

// Buffered appending to a file, with in-place patches of what was written before. The RIFF
// writers append chunks through it and rewrite their headers when sizes become known. The first
// failure sticks: every later call reports it, so no write error is lost.

#include "platform/avifile/PosixFile.h"

#include <cstdint>
#include <vector>

namespace qdx::vfw {

class AppendWriter {
public:
    explicit AppendWriter(PosixFile& file, int64_t start = 0, size_t bufferSize = 1 << 20);
    AppendWriter(const AppendWriter&) = delete;
    AppendWriter& operator=(const AppendWriter&) = delete;

    // The file offset the next append lands at.
    int64_t end() const { return m_end; }
    bool failed() const { return m_failed; }

    bool append(const void* data, size_t length);
    bool appendZeros(size_t length);
    // Overwrites bytes at `offset`; the range may reach into data still in the buffer, but not
    // past end().
    bool patch(int64_t offset, const void* data, size_t length);
    // Writes the buffer out.
    bool flush();
    // Moves the end back to `offset` (at most end()): what follows is written over.
    bool rewind(int64_t offset);

private:
    PosixFile& m_file;
    std::vector<uint8_t> m_buffer;
    size_t m_used = 0;
    int64_t m_bufferStart; // file offset of m_buffer[0]
    int64_t m_end;
    bool m_failed = false;
};

} // namespace qdx::vfw
