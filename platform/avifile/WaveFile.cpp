#include "platform/avifile/WaveFile.h"

#include "platform/avifile/RiffBytes.h"
#include "platform/avifile/RiffReader.h"
#include "platform/avifile/WaveStream.h"

#include <algorithm>
#include <cstring>

namespace qdx::vfw {

using namespace riff;

namespace {

constexpr size_t kMostFormatBytes = 1 << 20;
constexpr int64_t kMostSilenceBytes = int64_t(256) << 20;
// The data of a RIFF file must keep its size within 32 bits.
constexpr int64_t kLargestFile = int64_t(UINT32_MAX) - 1;

// A format as WAVEFORMATEX: at least 18 bytes, cbSize no larger than what follows.
std::vector<uint8_t> normalisedFormat(const uint8_t* data, size_t size) {
    std::vector<uint8_t> format(data, data + size);
    if (format.size() < sizeof(WAVEFORMATEX)) {
        format.resize(sizeof(WAVEFORMATEX), 0);
        return format;
    }
    const size_t extra = std::min<size_t>(u16(format.data() + 16), format.size() - 18);
    put16(format.data() + 16, uint16_t(extra));
    format.resize(18 + extra);
    return format;
}

} // namespace

WaveFile::WaveFile() = default;

WaveFile::~WaveFile() {
    if (m_out)
        finish();
}

HRESULT WaveFile::open(const QString& path, UINT mode, AviFile** out) {
    std::unique_ptr<WaveFile, void (*)(WaveFile*)> file(new WaveFile,
                                                        [](WaveFile* f) { f->release(); });
    if (mode & OF_CREATE) {
        if (file->m_file.create(path, (mode & OF_SHARE_EXCLUSIVE) != 0) !=
            PosixFile::OpenError::None)
            return AVIERR_FILEOPEN;
        file->m_out = std::make_unique<AppendWriter>(file->m_file);
    } else {
        const bool writable = (mode & (OF_WRITE | OF_READWRITE)) != 0;
        if (file->m_file.openExisting(path, writable) != PosixFile::OpenError::None)
            return AVIERR_FILEOPEN;
        const HRESULT hr = file->load();
        if (hr != AVIERR_OK)
            return hr;
    }
    *out = file.release();
    return AVIERR_OK;
}

uint32_t WaveFile::blockAlign() const {
    if (m_stream.format.size() < 14)
        return 1;
    return std::max<uint32_t>(1, u16(m_stream.format.data() + 12));
}

HRESULT WaveFile::load() {
    const RiffReader reader(m_file);
    const int64_t fileSize = reader.fileSize();
    if (fileSize < 0)
        return AVIERR_FILEREAD;
    if (fileSize < 12)
        return AVIERR_BADFORMAT;
    uint8_t head[12];
    if (!reader.read(0, head, sizeof head))
        return AVIERR_FILEREAD;
    if (u32(head) != kRiff || u32(head + 8) != fourcc("WAVE"))
        return AVIERR_BADFORMAT;
    int64_t riffEnd = 8 + int64_t(u32(head + 4));
    if (riffEnd < 12 || riffEnd > fileSize)
        riffEnd = fileSize;

    bool haveFormat = false;
    std::optional<RiffChunk> data;
    std::vector<uint8_t> bytes;
    reader.forEach(12, riffEnd, [&](const RiffChunk& chunk) {
        if (chunk.id == fourcc("fmt ") && !haveFormat) {
            if (chunk.size < 14 || !reader.readData(chunk, bytes, kMostFormatBytes))
                return false;
            m_stream.format = normalisedFormat(bytes.data(), bytes.size());
            haveFormat = true;
        } else if (chunk.id == fourcc("data") && !data) {
            data = chunk;
        }
        return true;
    });
    if (!haveFormat)
        return AVIERR_BADFORMAT;
    m_haveStream = true;
    const uint32_t align = blockAlign();
    m_stream.samples = SampleTable(align);
    if (data) {
        // A size past the end of the file (a writer that was stopped, or a stream whose length
        // was unknown) is cut to what the file holds.
        const int64_t size = std::min<int64_t>(data->size, fileSize - data->dataOffset());
        if (size > 0)
            m_stream.samples.append(data->dataOffset(), uint32_t(size), true);
    }
    m_stream.info.fccType = streamtypeAUDIO;
    return AVIERR_OK;
}

HRESULT WaveFile::info(AVIFILEINFOW& out) {
    out = AVIFILEINFOW{};
    AVISTREAMINFO stream;
    streamInfo(stream);
    out.dwCaps = AVIFILECAPS_CANREAD | (m_out ? AVIFILECAPS_CANWRITE : 0);
    out.dwStreams = m_haveStream ? 1 : 0;
    if (m_haveStream) {
        out.dwMaxBytesPerSec =
            stream.dwRate * stream.dwSampleSize / std::max<DWORD>(1, stream.dwScale);
        out.dwSuggestedBufferSize = stream.dwSuggestedBufferSize;
        out.dwScale = stream.dwScale;
        out.dwRate = stream.dwRate;
        out.dwLength = stream.dwLength;
    }
    const char16_t type[] = u"Wave file";
    std::memcpy(out.szFileType, type, sizeof type);
    return AVIERR_OK;
}

HRESULT WaveFile::streamInfo(AVISTREAMINFO& out) {
    out = m_stream.info;
    out.fccType = streamtypeAUDIO;
    out.dwStart = 0;
    out.dwLength = DWORD(m_stream.samples.length());
    out.dwCaps = AVIFILECAPS_CANREAD | (m_out ? AVIFILECAPS_CANWRITE : 0);
    if (m_stream.format.size() >= 14) {
        // Blocks of nBlockAlign bytes at nAvgBytesPerSec.
        const uint8_t* f = m_stream.format.data();
        const uint32_t align = blockAlign();
        uint32_t bytesPerSecond = u32(f + 8);
        if (bytesPerSecond == 0 && u16(f) == WAVE_FORMAT_PCM)
            bytesPerSecond = u32(f + 4) * align;
        out.fccHandler = 0;
        out.dwScale = align;
        out.dwRate = bytesPerSecond;
        out.dwSampleSize = align;
        out.dwSuggestedBufferSize = bytesPerSecond;
    }
    return AVIERR_OK;
}

HRESULT WaveFile::getStream(AviStream** stream, DWORD type, LONG index) {
    if (!m_haveStream || index != 0 || (type != 0 && type != streamtypeAUDIO))
        return AVIERR_NODATA;
    *stream = new WaveStream(this);
    return AVIERR_OK;
}

HRESULT WaveFile::createStream(AviStream** stream, const AVISTREAMINFO& info) {
    if (!m_out)
        return AVIERR_READONLY;
    if (m_haveStream || info.fccType != streamtypeAUDIO)
        return AVIERR_UNSUPPORTED; // one sound stream is all a WAVE file holds
    m_stream.info = info;
    m_stream.info.dwLength = 0;
    m_haveStream = true;
    *stream = new WaveStream(this);
    return AVIERR_OK;
}

HRESULT WaveFile::readFormat(void* format, LONG* size) {
    return copyFormat(m_stream.format, format, size);
}

HRESULT WaveFile::setFormat(const void* format, LONG size) {
    if (!m_out)
        return AVIERR_READONLY;
    if (m_error != AVIERR_OK)
        return m_error;
    if (size < 14 || size_t(size) > kMostFormatBytes)
        return AVIERR_BADSIZE;
    const auto* bytes = static_cast<const uint8_t*>(format);
    std::vector<uint8_t> normalised = normalisedFormat(bytes, size_t(size));
    if (m_headerWritten)
        return normalised == m_stream.format ? AVIERR_OK : AVIERR_UNSUPPORTED;
    m_stream.format = std::move(normalised);
    m_stream.samples = SampleTable(blockAlign());
    return AVIERR_OK;
}

HRESULT WaveFile::read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytesRead,
                       LONG* samplesRead) {
    if (samples < 0 && samples != AVISTREAMREAD_CONVENIENT)
        return AVIERR_BADPARAM;
    if (m_out && !m_out->flush())
        return AVIERR_FILEWRITE;
    return m_stream.samples.read(m_file, start, samples, buffer, bufferSize, bytesRead,
                                 samplesRead);
}

LONG WaveFile::findSample(LONG position, LONG flags) {
    const int64_t found = m_stream.samples.find(position, flags);
    return found < 0 ? -1 : LONG(found);
}

HRESULT WaveFile::fail() {
    if (m_error == AVIERR_OK)
        m_error = AVIERR_FILEWRITE;
    return m_error;
}

bool WaveFile::writeHeader() {
    std::vector<uint8_t> h(12 + 8);
    put32(h.data(), kRiff);
    put32(h.data() + 8, fourcc("WAVE"));
    put32(h.data() + 12, fourcc("fmt "));
    put32(h.data() + 16, uint32_t(m_stream.format.size()));
    h.insert(h.end(), m_stream.format.begin(), m_stream.format.end());
    if (h.size() & 1)
        h.push_back(0);
    m_dataOffset = int64_t(h.size());
    h.resize(h.size() + 8, 0);
    put32(h.data() + m_dataOffset, fourcc("data"));
    put32(h.data() + 4, uint32_t(h.size() - 8));
    m_headerWritten = true;
    return m_out->append(h.data(), h.size());
}

bool WaveFile::patchSizes() {
    uint8_t size[4];
    put32(size, uint32_t(m_out->end() - m_dataOffset - 8));
    if (!m_out->patch(m_dataOffset + 4, size, 4))
        return false;
    put32(size, uint32_t(m_out->end() - 8));
    return m_out->patch(4, size, 4);
}

HRESULT WaveFile::write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                        LONG* samplesWritten, LONG* bytesWritten) {
    if (!m_out)
        return AVIERR_READONLY;
    if (m_error != AVIERR_OK)
        return m_error;
    if (m_finished)
        return AVIERR_UNSUPPORTED;
    if (m_stream.format.empty())
        return AVIERR_BADFORMAT; // the block size is not known before the format
    const int64_t align = blockAlign();
    const int64_t length = m_stream.samples.length();
    const int64_t position = start < 0 ? length : int64_t(start);
    if (position < length)
        return AVIERR_BADPARAM; // samples are appended; what is written stays
    const int64_t gapBytes = (position - length) * align;
    if (gapBytes > kMostSilenceBytes)
        return AVIERR_BADPARAM;
    const int64_t count = std::max<int64_t>(0, std::min<int64_t>(samples, bufferSize / align));
    const int64_t bytes = count * align;
    if (!m_headerWritten && !writeHeader())
        return fail();
    if (m_out->end() + gapBytes + bytes > kLargestFile)
        return fail();
    if (gapBytes > 0) {
        // Silence keeps every later sample at the position it was written for.
        std::vector<uint8_t> silence(size_t(gapBytes), m_stream.silence());
        const int64_t at = m_out->end();
        if (!m_out->append(silence.data(), silence.size()))
            return fail();
        m_stream.samples.append(at, uint32_t(gapBytes), true);
    }
    if (bytes > 0) {
        const int64_t at = m_out->end();
        if (!m_out->append(buffer, size_t(bytes)))
            return fail();
        m_stream.samples.append(at, uint32_t(bytes), true);
    }
    if (samplesWritten)
        *samplesWritten = LONG(count);
    if (bytesWritten)
        *bytesWritten = LONG(bytes);
    return AVIERR_OK;
}

HRESULT WaveFile::flush() {
    if (!m_out || m_finished)
        return m_error;
    if (m_error != AVIERR_OK)
        return m_error;
    if (m_headerWritten && (!patchSizes() || !m_out->flush()))
        return fail();
    return AVIERR_OK;
}

HRESULT WaveFile::finish() {
    if (m_finished)
        return m_error;
    m_finished = true;
    if (m_error != AVIERR_OK)
        return m_error;
    // A file whose format was never set stays empty: there is nothing to describe.
    if (!m_headerWritten && !m_stream.format.empty() && !writeHeader())
        return fail();
    if (!m_headerWritten)
        return AVIERR_OK;
    const int64_t dataSize = m_out->end() - m_dataOffset - 8;
    if (!patchSizes())
        return fail();
    if ((dataSize & 1) && !m_out->appendZeros(1))
        return fail();
    uint8_t size[4];
    put32(size, uint32_t(m_out->end() - 8));
    if (!m_out->patch(4, size, 4) || !m_out->flush())
        return fail();
    return AVIERR_OK;
}

} // namespace qdx::vfw
