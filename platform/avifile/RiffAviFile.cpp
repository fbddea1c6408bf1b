#include "platform/avifile/RiffAviFile.h"

#include "platform/avifile/RiffAviStream.h"
#include "platform/avifile/RiffAviWriter.h"
#include "platform/avifile/RiffReader.h"
#include "platform/core/Dib.h"

#include <algorithm>
#include <cstring>

namespace qdx::vfw {

using namespace riff;

namespace {

// Limits on header chunks: far above what any real file holds, low enough that a hostile size
// cannot make the reader allocate much.
constexpr size_t kMostHeaderBytes = 4096;
constexpr size_t kMostFormatBytes = 1 << 20;
constexpr size_t kMostIndexBytes = 64 << 20;
constexpr size_t kMostStreams = 100;

HRESULT openError(PosixFile::OpenError error) {
    return error == PosixFile::OpenError::None ? AVIERR_OK : AVIERR_FILEOPEN;
}

} // namespace

RiffAviFile::RiffAviFile() = default;

RiffAviFile::~RiffAviFile() {
    if (m_writer)
        m_writer->finish(); // the error, if any, was reported by the calls that met it or flush()
}

HRESULT RiffAviFile::open(const QString& path, UINT mode, AviFile** out) {
    std::unique_ptr<RiffAviFile, void (*)(RiffAviFile*)> file(new RiffAviFile,
                                                              [](RiffAviFile* f) { f->release(); });
    if (mode & OF_CREATE) {
        const HRESULT hr = openError(file->m_file.create(path, (mode & OF_SHARE_EXCLUSIVE) != 0));
        if (hr != AVIERR_OK)
            return hr;
        file->m_writer =
            std::make_unique<RiffAviWriter>(file->m_file, file->m_streams, openDmlThreshold());
    } else {
        const bool writable = (mode & (OF_WRITE | OF_READWRITE)) != 0;
        HRESULT hr = openError(file->m_file.openExisting(path, writable));
        if (hr != AVIERR_OK)
            return hr;
        hr = file->load();
        if (hr != AVIERR_OK)
            return hr;
    }
    *out = file.release();
    return AVIERR_OK;
}

HRESULT RiffAviFile::loadHeaderList(const RiffReader& reader, int64_t begin, int64_t end) {
    bool haveMain = false;
    HRESULT result = AVIERR_OK;
    std::vector<uint8_t> data;
    reader.forEach(begin, end, [&](const RiffChunk& chunk) {
        if (chunk.id == fourcc("avih")) {
            if (!reader.readData(chunk, data, kMostHeaderBytes)) {
                result = AVIERR_BADFORMAT;
                return false;
            }
            m_main = avi::parseMainHeader(data.data(), data.size());
            haveMain = true;
        } else if (chunk.id == kList && chunk.listType == fourcc("strl")) {
            if (m_streams.size() >= kMostStreams) {
                result = AVIERR_BADFORMAT;
                return false;
            }
            AviStreamData stream;
            bool haveHeader = false;
            const int64_t listEnd = std::min(chunk.declaredEnd(), end);
            reader.forEach(chunk.listBegin(), listEnd, [&](const RiffChunk& part) {
                if (part.id == fourcc("strh")) {
                    if (!reader.readData(part, data, kMostHeaderBytes) || data.size() < 48)
                        return false;
                    stream.info = avi::parseStreamHeader(data.data(), data.size());
                    haveHeader = true;
                } else if (part.id == fourcc("strf")) {
                    if (!reader.readData(part, stream.format, kMostFormatBytes))
                        return false;
                } else if (part.id == fourcc("strn")) {
                    if (reader.readData(part, data, kMostHeaderBytes)) {
                        const size_t n = std::min(
                            strnlen(reinterpret_cast<const char*>(data.data()), data.size()),
                            sizeof stream.info.szName - 1);
                        std::memcpy(stream.info.szName, data.data(), n);
                    }
                } else if (part.id == fourcc("indx")) {
                    if (!reader.readData(part, stream.indx, kMostIndexBytes))
                        stream.indx.clear();
                }
                return true;
            });
            if (!haveHeader) {
                result = AVIERR_BADFORMAT;
                return false;
            }
            // Frames are one chunk each; other streams follow their sample size.
            stream.samples = SampleTable(stream.isVideo() ? 0 : stream.info.dwSampleSize);
            m_streams.push_back(std::move(stream));
        }
        return true;
    });
    if (result == AVIERR_OK && !haveMain)
        result = AVIERR_BADFORMAT;
    return result;
}

HRESULT RiffAviFile::load() {
    const RiffReader reader(m_file);
    const int64_t fileSize = reader.fileSize();
    if (fileSize < 0)
        return AVIERR_FILEREAD;
    uint8_t head[12];
    if (fileSize < 12)
        return AVIERR_BADFORMAT;
    if (!reader.read(0, head, sizeof head))
        return AVIERR_FILEREAD;
    if (u32(head) != kRiff || u32(head + 8) != fourcc("AVI "))
        return AVIERR_BADFORMAT;
    // A size that is 0 or runs past the file (a writer that was stopped) means "to the end".
    int64_t riffEnd = 8 + int64_t(u32(head + 4));
    if (riffEnd < 12 || riffEnd > fileSize)
        riffEnd = fileSize;

    bool haveHeaders = false;
    HRESULT result = AVIERR_OK;
    std::vector<MoviList> movi;
    std::optional<RiffChunk> idx1;
    auto noteMovi = [&](const RiffChunk& chunk) {
        movi.push_back(
            {chunk.dataOffset(), chunk.listBegin(), std::min(chunk.declaredEnd(), fileSize)});
    };
    reader.forEach(12, riffEnd, [&](const RiffChunk& chunk) {
        if (chunk.id == kList && chunk.listType == fourcc("hdrl") && !haveHeaders) {
            if (chunk.declaredEnd() > fileSize) {
                result = AVIERR_BADFORMAT;
                return false;
            }
            result = loadHeaderList(reader, chunk.listBegin(), chunk.declaredEnd());
            haveHeaders = true;
            return result == AVIERR_OK;
        }
        if (chunk.id == kList && chunk.listType == fourcc("movi"))
            noteMovi(chunk);
        else if (chunk.id == fourcc("idx1") && !idx1)
            idx1 = chunk;
        return true;
    });
    if (result != AVIERR_OK)
        return result;
    if (!haveHeaders)
        return AVIERR_BADFORMAT;

    // OpenDML extents: "RIFF AVIX" parts, each with its movi list.
    int64_t at = riffEnd + (riffEnd & 1);
    for (int parts = 0; at + 12 <= fileSize; ++parts) {
        const std::optional<RiffChunk> part = reader.chunkAt(at, fileSize);
        if (!part || part->id != kRiff || part->listType != fourcc("AVIX"))
            break;
        const int64_t end = std::min(part->declaredEnd(), fileSize);
        reader.forEach(part->listBegin(), end, [&](const RiffChunk& chunk) {
            if (chunk.id == kList && chunk.listType == fourcc("movi"))
                noteMovi(chunk);
            return true;
        });
        if (part->next() <= at)
            break;
        at = part->next();
    }
    m_source = AviIndex::build(reader, m_streams, movi, idx1);
    for (AviStreamData& s : m_streams)
        s.indx.clear();
    return AVIERR_OK;
}

HRESULT RiffAviFile::info(AVIFILEINFOW& out) {
    out = AVIFILEINFOW{};
    const avi::MainHeader main = m_writer ? m_writer->mainHeader() : m_main;
    out.dwMaxBytesPerSec = main.maxBytesPerSec;
    out.dwFlags = main.flags;
    out.dwCaps = AVIFILECAPS_CANREAD | (m_writer ? AVIFILECAPS_CANWRITE : 0);
    out.dwStreams = DWORD(m_streams.size());
    out.dwSuggestedBufferSize = main.suggestedBufferSize;
    out.dwWidth = main.width;
    out.dwHeight = main.height;
    const auto video = std::find_if(m_streams.begin(), m_streams.end(),
                                    [](const AviStreamData& s) { return s.isVideo(); });
    if (video != m_streams.end()) {
        out.dwLength = DWORD(video->samples.length());
        if ((out.dwWidth == 0 || out.dwHeight == 0) &&
            video->format.size() >= sizeof(BITMAPINFOHEADER)) {
            out.dwWidth = DWORD(std::abs(int64_t(int32_t(u32(video->format.data() + 4)))));
            out.dwHeight = DWORD(std::abs(int64_t(int32_t(u32(video->format.data() + 8)))));
        }
    }
    if (main.microSecPerFrame > 0) {
        out.dwRate = 1000000;
        out.dwScale = main.microSecPerFrame;
    } else if (video != m_streams.end()) {
        out.dwRate = video->info.dwRate;
        out.dwScale = video->info.dwScale;
    }
    const char16_t type[] = u"AVI file";
    std::memcpy(out.szFileType, type, sizeof type);
    return AVIERR_OK;
}

HRESULT RiffAviFile::getStream(AviStream** stream, DWORD type, LONG index) {
    if (index < 0)
        return AVIERR_NODATA;
    LONG seen = 0;
    for (size_t i = 0; i < m_streams.size(); ++i) {
        if (type != 0 && m_streams[i].info.fccType != type)
            continue;
        if (seen++ == index) {
            *stream = new RiffAviStream(this, i);
            return AVIERR_OK;
        }
    }
    return AVIERR_NODATA;
}

HRESULT RiffAviFile::createStream(AviStream** stream, const AVISTREAMINFO& info) {
    if (!m_writer)
        return AVIERR_READONLY;
    const HRESULT hr = m_writer->addStream(info);
    if (hr != AVIERR_OK)
        return hr;
    *stream = new RiffAviStream(this, m_streams.size() - 1);
    return AVIERR_OK;
}

HRESULT RiffAviFile::flush() {
    return m_writer ? m_writer->flush() : AVIERR_OK;
}

HRESULT RiffAviFile::finish() {
    return m_writer ? m_writer->finish() : AVIERR_OK;
}

HRESULT RiffAviFile::streamInfo(size_t stream, AVISTREAMINFO& out) {
    const AviStreamData& s = m_streams[stream];
    out = m_writer ? m_writer->streamHeader(stream) : s.info;
    out.dwStart = DWORD(streamStart(stream));
    out.dwLength = DWORD(s.samples.length());
    out.dwCaps = AVIFILECAPS_CANREAD | (m_writer ? AVIFILECAPS_CANWRITE : 0);
    return AVIERR_OK;
}

LONG RiffAviFile::streamStart(size_t stream) {
    if (m_writer)
        return 0;
    // Start and length must leave the last sample a number: a start that lies is cut back.
    const int64_t room = INT32_MAX - m_streams[stream].samples.length();
    return LONG(std::min<int64_t>(m_streams[stream].info.dwStart, room));
}

LONG RiffAviFile::streamLength(size_t stream) {
    return LONG(m_streams[stream].samples.length());
}

HRESULT RiffAviFile::readFormat(size_t stream, LONG, void* format, LONG* size) {
    return copyFormat(m_streams[stream].format, format, size);
}

HRESULT RiffAviFile::setFormat(size_t stream, LONG, const void* format, LONG size) {
    if (!m_writer)
        return AVIERR_READONLY;
    return m_writer->setFormat(stream, format, size);
}

HRESULT RiffAviFile::read(size_t stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                          LONG* bytesRead, LONG* samplesRead) {
    if (samples < 0 && samples != AVISTREAMREAD_CONVENIENT)
        return AVIERR_BADPARAM;
    if (m_writer && !m_writer->flushBuffer())
        return AVIERR_FILEWRITE;
    const int64_t first = int64_t(start) - streamStart(stream);
    return m_streams[stream].samples.read(m_file, first, samples, buffer, bufferSize, bytesRead,
                                          samplesRead);
}

HRESULT RiffAviFile::write(size_t stream, LONG start, LONG samples, const void* buffer,
                           LONG bufferSize, DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (!m_writer)
        return AVIERR_READONLY;
    return m_writer->write(stream, start, samples, buffer, bufferSize, flags, samplesWritten,
                           bytesWritten);
}

LONG RiffAviFile::findSample(size_t stream, LONG position, LONG flags) {
    const LONG start = streamStart(stream);
    const int64_t found = m_streams[stream].samples.find(int64_t(position) - start, flags);
    return found < 0 ? -1 : LONG(found + start);
}

} // namespace qdx::vfw
