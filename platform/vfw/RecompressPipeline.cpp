#include "platform/vfw/RecompressPipeline.h"

#include "platform/vfw/CompressedStream.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "platform/vfw/VideoDecoder.h"

#include "platform/core/Dib.h"

#include <atomic>
#include <cstring>

namespace qdx::vfw {

namespace {

std::atomic<bool> pictureHandOff{true};

} // namespace

void setYuvRecompression(bool enabled) {
    pictureHandOff = enabled;
}

bool yuvRecompression() {
    return pictureHandOff.load();
}

// One decoded frame on its way to the encoder: a decoded picture or the pixels of a DIB.
struct RecompressPipeline::Item {
    Frame frame;
    FramePtr picture;
    std::vector<uint8_t> bits;
};

RecompressPipeline::RecompressPipeline(PGETFRAME getter, PAVISTREAM compressed, int width,
                                       int height, std::vector<Frame> frames)
    : m_getter(getter), m_compressed(compressed),
      m_yuvTarget(dynamic_cast<CompressedStream*>(compressed)), m_width(width), m_height(height),
      m_dibBytes(size_t(qdx::dibStride(width, 32)) * size_t(height)), m_frames(std::move(frames)) {
    auto* pictures = dynamic_cast<FrameGetterImpl*>(getter);
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
        for (size_t place = worker; place < m_frames.size(); place += workers) {
            const Frame& frame = m_frames[place];
            auto item = std::make_unique<Item>();
            item->frame = frame;
            if (inYuv) {
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
            if (!item->picture) {
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
            const HRESULT hr =
                item->picture ? m_yuvTarget->writePicture(item->picture.get(), frame.position)
                              : AVIStreamWrite(m_compressed, frame.position, 1, item->bits.data(),
                                               LONG(m_dibBytes), frame.flags, nullptr, nullptr);
            if (hr != AVIERR_OK) {
                fail(nullptr);
                return;
            }
            {
                std::lock_guard lock(m_mutex);
                ++m_nextEncode;
                ++m_written;
                if (item->picture)
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
