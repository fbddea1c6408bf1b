#include "platform/vfw/CompressedStream.h"

#include "platform/vfw/StreamFormat.h"

#include "platform/vfw/CompressorChooser.h"

#include <cstdlib>
#include <cstring>

namespace qdx::vfw {

HRESULT createCompressedStream(AviStream* source, const AVICOMPRESSOPTIONS& options,
                               AviStream** compressed) {
    return CompressedStream::create(source, options, compressed);
}

CompressedStream::CompressedStream(AviStream* source, const AVICOMPRESSOPTIONS& options)
    : m_source(source), m_options(options) {
    m_source->addRef();
    m_options.lpFormat = nullptr;
    m_options.cbFormat = 0;
    m_options.lpParms = nullptr;
    m_options.cbParms = 0;
}

CompressedStream::~CompressedStream() {
    if (!m_reading && m_encoder && !m_encoder->finished()) {
        // Nothing can report a failure from here: a failed write leaves the target short, as
        // its length then shows.
        m_encoder->finish();
        writeReady();
    }
    if (!m_reading && m_encoder) {
        // Whatever the encoder did not give back, the samples after it still go.
        m_inEncoder.clear();
        writeHeld();
    }
    m_encoder.reset();
    m_getter.reset();
    m_source->release();
}

HRESULT CompressedStream::create(AviStream* source, const AVICOMPRESSOPTIONS& options,
                                 AviStream** compressed) {
    AVISTREAMINFO info;
    const HRESULT hr = source->info(info);
    if (hr != AVIERR_OK)
        return hr;
    if (info.fccType != streamtypeVIDEO)
        return AVIERR_UNSUPPORTED;
    if (!findCompressor(options.fccHandler))
        return AVIERR_NOCOMPRESSOR;
    auto* stream = new CompressedStream(source, options);
    stream->m_sourceInfo = info;
    // A stream with frames and a format is read through the compressor; an empty one without a
    // format is being written.
    LONG formatSize = 0;
    stream->m_reading = source->length() > 0 &&
                        source->readFormat(source->start(), nullptr, &formatSize) == AVIERR_OK &&
                        formatSize > 0;
    if (stream->m_reading) {
        const HRESULT opened = stream->openReader();
        if (opened != AVIERR_OK) {
            stream->release();
            return opened;
        }
    }
    *compressed = stream;
    return AVIERR_OK;
}

HRESULT CompressedStream::openReader() {
    QString error;
    m_getter.reset(FrameGetterImpl::create(m_source, nullptr, &error));
    if (!m_getter)
        return AVIERR_BADFORMAT;
    // The layout of the frames the getter gives: its header, masks and colour table.
    std::vector<uint8_t> header(sizeof(BITMAPINFOHEADER));
    std::memcpy(header.data(), &m_getter->outputHeader(), sizeof(BITMAPINFOHEADER));
    std::optional<VideoFormat> layout = VideoFormat::parse(header, &error);
    if (layout && m_getter->outputHeader().biBitCount <= 8) {
        // A palettised film's frames carry the film's own colour table.
        layout = videoFormatOf(m_source, &error);
    }
    if (!layout)
        return AVIERR_BADFORMAT;
    m_frameLayout = layout;
    m_pixelOffset = layout->packedHeader().size();
    HRESULT code = AVIERR_OK;
    m_encoder =
        VideoEncoder::open(m_options, *layout, m_sourceInfo.dwScale, m_sourceInfo.dwRate, &code);
    if (!m_encoder)
        return code;
    m_nextEncode = m_source->start();
    m_encoded.clear();
    // Encoding is repeatable: key flags learnt before a restart stay true.
    if (m_keys.size() != size_t(std::max<LONG>(0, m_source->length())))
        m_keys.assign(size_t(std::max<LONG>(0, m_source->length())), -1);
    return AVIERR_OK;
}

HRESULT CompressedStream::info(AVISTREAMINFO& out) {
    const HRESULT hr = m_source->info(out);
    if (hr != AVIERR_OK)
        return hr;
    out.fccHandler = m_encoder ? m_encoder->fourcc() : m_options.fccHandler;
    if (out.fccHandler == 0)
        out.fccHandler = comptypeDIB;
    out.dwQuality = m_options.dwQuality;
    if (m_reading)
        out.dwSuggestedBufferSize = 0;
    return AVIERR_OK;
}

LONG CompressedStream::start() {
    return m_source->start();
}

LONG CompressedStream::length() {
    return m_source->length();
}

HRESULT CompressedStream::readFormat(LONG position, void* format, LONG* size) {
    if (!m_encoder)
        return m_source->readFormat(position, format, size);
    const QByteArray& f = m_encoder->format();
    if (!format) {
        *size = LONG(f.size());
        return AVIERR_OK;
    }
    const LONG n = std::min<LONG>(*size, LONG(f.size()));
    if (n > 0)
        std::memcpy(format, f.constData(), size_t(n));
    *size = n;
    return AVIERR_OK;
}

HRESULT CompressedStream::setFormat(LONG position, const void* format, LONG size) {
    if (m_reading)
        return AVIERR_READONLY;
    const QByteArray given(static_cast<const char*>(format), size);
    if (m_encoder)
        return given == m_inputFormat ? AVIERR_OK : AVIERR_UNSUPPORTED;
    QString error;
    const std::optional<VideoFormat> input =
        VideoFormat::parse(std::span(static_cast<const uint8_t*>(format), size_t(size)), &error);
    if (!input || !input->uncompressed())
        return AVIERR_BADFORMAT;
    HRESULT code = AVIERR_OK;
    std::unique_ptr<VideoEncoder> encoder = VideoEncoder::open(
        m_options, *input, m_sourceInfo.dwScale, m_sourceInfo.dwRate, &code, &error);
    if (!encoder)
        return code;
    const QByteArray& target = encoder->format();
    const HRESULT hr = m_source->setFormat(position, target.constData(), LONG(target.size()));
    if (hr != AVIERR_OK)
        return hr;
    m_encoder = std::move(encoder);
    m_inputFormat = given;
    return AVIERR_OK;
}

HRESULT CompressedStream::writeReady() {
    VideoEncoder::Sample sample;
    HRESULT result = AVIERR_OK;
    while (m_encoder->take(sample)) {
        // Every frame given becomes one sample, in order.
        if (!m_inEncoder.empty() && m_inEncoder.front() <= sample.position)
            m_inEncoder.pop_front();
        const HRESULT hr =
            m_source->write(sample.position, 1, sample.data.constData(), LONG(sample.data.size()),
                            sample.key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
        if (hr != AVIERR_OK && result == AVIERR_OK)
            result = hr;
        const HRESULT held = writeHeld();
        if (held != AVIERR_OK && result == AVIERR_OK)
            result = held;
    }
    return result;
}

HRESULT CompressedStream::writeHeld() {
    HRESULT result = AVIERR_OK;
    while (!m_held.empty() &&
           (m_inEncoder.empty() || m_held.front().position < m_inEncoder.front())) {
        const HeldSample& s = m_held.front();
        const HRESULT hr = m_source->write(s.position, 1, s.data.data(), LONG(s.data.size()),
                                           s.flags, nullptr, nullptr);
        if (hr != AVIERR_OK && result == AVIERR_OK)
            result = hr;
        m_held.pop_front();
    }
    return result;
}

std::optional<MjpegTranscoder::Target> CompressedStream::mjpegTarget() const {
    if (m_reading || !m_encoder || !m_encoder->compressor().encoder ||
        std::strcmp(m_encoder->compressor().encoder, "mjpeg") != 0)
        return std::nullopt;
    if (m_encoder->compressor().hasDataRate && (m_options.dwFlags & AVICOMPRESSF_DATARATE) &&
        m_options.dwBytesPerSecond > 0)
        return std::nullopt;
    // The frames set must be the coded size (the encoder pads odd sizes).
    const std::optional<VideoFormat> input =
        VideoFormat::parse(std::span(reinterpret_cast<const uint8_t*>(m_inputFormat.constData()),
                                     size_t(m_inputFormat.size())),
                           nullptr);
    BITMAPINFOHEADER coded;
    if (!input || size_t(m_encoder->format().size()) < sizeof coded)
        return std::nullopt;
    std::memcpy(&coded, m_encoder->format().constData(), sizeof coded);
    if (coded.biWidth != input->width() || std::abs(coded.biHeight) != input->height())
        return std::nullopt;
    // A grey 16 x 16 picture through a second encoder with the same settings.
    BITMAPINFOHEADER small;
    small.biWidth = 16;
    small.biHeight = 16;
    small.biBitCount = 32;
    small.biCompression = BI_RGB;
    small.biSizeImage = 16 * 16 * 4;
    const std::optional<VideoFormat> smallLayout = VideoFormat::parse(
        std::span(reinterpret_cast<const uint8_t*>(&small), sizeof small), nullptr);
    if (!smallLayout)
        return std::nullopt;
    HRESULT code = AVIERR_OK;
    std::unique_ptr<VideoEncoder> probe = VideoEncoder::open(
        m_options, *smallLayout, m_sourceInfo.dwScale, m_sourceInfo.dwRate, &code, nullptr);
    const std::vector<uint8_t> grey(16 * 16 * 4, 0x80);
    VideoEncoder::Sample sample;
    if (!probe || !probe->encode(grey.data(), grey.size(), 0) || !probe->finish() ||
        !probe->take(sample))
        return std::nullopt;
    std::optional<MjpegTranscoder::Target> target = MjpegTranscoder::targetOf(
        reinterpret_cast<const uint8_t*>(sample.data.constData()), size_t(sample.data.size()));
    if (!target)
        return std::nullopt;
    target->width = input->width();
    target->height = input->height();
    return target;
}

HRESULT CompressedStream::writeEncoded(const uint8_t* data, size_t size, LONG position,
                                       DWORD flags) {
    if (m_reading)
        return AVIERR_READONLY;
    if (!m_encoder)
        return AVIERR_BADFORMAT;
    if (position <= m_lastWritten || position < 0 || size > size_t(INT32_MAX))
        return AVIERR_BADPARAM;
    m_lastWritten = position;
    const DWORD key = size > 0 ? (flags & AVIIF_KEYFRAME) : 0;
    if (m_inEncoder.empty() && m_held.empty())
        return m_source->write(position, 1, data, LONG(size), key, nullptr, nullptr);
    m_held.push_back({position, std::vector<uint8_t>(data, data + size), key});
    return writeHeld();
}

HRESULT CompressedStream::write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                                DWORD, LONG* samplesWritten, LONG* bytesWritten) {
    if (m_reading)
        return AVIERR_READONLY;
    if (!m_encoder)
        return AVIERR_BADFORMAT; // the DIB layout must be set first
    if (samples <= 0)
        return AVIERR_BADPARAM;
    // The encoder numbers its pictures by position: they must go forward.
    if (start <= m_lastWritten || start < 0)
        return AVIERR_BADPARAM;
    const int64_t frameSize =
        VideoFormat::parse(std::span(reinterpret_cast<const uint8_t*>(m_inputFormat.constData()),
                                     size_t(m_inputFormat.size())),
                           nullptr)
            ->imageSize();
    if (int64_t(bufferSize) < frameSize * samples)
        return AVIERR_BADSIZE;
    // The caller's key flag is not taken: the compressor decides which frames are key frames.
    const auto* bits = static_cast<const uint8_t*>(buffer);
    for (LONG i = 0; i < samples; ++i) {
        if (!m_encoder->encode(bits + i * frameSize, size_t(frameSize), start + i))
            return AVIERR_COMPRESSOR;
        m_lastWritten = start + i;
        m_inEncoder.push_back(start + i);
        const HRESULT hr = writeReady();
        if (hr != AVIERR_OK)
            return hr;
    }
    if (samplesWritten)
        *samplesWritten = samples;
    if (bytesWritten)
        *bytesWritten = bufferSize;
    return AVIERR_OK;
}

FramePtr CompressedStream::preparePicture(const AVFrame* picture) const {
    if (m_reading || !m_encoder)
        return nullptr;
    return m_encoder->preparePicture(picture);
}

HRESULT CompressedStream::writePicture(AVFrame* prepared, LONG position) {
    if (m_reading)
        return AVIERR_READONLY;
    if (!m_encoder)
        return AVIERR_BADFORMAT;
    if (position <= m_lastWritten || position < 0)
        return AVIERR_BADPARAM;
    if (!m_encoder->encodePicture(prepared, position))
        return AVIERR_COMPRESSOR;
    m_lastWritten = position;
    m_inEncoder.push_back(position);
    return writeReady();
}

HRESULT CompressedStream::encodeNext() {
    const LONG end = m_source->start() + m_source->length();
    if (m_nextEncode >= end) {
        if (m_encoder->finished())
            return AVIERR_NODATA;
        m_encoder->finish();
    } else {
        const LONG position = m_nextEncode++;
        const auto* dib = static_cast<const uint8_t*>(m_getter->frame(position));
        if (!dib)
            return AVIERR_FILEREAD;
        if (!m_encoder->encode(dib + m_pixelOffset, size_t(m_frameLayout->imageSize()), position))
            return AVIERR_COMPRESSOR;
    }
    VideoEncoder::Sample sample;
    const LONG first = m_source->start();
    while (m_encoder->take(sample)) {
        const LONG index = sample.position - first;
        if (index >= 0 && size_t(index) < m_keys.size())
            m_keys[size_t(index)] = sample.key ? 1 : 0;
        m_encoded.push_back(std::move(sample));
    }
    return AVIERR_OK;
}

const VideoEncoder::Sample* CompressedStream::sampleAt(LONG position, HRESULT* code) {
    *code = AVIERR_OK;
    for (;;) {
        // Samples before the position are done with: reading goes forward.
        while (!m_encoded.empty() && m_encoded.front().position < position)
            m_encoded.pop_front();
        if (!m_encoded.empty() && m_encoded.front().position == position)
            return &m_encoded.front();
        const bool passed =
            !m_encoded.empty() || (m_encoder->finished() && position < m_nextEncode);
        if (passed) {
            // An encoded sample depends on the ones before it: encoding starts again from the
            // first frame.
            *code = openReader();
        } else {
            *code = encodeNext();
        }
        if (*code != AVIERR_OK)
            return nullptr;
    }
}

HRESULT CompressedStream::read(LONG start, LONG samples, void* buffer, LONG bufferSize,
                               LONG* bytesRead, LONG* samplesRead) {
    if (!m_reading)
        return m_source->read(start, samples, buffer, bufferSize, bytesRead, samplesRead);
    const LONG first = m_source->start();
    if (start < first || start >= first + m_source->length() || samples == 0)
        return AVIERR_NODATA;
    HRESULT code;
    const VideoEncoder::Sample* s = sampleAt(start, &code);
    if (!s)
        return code;
    const LONG size = LONG(s->data.size());
    if (bytesRead)
        *bytesRead = size;
    if (samplesRead)
        *samplesRead = 1;
    if (!buffer)
        return AVIERR_OK;
    if (bufferSize < size)
        return AVIERR_BUFFERTOOSMALL;
    std::memcpy(buffer, s->data.constData(), size_t(size));
    return AVIERR_OK;
}

LONG CompressedStream::findSample(LONG position, LONG flags) {
    if (!m_reading)
        return m_source->findSample(position, flags);
    const LONG first = m_source->start();
    const LONG end = first + m_source->length();
    if (flags & FIND_FROM_START)
        position = first;
    if (!(flags & FIND_KEY)) {
        // Every re-encoded sample holds a picture.
        if (flags & FIND_PREV)
            return position >= end ? end - 1 : (position >= first ? position : -1);
        return position < first ? first : (position < end ? position : -1);
    }
    auto known = [&](LONG p) -> int {
        if (m_keys[size_t(p - first)] < 0) {
            HRESULT code;
            if (!sampleAt(p, &code))
                return 0;
        }
        return m_keys[size_t(p - first)];
    };
    if (flags & FIND_PREV) {
        for (LONG p = std::min(position, end - 1); p >= first; --p)
            if (known(p) == 1)
                return p;
        return -1;
    }
    for (LONG p = std::max(position, first); p < end; ++p)
        if (known(p) == 1)
            return p;
    return -1;
}

} // namespace qdx::vfw
