#include "platform/vfw/RecompressPipeline.h"

#include "platform/codec/CodecThreads.h"
#include "platform/vfw/StreamFormat.h"

#include "platform/codec/FourccMap.h"
#include "platform/codec/VideoDecoder.h"
#include "platform/vfw/CompressedStream.h"
#include "platform/vfw/FrameGetterImpl.h"

#include "platform/core/Dib.h"

#include <atomic>
#include <cstring>

namespace qdx::vfw {

namespace {

std::atomic<bool> pictureHandOff{true};
std::atomic<bool> coefficientHandOff{true};
std::atomic<int64_t> transcodedTotal{0};

// Transcoded samples get Huffman tables made for each (a few per cent smaller, at the cost of one
// more pass over the coefficients).
constexpr bool kOptimiseHuffman = true;

// The size of a Motion JPEG stream's frames; nullopt for streams of another codec.
std::optional<std::pair<int, int>> mjpegFrameSize(PAVISTREAM stream) {
    const std::optional<VideoFormat> format =
        stream ? videoFormatOf(stream, nullptr) : std::nullopt;
    if (!format || FourccMap::codecOf(format->compression()) != AV_CODEC_ID_MJPEG)
        return std::nullopt;
    return std::pair<int, int>(format->width(), format->height());
}

} // namespace

void setCoefficientRecompression(bool enabled) {
    coefficientHandOff = enabled;
}

bool coefficientRecompression() {
    return coefficientHandOff.load();
}

int64_t coefficientRecompressedSamples() {
    return transcodedTotal.load();
}

void setYuvRecompression(bool enabled) {
    pictureHandOff = enabled;
}

bool yuvRecompression() {
    return pictureHandOff.load();
}

// One frame on its way to the writer: a decoded picture or the pixels of a DIB for the encoder,
// or a sample already compressed.
struct RecompressPipeline::Item {
    Frame frame;
    FramePtr picture;
    std::vector<uint8_t> bits;
    bool encoded = false;
    std::vector<uint8_t> sample;
};

RecompressPipeline::RecompressPipeline(PGETFRAME getter, PAVISTREAM compressed, int width,
                                       int height, std::vector<Frame> frames, PAVISTREAM source)
    : m_getter(getter), m_compressed(compressed),
      m_yuvTarget(dynamic_cast<CompressedStream*>(compressed)), m_source(source), m_width(width),
      m_height(height), m_dibBytes(size_t(qdx::dibStride(width, 32)) * size_t(height)),
      m_frames(std::move(frames)) {
    auto* pictures = dynamic_cast<FrameGetterImpl*>(getter);
    // Motion JPEG into Motion JPEG of the same frame size: the samples are transcoded.
    if (m_yuvTarget && pictures && pictures->decodes() && coefficientRecompression() &&
        mjpegFrameSize(source) == std::pair<int, int>(width, height))
        m_mjpegTarget = m_yuvTarget->mjpegTarget();
    if (pictures && pictures->intraOnly() && decoderThreads() != 1 && m_frames.size() > 1 &&
        std::thread::hardware_concurrency() > 1)
        m_twin = pictures->twin();
    m_decoding = m_twin ? 2 : 1;
    m_encoder = std::jthread([this] { encode(); });
    m_decoders.emplace_back([this, pictures] { decode(pictures, m_getter, 0, m_decoding); });
    if (m_twin)
        m_decoders.emplace_back([this] { decode(m_twin.get(), m_twin.get(), 1, m_decoding); });
}

RecompressPipeline::~RecompressPipeline() {
    stop();
}

void RecompressPipeline::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::jthread& decoder : m_decoders)
        if (decoder.joinable())
            decoder.join();
    if (m_encoder.joinable())
        m_encoder.join();
}

void RecompressPipeline::fail(std::exception_ptr error) {
    {
        std::lock_guard lock(m_mutex);
        m_failed = true;
        if (error && !m_error)
            m_error = error;
    }
    m_changed.notify_all();
}

bool RecompressPipeline::failed() const {
    std::lock_guard lock(m_mutex);
    return m_failed;
}

int RecompressPipeline::pictureFrames() const {
    std::lock_guard lock(m_mutex);
    return m_pictureFrames;
}

int RecompressPipeline::transcodedFrames() const {
    std::lock_guard lock(m_mutex);
    return m_transcodedFrames;
}

bool RecompressPipeline::transcode(MjpegTranscoder& transcoder, LONG index,
                                   std::vector<uint8_t>& sample, Item& item) {
    LONG bytes = 0;
    LONG samples = 0;
    HRESULT hr = AVIStreamRead(m_source, index, 1, sample.empty() ? nullptr : sample.data(),
                               LONG(sample.size()), &bytes, &samples);
    if (hr == AVIERR_BUFFERTOOSMALL || (hr == AVIERR_OK && sample.empty() && bytes > 0)) {
        sample.resize(size_t(bytes));
        hr = AVIStreamRead(m_source, index, 1, sample.data(), bytes, &bytes, &samples);
    }
    if (hr != AVIERR_OK || samples != 1)
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_spareSamples.empty()) {
            item.sample = std::move(m_spareSamples.back());
            m_spareSamples.pop_back();
        }
    }
    // A dropped frame's empty sample stays empty.
    if (bytes == 0)
        item.sample.clear();
    else if (!transcoder.transcode(sample.data(), size_t(bytes), item.sample))
        return false;
    item.encoded = true;
    return true;
}

bool RecompressPipeline::next(Frame& written) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] {
        return m_reported < m_written || m_failed || m_stop || m_written == m_frames.size();
    });
    if (m_error) {
        const std::exception_ptr error = m_error;
        m_error = nullptr;
        lock.unlock();
        stop();
        std::rethrow_exception(error);
    }
    if (m_reported < m_written) {
        written = m_frames[m_reported++];
        return true;
    }
    return false;
}

void RecompressPipeline::decode(FrameGetterImpl* pictures, PGETFRAME getter, size_t worker,
                                size_t workers) {
    try {
        // Decoded pictures go on in YUV while the encoder takes their layout; the first one it
        // refuses sends this worker's frames through DIBs, as the layout stays the same along a
        // film.
        bool inYuv = pictures && pictures->decodes() && m_yuvTarget && yuvRecompression();
        std::unique_ptr<MjpegTranscoder> transcoder;
        if (m_mjpegTarget)
            transcoder = std::make_unique<MjpegTranscoder>(*m_mjpegTarget, m_width, m_height,
                                                           kOptimiseHuffman);
        std::vector<uint8_t> sample;
        for (size_t place = worker; place < m_frames.size(); place += workers) {
            const Frame& frame = m_frames[place];
            auto item = std::make_unique<Item>();
            item->frame = frame;
            // A sample the transcoder refuses is decoded and encoded, alone (every Motion JPEG
            // sample decodes by itself).
            const bool transcoded =
                transcoder && transcode(*transcoder, frame.index, sample, *item);
            if (inYuv && !transcoded) {
                const AVFrame* picture = pictures->picture(frame.index);
                if (!picture) {
                    fail(nullptr);
                    return;
                }
                // Made ready for the encoder here, on the decoding side.
                item->picture = m_yuvTarget->preparePicture(picture);
                if (!item->picture)
                    inYuv = false;
            }
            if (!item->picture && !transcoded) {
                const void* dib = getter->frame(frame.index);
                BITMAPINFOHEADER header;
                if (dib)
                    std::memcpy(&header, dib, sizeof header);
                if (!dib || header.biSize != sizeof header || header.biBitCount != 32 ||
                    header.biCompression != BI_RGB || header.biWidth != m_width ||
                    header.biHeight != m_height) {
                    fail(nullptr);
                    return;
                }
                {
                    std::lock_guard lock(m_mutex);
                    if (!m_spareBuffers.empty()) {
                        item->bits = std::move(m_spareBuffers.back());
                        m_spareBuffers.pop_back();
                    }
                }
                item->bits.resize(m_dibBytes);
                std::memcpy(item->bits.data(), static_cast<const uint8_t*>(dib) + sizeof header,
                            m_dibBytes);
            }
            // At most a few frames wait for the encoder.
            std::unique_lock lock(m_mutex);
            m_changed.wait(
                lock, [&] { return place < m_nextEncode + kQueueLength || m_stop || m_failed; });
            if (m_stop || m_failed)
                return;
            m_decodedItems.emplace(place, std::move(item));
            lock.unlock();
            m_changed.notify_all();
        }
        {
            std::lock_guard lock(m_mutex);
            --m_decoding;
        }
        m_changed.notify_all();
    } catch (...) {
        fail(std::current_exception());
    }
}

void RecompressPipeline::encode() {
    try {
        while (m_nextEncode < m_frames.size()) {
            std::unique_ptr<Item> item;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] {
                    return m_decodedItems.count(m_nextEncode) || m_decoding == 0 || m_stop ||
                           m_failed;
                });
                const auto found = m_decodedItems.find(m_nextEncode);
                if (m_stop || m_failed || found == m_decodedItems.end())
                    return;
                item = std::move(found->second);
                m_decodedItems.erase(found);
            }
            const Frame& frame = item->frame;
            HRESULT hr;
            if (item->encoded)
                hr = m_yuvTarget->writeEncoded(item->sample.data(), item->sample.size(),
                                               frame.position, AVIIF_KEYFRAME);
            else if (item->picture)
                hr = m_yuvTarget->writePicture(item->picture.get(), frame.position);
            else
                hr = AVIStreamWrite(m_compressed, frame.position, 1, item->bits.data(),
                                    LONG(m_dibBytes), frame.flags, nullptr, nullptr);
            if (hr != AVIERR_OK) {
                fail(nullptr);
                return;
            }
            {
                std::lock_guard lock(m_mutex);
                ++m_nextEncode;
                ++m_written;
                if (item->encoded) {
                    ++m_transcodedFrames;
                    ++transcodedTotal;
                    if (m_spareSamples.size() < kQueueLength + 2)
                        m_spareSamples.push_back(std::move(item->sample));
                } else if (item->picture)
                    ++m_pictureFrames;
                else if (m_spareBuffers.size() < kQueueLength + 2)
                    m_spareBuffers.push_back(std::move(item->bits));
            }
            // Room for one more decoded frame, and one more frame for the caller to hear of.
            m_changed.notify_all();
        }
    } catch (...) {
        fail(std::current_exception());
    }
}

} // namespace qdx::vfw
