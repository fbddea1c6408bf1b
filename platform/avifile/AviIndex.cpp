#include "platform/avifile/AviIndex.h"

#include "platform/avifile/AviHeaders.h"

#include <algorithm>

namespace qdx::vfw {

using namespace riff;

namespace {

constexpr uint32_t kIndexPrefix = uint32_t('i') | (uint32_t('x') << 8);

// Whether a sample found by scanning (no index says) starts a picture of its own.
bool scannedIsKey(const AviStreamData& stream, uint32_t id) {
    if (!stream.isVideo() || stream.samples.chunkCount() == 0)
        return true;
    if (((id >> 16) & 0xFF) == 'd' && (id >> 24) == 'b')
        return true; // "##db": uncompressed frame
    if (stream.isUncompressedVideo())
        return true;
    // Codecs whose every frame is a picture on its own.
    static const FOURCC intraOnly[] = {
        mmioFOURCC('M', 'J', 'P', 'G'), mmioFOURCC('m', 'j', 'p', 'g'),
        mmioFOURCC('A', 'V', 'R', 'n'), mmioFOURCC('L', 'J', 'P', 'G'),
        mmioFOURCC('d', 'm', 'b', '1')};
    uint32_t compression = 0;
    if (stream.format.size() >= 20)
        compression = u32(stream.format.data() + 16);
    for (FOURCC f : intraOnly)
        if (stream.info.fccHandler == f || compression == f)
            return true;
    return false;
}

// Samples of one standard index (an "ix##" chunk, or an indx chunk that is itself one).
// `header` holds at least the 24 bytes after the chunk header.
bool readStandardIndex(const RiffReader& reader, const uint8_t* header, int64_t entriesOffset,
                       uint32_t entriesBytes, SampleTable& table, int64_t& budget) {
    const uint16_t longsPerEntry = u16(header);
    const uint8_t type = header[3];
    const uint32_t count = u32(header + 4);
    const int64_t base = int64_t(u64(header + 12));
    if (type != avi::kIndexOfChunks || longsPerEntry < 2 || base < 0 || base > reader.fileSize())
        return false;
    const uint32_t entrySize = uint32_t(longsPerEntry) * 4;
    if (count > entriesBytes / entrySize)
        return false;
    if (int64_t(count) > budget)
        return false;
    budget -= count;
    std::vector<uint8_t> entries(size_t(count) * entrySize);
    if (count > 0 && !reader.read(entriesOffset, entries.data(), entries.size()))
        return false;
    table.reserve(table.chunkCount() + count);
    const int64_t fileSize = reader.fileSize();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = entries.data() + size_t(i) * entrySize;
        const int64_t offset = base + int64_t(u32(e));
        const uint32_t raw = u32(e + 4);
        const uint32_t size = raw & ~avi::kNotKeyFrame;
        if (offset < 8 || offset + int64_t(size) > fileSize)
            continue; // points outside the file: the file was cut there
        table.append(offset, size, (raw & avi::kNotKeyFrame) == 0);
    }
    return true;
}

} // namespace

bool AviIndex::fromOpenDml(const RiffReader& reader, std::vector<AviStreamData>& streams) {
    // Every real index entry takes 8 bytes of the file, so more entries than that means index
    // chunks counted twice: such an index is refused rather than filling memory.
    int64_t budget = reader.fileSize() / 8 + 16;
    size_t total = 0;
    for (AviStreamData& s : streams) {
        if (s.indx.size() < avi::kSuperIndexHeader)
            return false;
    }
    for (AviStreamData& s : streams) {
        const uint8_t* h = s.indx.data();
        const uint16_t longsPerEntry = u16(h);
        const uint8_t type = h[3];
        const uint32_t count = u32(h + 4);
        if (type == avi::kIndexOfChunks) {
            // A standard index kept in the stream header itself: its entries follow here.
            const uint32_t entrySize = uint32_t(std::max<uint16_t>(longsPerEntry, 2)) * 4;
            const int64_t base = int64_t(u64(h + 12));
            if (longsPerEntry < 2 || count > (s.indx.size() - 24) / entrySize || base < 0 ||
                base > reader.fileSize())
                return false;
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* e = h + 24 + size_t(i) * entrySize;
                const int64_t offset = base + int64_t(u32(e));
                const uint32_t raw = u32(e + 4);
                const uint32_t size = raw & ~avi::kNotKeyFrame;
                if (offset < 8 || offset + int64_t(size) > reader.fileSize())
                    continue;
                s.samples.append(offset, size, (raw & avi::kNotKeyFrame) == 0);
            }
            total += s.samples.chunkCount();
            continue;
        }
        if (type != avi::kIndexOfIndexes || longsPerEntry != 4)
            return false;
        if (count > (s.indx.size() - avi::kSuperIndexHeader) / avi::kSuperIndexEntry)
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = h + avi::kSuperIndexHeader + size_t(i) * avi::kSuperIndexEntry;
            const int64_t at = int64_t(u64(e));
            // An entry whose chunk is not there (the file was cut, or a flush's provisional index
            // was written over by later samples) is left out: scanning finds those samples.
            const std::optional<RiffChunk> chunk = reader.chunkAt(at, reader.fileSize());
            if (!chunk || (chunk->id & 0xFFFF) != kIndexPrefix ||
                chunk->size < avi::kStdIndexHeader)
                continue;
            uint8_t header[avi::kStdIndexHeader];
            if (!reader.read(chunk->dataOffset(), header, sizeof header))
                continue;
            const int owner = avi::streamOfChunk(u32(header + 8));
            if (owner >= 0 && size_t(owner) != size_t(&s - streams.data()))
                continue;
            const int64_t entriesOffset = chunk->dataOffset() + avi::kStdIndexHeader;
            const int64_t available =
                std::min<int64_t>(chunk->declaredEnd(), reader.fileSize()) - entriesOffset;
            if (!readStandardIndex(reader, header, entriesOffset, uint32_t(available), s.samples,
                                   budget))
                return false;
        }
        total += s.samples.chunkCount();
    }
    return total > 0;
}

bool AviIndex::fromIdx1(const RiffReader& reader, std::vector<AviStreamData>& streams,
                        const std::vector<MoviList>& movi, const RiffChunk& idx1) {
    const int64_t fileSize = reader.fileSize();
    const int64_t end = std::min(idx1.declaredEnd(), fileSize);
    const int64_t count = std::max<int64_t>(0, (end - idx1.dataOffset()) / 16);
    if (count == 0 || movi.empty())
        return false;
    const int streamCount = int(streams.size());

    constexpr int64_t kBlock = 65536; // entries read at a time
    std::vector<uint8_t> block;
    int64_t base = -1;
    for (int64_t first = 0; first < count; first += kBlock) {
        const int64_t n = std::min(kBlock, count - first);
        block.resize(size_t(n) * 16);
        if (!reader.read(idx1.dataOffset() + first * 16, block.data(), block.size()))
            return first > 0;
        for (int64_t i = 0; i < n; ++i) {
            const uint8_t* e = block.data() + size_t(i) * 16;
            const uint32_t id = u32(e);
            const uint32_t flags = u32(e + 4);
            const int stream = avi::streamOfChunk(id);
            if (stream < 0 || stream >= streamCount || (flags & AVIIF_LIST))
                continue;
            const int64_t offset = int64_t(u32(e + 8));
            const uint32_t size = u32(e + 12);
            if (base < 0) {
                // The first sample entry tells whether offsets count from the movi list or from
                // the start of the file: the chunk it names must be found there.
                for (int64_t candidate : {movi.front().formOffset, int64_t(0)}) {
                    uint8_t found[4];
                    if (reader.read(candidate + offset, found, 4) && u32(found) == id) {
                        base = candidate;
                        break;
                    }
                }
                if (base < 0)
                    return false;
                for (AviStreamData& s : streams)
                    s.samples.reserve(size_t(count / std::max(1, streamCount)));
            }
            const int64_t data = base + offset + 8;
            if (data + int64_t(size) > fileSize)
                continue; // cut off with the end of the file
            streams[size_t(stream)].samples.append(data, size, (flags & AVIIF_KEYFRAME) != 0);
        }
    }
    return base >= 0;
}

void AviIndex::scanFrom(const RiffReader& reader, std::vector<AviStreamData>& streams,
                        const std::vector<MoviList>& movi, int64_t from) {
    const int64_t fileSize = reader.fileSize();
    const int streamCount = int(streams.size());
    from += from & 1;
    for (size_t l = 0; l < movi.size(); ++l) {
        const MoviList& list = movi[l];
        const bool last = l + 1 == movi.size();
        // The last list may run past its declared size: a writer that was stopped never
        // patched it.
        const int64_t limit = last ? fileSize : list.end;
        if (limit <= from)
            continue;
        int64_t at = std::max(from, list.begin);
        while (at + 8 <= limit) {
            const std::optional<RiffChunk> chunk = reader.chunkAt(at, limit);
            if (!chunk)
                break;
            const bool declared = at < list.end;
            if (chunk->id == kList) {
                // "rec " groups are walked through flat; other lists are skipped.
                if (chunk->listType == fourcc("rec ")) {
                    at = chunk->listBegin();
                    continue;
                }
                if (!declared)
                    break;
                at = chunk->next();
                continue;
            }
            const int stream = avi::streamOfChunk(chunk->id);
            if (stream >= 0 && stream < streamCount) {
                if (chunk->declaredEnd() > fileSize)
                    break; // the sample the file was cut in
                AviStreamData& s = streams[size_t(stream)];
                s.samples.append(chunk->dataOffset(), chunk->size, scannedIsKey(s, chunk->id));
            } else if (!declared && chunk->id != kJunk && (chunk->id & 0xFFFF) != kIndexPrefix) {
                break; // past the declared end only samples, padding and indexes continue it
            }
            at = chunk->next();
        }
    }
}

AviIndex::Source AviIndex::build(const RiffReader& reader, std::vector<AviStreamData>& streams,
                                 const std::vector<MoviList>& movi,
                                 const std::optional<RiffChunk>& idx1) {
    auto reset = [&] {
        for (AviStreamData& s : streams)
            s.samples.clear();
    };
    Source source = Source::Scan;
    if (!streams.empty() && fromOpenDml(reader, streams)) {
        source = Source::OpenDml;
    } else {
        reset();
        if (idx1 && fromIdx1(reader, streams, movi, *idx1))
            source = Source::Idx1;
        else
            reset();
    }
    if (movi.empty())
        return source == Source::Scan ? Source::None : source;
    int64_t indexedEnd = 0;
    for (const AviStreamData& s : streams)
        indexedEnd = std::max(indexedEnd, s.samples.furthestEnd());
    scanFrom(reader, streams, movi, indexedEnd);
    return source;
}

} // namespace qdx::vfw
