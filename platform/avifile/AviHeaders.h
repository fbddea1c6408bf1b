#pragma once

// The fixed records of a RIFF AVI file: the main header (avih), the stream header (strh), the
// OpenDML indexes (indx super index, ix## standard index) and the chunk ids of samples.

#include "platform/avifile/AviRecords.h"

#include <cstdint>
#include <optional>

namespace qdx::vfw::avi {

constexpr uint32_t kAvihSize = 56;
constexpr uint32_t kStrhSize = 56;
constexpr uint32_t kDmlhSize = 248;
// Super index and standard index headers, after the 8-byte chunk header.
constexpr uint32_t kSuperIndexHeader = 24;
constexpr uint32_t kStdIndexHeader = 24;
constexpr uint32_t kSuperIndexEntry = 16;
constexpr uint32_t kStdIndexEntry = 8;
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
// In a standard index entry, this size bit marks a sample that is not a key frame.
constexpr uint32_t kNotKeyFrame = 0x80000000u;

constexpr uint32_t AVIF_HASINDEX = 0x00000010;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x00000100;
constexpr uint32_t AVIF_TRUSTCKTYPE = 0x00000800;

struct MainHeader {
    uint32_t microSecPerFrame = 0;
    uint32_t maxBytesPerSec = 0;
    uint32_t paddingGranularity = 0;
    uint32_t flags = 0;
    uint32_t totalFrames = 0;
    uint32_t initialFrames = 0;
    uint32_t streams = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Reads what the record holds; shorter records leave the missing fields 0.
MainHeader parseMainHeader(const uint8_t* data, size_t size);
void writeMainHeader(const MainHeader& header, uint8_t out[kAvihSize]);

// The stream header as the layer's record. Shorter records (without the frame rectangle) are
// accepted; name, length correction and capabilities are the caller's.
AVISTREAMINFO parseStreamHeader(const uint8_t* data, size_t size);
void writeStreamHeader(const AVISTREAMINFO& info, uint8_t out[kStrhSize]);

// The stream number of a sample chunk id "##xx" (two decimal digits, then the type), or -1 for
// other ids, palette changes ("##pc") included.
int streamOfChunk(uint32_t id);
// The id of a sample chunk of stream `stream` with the two-letter type.
uint32_t chunkId(int stream, const char type[2]);
// The id of the standard index chunk of a stream ("ix##").
uint32_t indexChunkId(int stream);

} // namespace qdx::vfw::avi
