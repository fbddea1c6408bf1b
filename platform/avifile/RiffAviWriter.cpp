#include "platform/avifile/RiffAviWriter.h"

#include "platform/avifile/RiffBytes.h"
#include "platform/core/Dib.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace qdx::vfw {

using namespace riff;

namespace {

constexpr uint32_t kOdmlRoom = 4 + 8 + avi::kDmlhSize; // LIST odml contents
constexpr uint32_t kIndxRoom =
    avi::kSuperIndexHeader + avi::kSuperIndexEntry * RiffAviWriter::kSuperIndexCapacity;
// Skipped positions are filled up to these bounds; a larger jump is refused as a bad position.
constexpr int64_t kMostEmptyChunks = 10'000'000;
constexpr int64_t kMostSilenceBytes = int64_t(256) << 20;
constexpr int64_t kDefaultOpenDmlThreshold = int64_t(1000) * 1024 * 1024;
std::atomic<int64_t> dmlThreshold{0};

void appendHeader(std::vector<uint8_t>& out, uint32_t id, uint32_t size) {
    uint8_t h[8];
    put32(h, id);
    put32(h + 4, size);
    out.insert(out.end(), h, h + 8);
}

void append32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    put32(b, v);
    out.insert(out.end(), b, b + 4);
}

uint32_t clamp32(int64_t v) {
    return uint32_t(std::clamp<int64_t>(v, 0, UINT32_MAX));
}

} // namespace

RiffAviWriter::RiffAviWriter(PosixFile& file, std::vector<AviStreamData>& streams,
                             int64_t threshold)
    : m_file(file), m_out(file), m_streams(streams),
      m_threshold(std::clamp<int64_t>(threshold, 1, kLargestPart)) {}

HRESULT RiffAviWriter::fail(HRESULT code) {
    if (m_error == AVIERR_OK)
        m_error = code;
    return m_error;
}

int RiffAviWriter::firstVideo() const {
    for (size_t i = 0; i < m_streams.size(); ++i)
        if (m_streams[i].isVideo())
            return int(i);
    return -1;
}

HRESULT RiffAviWriter::addStream(const AVISTREAMINFO& info) {
    if (m_error != AVIERR_OK)
        return m_error;
    // Stream numbers are two digits in the chunk ids, and the header is laid out once.
    if (m_headersWritten || m_streams.size() >= 100)
        return AVIERR_UNSUPPORTED;
    AviStreamData stream;
    stream.info = info;
    stream.info.dwStart = 0;
    stream.info.dwLength = 0;
    const bool chunkPerSample = info.fccType == streamtypeVIDEO || info.dwSampleSize == 0;
    stream.samples = SampleTable(chunkPerSample ? 0 : info.dwSampleSize);
    m_streams.push_back(std::move(stream));
    m_layout.emplace_back();
    return AVIERR_OK;
}

HRESULT RiffAviWriter::setFormat(size_t stream, const void* format, LONG size) {
    if (m_error != AVIERR_OK)
        return m_error;
    if (size <= 0 || size > (1 << 20))
        return AVIERR_BADSIZE;
    const auto* bytes = static_cast<const uint8_t*>(format);
    std::vector<uint8_t>& current = m_streams[stream].format;
    if (m_headersWritten) {
        // The header is on disk already: only the same format can be set again.
        if (current.size() == size_t(size) &&
            std::memcmp(current.data(), bytes, current.size()) == 0)
            return AVIERR_OK;
        return AVIERR_UNSUPPORTED;
    }
    current.assign(bytes, bytes + size);
    // A video stream's handler names the compressor its format carries: a film recompressed
    // with the source's stream header must not keep naming the source's compressor.
    AVISTREAMINFO& info = m_streams[stream].info;
    if (info.fccType == streamtypeVIDEO && size_t(size) >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, bytes, sizeof header);
        const bool uncompressed =
            header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS;
        info.fccHandler = uncompressed ? 0 : header.biCompression;
    }
    return AVIERR_OK;
}

bool RiffAviWriter::writeHeaders() {
    std::vector<uint8_t> h;
    appendHeader(h, kRiff, 0);
    append32(h, fourcc("AVI "));
    const size_t hdrl = h.size();
    appendHeader(h, kList, 0);
    append32(h, fourcc("hdrl"));
    appendHeader(h, fourcc("avih"), avi::kAvihSize);
    m_avihOffset = int64_t(h.size());
    h.resize(h.size() + avi::kAvihSize);
    for (size_t s = 0; s < m_streams.size(); ++s) {
        AviStreamData& stream = m_streams[s];
        Layout& layout = m_layout[s];
        const size_t strl = h.size();
        appendHeader(h, kList, 0);
        append32(h, fourcc("strl"));
        appendHeader(h, fourcc("strh"), avi::kStrhSize);
        layout.strhOffset = int64_t(h.size());
        h.resize(h.size() + avi::kStrhSize);
        appendHeader(h, fourcc("strf"), uint32_t(stream.format.size()));
        h.insert(h.end(), stream.format.begin(), stream.format.end());
        if (stream.format.size() & 1)
            h.push_back(0);
        const size_t nameLength = strnlen(stream.info.szName, sizeof stream.info.szName);
        if (nameLength > 0) {
            appendHeader(h, fourcc("strn"), uint32_t(nameLength + 1));
            h.insert(h.end(), stream.info.szName, stream.info.szName + nameLength);
            h.push_back(0);
            if ((nameLength + 1) & 1)
                h.push_back(0);
        }
        layout.indxOffset = int64_t(h.size());
        appendHeader(h, kJunk, kIndxRoom);
        h.resize(h.size() + kIndxRoom);
        put32(h.data() + strl + 4, uint32_t(h.size() - strl - 8));

        const char* type = "dc";
        if (stream.info.fccType == streamtypeAUDIO)
            type = "wb";
        else if (stream.info.fccType == streamtypeTEXT)
            type = "tx";
        else if (stream.isUncompressedVideo())
            type = "db";
        layout.chunkId = avi::chunkId(int(s), type);
    }
    m_odmlOffset = int64_t(h.size());
    appendHeader(h, kJunk, kOdmlRoom);
    h.resize(h.size() + kOdmlRoom);
    put32(h.data() + hdrl + 4, uint32_t(h.size() - hdrl - 8));
    m_partOffset = 0;
    m_moviOffset = int64_t(h.size());
    appendHeader(h, kList, 4);
    append32(h, fourcc("movi"));
    put32(h.data() + 4, uint32_t(h.size() - 8));
    m_headersWritten = true;
    if (!m_out.append(h.data(), h.size()))
        return false;
    return patchHeaders();
}

int64_t RiffAviWriter::indexReserve() const {
    // Standard indexes of the current part, plus idx1 while in the first RIFF.
    int64_t bytes = 0;
    int64_t chunks = 0;
    for (size_t s = 0; s < m_streams.size(); ++s) {
        const int64_t n = int64_t(m_streams[s].samples.chunkCount() - m_layout[s].partFirstChunk);
        bytes += 8 + avi::kStdIndexHeader + avi::kStdIndexEntry * (n + 1);
        chunks += n + 1;
    }
    if (!m_extents)
        bytes += 8 + 16 * chunks;
    return bytes;
}

int64_t RiffAviWriter::partLimit() const {
    size_t used = 0;
    for (const Layout& l : m_layout)
        used = std::max(used, l.super.size());
    return used < kSuperIndexCapacity / 2 ? m_threshold : kLargestPart;
}

bool RiffAviWriter::dropFlushTail() {
    if (m_flushTail < 0)
        return true;
    const int64_t tail = m_flushTail;
    m_flushTail = -1;
    // Cut off rather than written over: a program killed before the next flush must not leave
    // index entries behind the last sample that a scan could take for samples.
    return m_out.rewind(tail) && m_file.truncate(tail);
}

bool RiffAviWriter::makeRoom(int64_t chunkBytes) {
    if (!m_headersWritten && !writeHeaders())
        return false;
    if (!dropFlushTail())
        return false;
    bool partEmpty = true;
    for (size_t s = 0; s < m_streams.size(); ++s)
        if (m_streams[s].samples.chunkCount() > m_layout[s].partFirstChunk)
            partEmpty = false;
    const int64_t projected = m_out.end() + chunkBytes + indexReserve() - m_partOffset;
    if (partEmpty || projected <= partLimit())
        return true;
    for (const Layout& l : m_layout) {
        if (l.super.size() + 1 >= kSuperIndexCapacity) {
            // No room for another standard index: the part grows to the largest a RIFF holds.
            if (projected <= kLargestPart)
                return true;
            fail();
            return false;
        }
    }
    if (!m_extents ? !closeFirstRiff(true) : !closeExtent())
        return false;
    return startExtent();
}

bool RiffAviWriter::appendChunk(size_t stream, const void* data, uint32_t size, bool key) {
    if (!makeRoom(8 + padded(size)))
        return false;
    Layout& layout = m_layout[stream];
    uint8_t header[8];
    put32(header, layout.chunkId);
    put32(header + 4, size);
    if (!m_out.append(header, 8))
        return false;
    const int64_t offset = m_out.end();
    if (size > 0 && !m_out.append(data, size))
        return false;
    if ((size & 1) && !m_out.appendZeros(1))
        return false;
    m_streams[stream].samples.append(offset, size, key);
    layout.largestChunk = std::max(layout.largestChunk, size);
    m_sampleBytes += size;
    return true;
}

bool RiffAviWriter::appendFill(size_t stream, int64_t count) {
    AviStreamData& s = m_streams[stream];
    const uint32_t sampleSize = s.samples.sampleSize();
    if (sampleSize == 0) {
        for (int64_t i = 0; i < count; ++i)
            if (!appendChunk(stream, nullptr, 0, false))
                return false;
        return true;
    }
    // Silence, in chunks of at most 1 MiB.
    const int64_t bytes = count * sampleSize;
    const int64_t piece = std::max<int64_t>(sampleSize, ((1 << 20) / sampleSize) * sampleSize);
    std::vector<uint8_t> silence(size_t(std::min(bytes, piece)), s.silence());
    for (int64_t done = 0; done < bytes;) {
        const int64_t n = std::min<int64_t>(bytes - done, int64_t(silence.size()));
        if (!appendChunk(stream, silence.data(), uint32_t(n), true))
            return false;
        done += n;
    }
    return true;
}

HRESULT RiffAviWriter::write(size_t stream, LONG start, LONG samples, const void* buffer,
                             LONG bufferSize, DWORD flags, LONG* samplesWritten,
                             LONG* bytesWritten) {
    if (m_error != AVIERR_OK)
        return m_error;
    if (m_finished)
        return AVIERR_UNSUPPORTED;
    AviStreamData& s = m_streams[stream];
    const int64_t length = s.samples.length();
    const int64_t position = start < 0 ? length : int64_t(start);
    if (position < length)
        return AVIERR_BADPARAM; // samples are appended; what is written stays
    const uint32_t sampleSize = s.samples.sampleSize();
    const int64_t gap = position - length;
    if (sampleSize == 0 ? gap > kMostEmptyChunks : gap * int64_t(sampleSize) > kMostSilenceBytes)
        return AVIERR_BADPARAM;

    int64_t count = 0;
    int64_t bytes = 0;
    if (sampleSize == 0) {
        if (samples > 0) {
            count = 1; // one chunk holds the sample
            bytes = bufferSize;
        }
    } else {
        // Only whole samples that the count names and the buffer holds are stored.
        count = std::min<int64_t>(samples, bufferSize / sampleSize);
        count = std::max<int64_t>(count, 0);
        bytes = count * sampleSize;
    }
    if (gap > 0 && !appendFill(stream, gap))
        return fail();
    if (count > 0) {
        const bool key = sampleSize > 0 || (flags & AVIIF_KEYFRAME) != 0;
        if (!appendChunk(stream, buffer, uint32_t(bytes), key))
            return fail();
    }
    if (samplesWritten)
        *samplesWritten = LONG(count);
    if (bytesWritten)
        *bytesWritten = LONG(bytes);
    return AVIERR_OK;
}

bool RiffAviWriter::writeStandardIndexes() {
    for (size_t s = 0; s < m_streams.size(); ++s) {
        Layout& layout = m_layout[s];
        const SampleTable& table = m_streams[s].samples;
        const size_t first = layout.partFirstChunk;
        const size_t n = table.chunkCount() - first;
        if (n == 0)
            continue;
        if (layout.super.size() >= kSuperIndexCapacity) {
            fail();
            return false;
        }
        const int64_t base = m_moviOffset;
        const uint32_t size = avi::kStdIndexHeader + avi::kStdIndexEntry * uint32_t(n);
        m_scratch.assign(8 + size_t(size), 0);
        uint8_t* p = m_scratch.data();
        put32(p, avi::indexChunkId(int(s)));
        put32(p + 4, size);
        put16(p + 8, 2);
        p[10] = 0;
        p[11] = avi::kIndexOfChunks;
        put32(p + 12, uint32_t(n));
        put32(p + 16, layout.chunkId);
        put64(p + 20, uint64_t(base));
        int64_t bytes = 0;
        for (size_t i = 0; i < n; ++i) {
            const SampleChunk& c = table.chunk(first + i);
            uint8_t* e = p + 32 + i * avi::kStdIndexEntry;
            put32(e, uint32_t(c.offset - base));
            put32(e + 4, c.size | (c.key ? 0 : avi::kNotKeyFrame));
            bytes += c.size;
        }
        const int64_t offset = m_out.end();
        if (!m_out.append(m_scratch.data(), m_scratch.size()))
            return false;
        const uint32_t duration =
            table.sampleSize() > 0 ? clamp32(bytes / table.sampleSize()) : uint32_t(n);
        layout.super.push_back({offset, 8 + size, duration});
        layout.partFirstChunk = table.chunkCount();
    }
    return true;
}

bool RiffAviWriter::writeIdx1() {
    // Every chunk of the first RIFF, in file order: the streams' tables merged by offset.
    size_t total = 0;
    for (const AviStreamData& s : m_streams)
        total += s.samples.chunkCount();
    const int64_t moviForm = m_moviOffset + 8;
    uint8_t header[8];
    put32(header, fourcc("idx1"));
    put32(header + 4, clamp32(int64_t(total) * 16));
    if (!m_out.append(header, 8))
        return false;
    std::vector<size_t> next(m_streams.size(), 0);
    m_scratch.clear();
    m_scratch.reserve(16 * 4096);
    for (size_t written = 0; written < total; ++written) {
        size_t pick = 0;
        int64_t best = INT64_MAX;
        for (size_t s = 0; s < m_streams.size(); ++s) {
            const SampleTable& t = m_streams[s].samples;
            if (next[s] < t.chunkCount() && t.chunk(next[s]).offset < best) {
                best = t.chunk(next[s]).offset;
                pick = s;
            }
        }
        const SampleChunk& c = m_streams[pick].samples.chunk(next[pick]++);
        uint8_t e[16];
        put32(e, m_layout[pick].chunkId);
        put32(e + 4, c.key ? AVIIF_KEYFRAME : 0);
        put32(e + 8, uint32_t(c.offset - 8 - moviForm));
        put32(e + 12, c.size);
        m_scratch.insert(m_scratch.end(), e, e + 16);
        if (m_scratch.size() >= 16 * 4096) {
            if (!m_out.append(m_scratch.data(), m_scratch.size()))
                return false;
            m_scratch.clear();
        }
    }
    return m_out.append(m_scratch.data(), m_scratch.size());
}

bool RiffAviWriter::closeFirstRiff(bool withStandardIndexes) {
    if (withStandardIndexes && !writeStandardIndexes())
        return false;
    uint8_t size[4];
    put32(size, clamp32(m_out.end() - m_moviOffset - 8));
    if (!m_out.patch(m_moviOffset + 4, size, 4))
        return false;
    const int v = firstVideo();
    m_firstRiffFrames = v < 0 ? 0 : clamp32(int64_t(m_streams[size_t(v)].samples.chunkCount()));
    if (!writeIdx1())
        return false;
    put32(size, clamp32(m_out.end() - 8));
    return m_out.patch(4, size, 4);
}

bool RiffAviWriter::startExtent() {
    m_extents = true;
    m_partOffset = m_out.end();
    m_moviOffset = m_partOffset + 12;
    uint8_t h[24];
    put32(h, kRiff);
    put32(h + 4, 16);
    put32(h + 8, fourcc("AVIX"));
    put32(h + 12, kList);
    put32(h + 16, 4);
    put32(h + 20, fourcc("movi"));
    for (size_t s = 0; s < m_streams.size(); ++s)
        m_layout[s].partFirstChunk = m_streams[s].samples.chunkCount();
    return m_out.append(h, sizeof h);
}

bool RiffAviWriter::closeExtent() {
    return writeStandardIndexes() && patchPartSizes();
}

bool RiffAviWriter::patchPartSizes() {
    uint8_t size[4];
    put32(size, clamp32(m_out.end() - m_moviOffset - 8));
    if (!m_out.patch(m_moviOffset + 4, size, 4))
        return false;
    put32(size, clamp32(m_out.end() - m_partOffset - 8));
    return m_out.patch(m_partOffset + 4, size, 4);
}

avi::MainHeader RiffAviWriter::mainHeader() const {
    avi::MainHeader h;
    h.flags = avi::AVIF_HASINDEX;
    h.streams = uint32_t(m_streams.size());
    double seconds = 0;
    for (size_t s = 0; s < m_streams.size(); ++s) {
        const AviStreamData& stream = m_streams[s];
        h.suggestedBufferSize = std::max(h.suggestedBufferSize, m_layout[s].largestChunk);
        if (stream.info.dwRate > 0)
            seconds = std::max(seconds, double(stream.samples.length()) * stream.info.dwScale /
                                            stream.info.dwRate);
    }
    if (seconds > 0)
        h.maxBytesPerSec = clamp32(int64_t(std::ceil(double(m_sampleBytes) / seconds)));
    const int v = firstVideo();
    if (v >= 0) {
        const AviStreamData& video = m_streams[size_t(v)];
        if (video.info.dwRate > 0)
            h.microSecPerFrame =
                clamp32(std::llround(1e6 * double(video.info.dwScale) / video.info.dwRate));
        h.totalFrames =
            m_extents ? m_firstRiffFrames : clamp32(int64_t(video.samples.chunkCount()));
        if (video.format.size() >= sizeof(BITMAPINFOHEADER)) {
            const int32_t width = int32_t(u32(video.format.data() + 4));
            const int32_t height = int32_t(u32(video.format.data() + 8));
            h.width = uint32_t(std::abs(int64_t(width)));
            h.height = uint32_t(std::abs(int64_t(height)));
        } else {
            h.width =
                uint32_t(std::max<LONG>(0, video.info.rcFrame.right - video.info.rcFrame.left));
            h.height =
                uint32_t(std::max<LONG>(0, video.info.rcFrame.bottom - video.info.rcFrame.top));
        }
    }
    return h;
}

AVISTREAMINFO RiffAviWriter::streamHeader(size_t stream) const {
    const AviStreamData& s = m_streams[stream];
    AVISTREAMINFO info = s.info;
    info.dwStart = 0;
    info.dwInitialFrames = 0;
    info.dwLength = clamp32(s.samples.length());
    if (s.samples.chunkCount() > 0)
        info.dwSuggestedBufferSize = m_layout[stream].largestChunk;
    if (s.isVideo()) {
        info.dwSampleSize = 0; // one frame per chunk
        const RECT& r = info.rcFrame;
        if (r.right <= r.left && r.bottom <= r.top && s.format.size() >= sizeof(BITMAPINFOHEADER)) {
            info.rcFrame.left = 0;
            info.rcFrame.top = 0;
            info.rcFrame.right = LONG(std::abs(int64_t(int32_t(u32(s.format.data() + 4)))));
            info.rcFrame.bottom = LONG(std::abs(int64_t(int32_t(u32(s.format.data() + 8)))));
        }
    }
    // The record stores the rectangle in 16-bit fields.
    auto fit = [](LONG v) {
        return std::clamp<LONG>(v, INT16_MIN, INT16_MAX);
    };
    info.rcFrame = {fit(info.rcFrame.left), fit(info.rcFrame.top), fit(info.rcFrame.right),
                    fit(info.rcFrame.bottom)};
    return info;
}

bool RiffAviWriter::patchHeaders() {
    uint8_t record[avi::kStrhSize];
    avi::writeMainHeader(mainHeader(), record);
    if (!m_out.patch(m_avihOffset, record, avi::kAvihSize))
        return false;
    for (size_t s = 0; s < m_streams.size(); ++s) {
        avi::writeStreamHeader(streamHeader(s), record);
        if (!m_out.patch(m_layout[s].strhOffset, record, avi::kStrhSize))
            return false;
    }
    if (!m_extents)
        return true;
    for (size_t s = 0; s < m_streams.size(); ++s) {
        const Layout& layout = m_layout[s];
        m_scratch.assign(8 + avi::kSuperIndexHeader + avi::kSuperIndexEntry * layout.super.size(),
                         0);
        uint8_t* p = m_scratch.data();
        put32(p, fourcc("indx"));
        put32(p + 4, kIndxRoom);
        put16(p + 8, 4);
        p[10] = 0;
        p[11] = avi::kIndexOfIndexes;
        put32(p + 12, uint32_t(layout.super.size()));
        put32(p + 16, layout.chunkId);
        for (size_t i = 0; i < layout.super.size(); ++i) {
            uint8_t* e = p + 32 + i * avi::kSuperIndexEntry;
            put64(e, uint64_t(layout.super[i].offset));
            put32(e + 8, layout.super[i].size);
            put32(e + 12, layout.super[i].duration);
        }
        if (!m_out.patch(layout.indxOffset, m_scratch.data(), m_scratch.size()))
            return false;
    }
    uint8_t odml[8 + 12 + 4];
    put32(odml, kList);
    put32(odml + 4, kOdmlRoom);
    put32(odml + 8, fourcc("odml"));
    put32(odml + 12, fourcc("dmlh"));
    put32(odml + 16, avi::kDmlhSize);
    const int v = firstVideo();
    put32(odml + 20, v < 0 ? 0 : clamp32(int64_t(m_streams[size_t(v)].samples.chunkCount())));
    return m_out.patch(m_odmlOffset, odml, sizeof odml);
}

HRESULT RiffAviWriter::flush() {
    if (m_error != AVIERR_OK)
        return m_error;
    if (m_finished)
        return AVIERR_OK;
    if (!m_headersWritten)
        return AVIERR_OK; // nothing on disk yet
    if (!dropFlushTail())
        return fail();
    const int64_t tail = m_out.end();
    bool ok;
    if (!m_extents) {
        // The first RIFF as it would be closed: movi, then idx1.
        uint8_t size[4];
        put32(size, clamp32(tail - m_moviOffset - 8));
        ok = m_out.patch(m_moviOffset + 4, size, 4) && writeIdx1();
        put32(size, clamp32(m_out.end() - 8));
        ok = ok && m_out.patch(4, size, 4) && patchHeaders();
    } else {
        // The current extent with standard indexes of its samples so far; they and their super
        // index entries are taken back afterwards, the entries stay on disk until overwritten.
        std::vector<size_t> superSizes;
        std::vector<size_t> partFirst;
        for (const Layout& l : m_layout) {
            superSizes.push_back(l.super.size());
            partFirst.push_back(l.partFirstChunk);
        }
        ok = writeStandardIndexes() && patchPartSizes() && patchHeaders();
        for (size_t s = 0; s < m_layout.size(); ++s) {
            m_layout[s].super.resize(superSizes[s]);
            m_layout[s].partFirstChunk = partFirst[s];
        }
    }
    if (!ok || !m_out.flush())
        return fail();
    m_flushTail = tail;
    return AVIERR_OK;
}

HRESULT RiffAviWriter::finish() {
    if (m_finished)
        return m_error;
    m_finished = true;
    if (m_error != AVIERR_OK)
        return m_error;
    if (!m_headersWritten && !writeHeaders())
        return fail();
    if (!dropFlushTail())
        return fail();
    const bool closed = m_extents ? closeExtent() : closeFirstRiff(false);
    if (!closed || !patchHeaders() || !m_out.flush() || !m_file.truncate(m_out.end()))
        return fail();
    return AVIERR_OK;
}

void setOpenDmlThreshold(int64_t bytes) {
    dmlThreshold = bytes;
}

int64_t openDmlThreshold() {
    const int64_t v = dmlThreshold.load();
    return v > 0 ? v : kDefaultOpenDmlThreshold;
}

} // namespace qdx::vfw
