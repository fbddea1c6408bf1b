#pragma once

// Writes a RIFF AVI file. The headers go first, when the first sample arrives (or at the end, for
// a film without samples), with room kept for the OpenDML super indexes and the extended header.
// Samples are appended into the movi list as "##db"/"##dc"/"##wb" chunks. While the file is below
// the OpenDML threshold it is a plain AVI 1.0 file that ends with an idx1 index. Past the
// threshold the first RIFF is closed with its idx1 (and ix## standard indexes), and the film goes
// on in "RIFF AVIX" extents, each with its ix## standard indexes; at the end the reserved room
// becomes the indx super indexes and the dmlh header. Lengths, buffer sizes and rates are patched
// into the headers in place at the end.
//
// flush() makes the file whole as it stands: it appends the indexes of the current part (idx1 in
// the first RIFF, ix## in an extent) and patches every size and header, so that a program killed
// afterwards leaves a film that every reader opens. The next sample cuts those provisional indexes
// off again and is written in their place.
//
// Every write error is kept and reported by every later call: nothing fails silently.

#include "platform/avifile/AppendWriter.h"
#include "platform/avifile/AviHeaders.h"
#include "platform/avifile/AviStreamData.h"

#include <vector>

namespace qdx::vfw {

class RiffAviWriter {
public:
    // Capacity of each stream's super index: that many standard indexes, one per stream and RIFF
    // part. Half of them serve extents of the threshold's size, the rest extents near the 4 GiB
    // limit of a RIFF, so that a film of terabytes still fits.
    static constexpr uint32_t kSuperIndexCapacity = 1024;
    // The largest RIFF part written: its size must fit in 32 bits.
    static constexpr int64_t kLargestPart = int64_t(0xFC000000);

    RiffAviWriter(PosixFile& file, std::vector<AviStreamData>& streams, int64_t threshold);
    RiffAviWriter(const RiffAviWriter&) = delete;
    RiffAviWriter& operator=(const RiffAviWriter&) = delete;

    HRESULT addStream(const AVISTREAMINFO& info);
    HRESULT setFormat(size_t stream, const void* format, LONG size);
    // Writes `samples` samples at `start` (negative: at the end). Positions skipped since the
    // last write stay empty chunks for one-chunk-per-sample streams and are filled with silence
    // for fixed-size sound, so every later sample keeps its position.
    HRESULT write(size_t stream, LONG start, LONG samples, const void* buffer, LONG bufferSize,
                  DWORD flags, LONG* samplesWritten, LONG* bytesWritten);
    // Puts samples, headers, sizes and indexes of everything written so far on disk.
    HRESULT flush();
    // Finishes the file (indexes, headers); called once when the file is closed.
    HRESULT finish();
    // Writes out buffered samples, so they can be read back from the file.
    bool flushBuffer() { return m_out.flush(); }

    avi::MainHeader mainHeader() const;
    AVISTREAMINFO streamHeader(size_t stream) const;
    // Whether the film went past the first RIFF into OpenDML extents.
    bool hasExtents() const { return m_extents; }

private:
    struct SuperEntry {
        int64_t offset;
        uint32_t size;
        uint32_t duration;
    };
    struct Layout {
        int64_t strhOffset = 0;
        int64_t indxOffset = 0; // the chunk header of the reserved room
        uint32_t chunkId = 0;
        uint32_t largestChunk = 0;
        size_t partFirstChunk = 0; // first chunk of the current RIFF part
        std::vector<SuperEntry> super;
    };

    HRESULT fail(HRESULT code = AVIERR_FILEWRITE);
    bool writeHeaders();
    bool makeRoom(int64_t chunkBytes);
    bool appendChunk(size_t stream, const void* data, uint32_t size, bool key);
    bool appendFill(size_t stream, int64_t count);
    bool writeStandardIndexes();
    bool writeIdx1();
    bool closeFirstRiff(bool withStandardIndexes);
    bool startExtent();
    bool closeExtent();
    bool patchPartSizes();
    bool dropFlushTail();
    bool patchHeaders();
    int64_t indexReserve() const;
    int64_t partLimit() const;
    int firstVideo() const;

    PosixFile& m_file;
    AppendWriter m_out;
    std::vector<AviStreamData>& m_streams;
    std::vector<Layout> m_layout;
    int64_t m_threshold;
    HRESULT m_error = AVIERR_OK;
    bool m_headersWritten = false;
    bool m_finished = false;
    bool m_extents = false;
    int64_t m_avihOffset = 0;
    int64_t m_odmlOffset = 0;
    int64_t m_partOffset = 0; // RIFF header of the current part
    int64_t m_moviOffset = 0; // LIST movi header of the current part
    uint32_t m_firstRiffFrames = 0;
    int64_t m_sampleBytes = 0;
    int64_t m_flushTail = -1;       // where the provisional indexes of the last flush begin
    std::vector<uint8_t> m_scratch; // index chunks are built here
};

// The size past which a written AVI continues in OpenDML "AVIX" extents (about 1 GiB). Tests set a
// small value to exercise the extents; 0 restores the default.
void setOpenDmlThreshold(int64_t bytes);
int64_t openDmlThreshold();

} // namespace qdx::vfw
