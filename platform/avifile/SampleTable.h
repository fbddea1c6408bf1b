#pragma once

// Where the samples of one stream lie in its file. Streams whose samples have a fixed size
// (PCM sound: blocks of nBlockAlign bytes) count samples in bytes across their chunks; the others
// (video, variable-rate sound) have one chunk per sample. Sample numbers here start at 0; the
// stream adds its start.

#include "platform/avifile/AviRecords.h"
#include "platform/avifile/PosixFile.h"

#include <cstdint>
#include <vector>

namespace qdx::vfw {

struct SampleChunk {
    int64_t offset = 0; // of the data, after the chunk header
    uint32_t size = 0;
    bool key = false;
};

class SampleTable {
public:
    // `sampleSize` 0: one chunk per sample.
    explicit SampleTable(uint32_t sampleSize = 0) : m_sampleSize(sampleSize) {}

    uint32_t sampleSize() const { return m_sampleSize; }
    void reserve(size_t chunks);
    void append(int64_t offset, uint32_t size, bool key);
    void clear();

    size_t chunkCount() const { return m_chunks.size(); }
    const SampleChunk& chunk(size_t i) const { return m_chunks[i]; }
    const std::vector<SampleChunk>& chunks() const { return m_chunks; }
    int64_t totalBytes() const { return m_totalBytes; }
    // The end of the furthest chunk data in the file.
    int64_t furthestEnd() const { return m_furthestEnd; }

    // Samples in the stream, at most INT32_MAX.
    int64_t length() const;
    bool isKey(int64_t sample) const;
    // The nearest key sample at or before (forward: at or after) `sample`; -1 when none.
    int64_t findKey(int64_t sample, bool forward) const;
    // The nearest non-empty sample in that direction; -1 when none.
    int64_t findNonEmpty(int64_t sample, bool forward) const;
    // AVIStreamFindSample on this table: FIND_KEY, FIND_ANY (a sample that is not empty),
    // FIND_FORMAT (the one format, at 0) or any sample, searching FIND_PREV (at or before),
    // FIND_NEXT (at or after, the default) or FIND_FROM_START. -1 when there is none.
    int64_t find(int64_t sample, LONG flags) const;

    // Reads `count` samples from `first` (count -1: what is convenient, the rest of one chunk)
    // into `buffer`, or with no buffer only reports the sizes. Reading at or past the end gives
    // no samples; a buffer too small for one sample gives AVIERR_BUFFERTOOSMALL with the size
    // needed in *bytesRead.
    HRESULT read(const PosixFile& file, int64_t first, int64_t count, void* buffer,
                 int64_t bufferSize, LONG* bytesRead, LONG* samplesRead) const;

private:
    size_t chunkOfByte(int64_t byte) const;

    uint32_t m_sampleSize;
    std::vector<SampleChunk> m_chunks;
    std::vector<int64_t> m_byteStart; // fixed-size samples: bytes before each chunk
    std::vector<int32_t> m_keys;      // one chunk per sample: key chunk numbers, ascending
    int64_t m_totalBytes = 0;
    int64_t m_furthestEnd = 0;
};

} // namespace qdx::vfw
