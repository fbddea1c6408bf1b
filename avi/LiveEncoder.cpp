#include "avi/LiveEncoder.h"

#include "platform/vfw/CompressedStream.h"

LiveEncoder::LiveEncoder(PAVIFILE file, PAVISTREAM compressed, size_t frameBytes,
                         std::shared_ptr<qdx::Clock> clock, qdx::Clock::duration flushInterval,
                         Written onWritten)
    : m_file(file), m_compressed(compressed), m_clock(std::move(clock)),
      m_flushInterval(flushInterval), m_onWritten(std::move(onWritten)) {
    // Every buffer is allocated here, once: nothing grows while the recording runs.
    m_buffers.resize(kQueueFrames);
    for (int i = 0; i < kQueueFrames; ++i) {
        m_buffers[size_t(i)].assign(frameBytes, 0);
        m_free.push_back(i);
    }
    m_thread = std::thread([this] { run(); });
}

LiveEncoder::~LiveEncoder() {
    {
        std::lock_guard lock(m_mutex);
        m_abort = true;
    }
    m_queued.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    release();
}

uint8_t* LiveEncoder::buffer(bool wait) {
    std::unique_lock lock(m_mutex);
    if (m_filling < 0) {
        if (wait)
            m_freed.wait(lock, [this] { return !m_free.empty() || m_failed; });
        if (m_free.empty() || m_failed)
            return nullptr;
        m_filling = m_free.front();
        m_free.pop_front();
    }
    return m_buffers[size_t(m_filling)].data();
}

void LiveEncoder::submit(int position) {
    {
        std::lock_guard lock(m_mutex);
        if (m_filling < 0)
            return;
        m_queue.push_back({m_filling, position});
        m_filling = -1;
    }
    m_queued.notify_one();
}

bool LiveEncoder::finish(int lastPosition) {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_queued.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // The thread has ended: the stream is this thread's again.
    bool ok = !m_failed;
    if (m_compressed && lastPosition > m_lastWritten) {
        auto* stream = dynamic_cast<qdx::vfw::CompressedStream*>(m_compressed);
        if (!stream || stream->writeEncoded(nullptr, 0, lastPosition, 0) != AVIERR_OK)
            ok = false;
    }
    release();
    return ok;
}

void LiveEncoder::run() {
    try {
        auto lastFlush = m_clock->now();
        for (;;) {
            Job job{};
            int behind = 0;
            {
                std::unique_lock lock(m_mutex);
                m_queued.wait(lock, [this] { return m_abort || m_stop || !m_queue.empty(); });
                if (m_abort || m_queue.empty())
                    return;
                job = m_queue.front();
                m_queue.pop_front();
                behind = int(m_queue.size());
            }
            const bool written = writeFrame(job.buffer, job.position);
            {
                std::lock_guard lock(m_mutex);
                m_free.push_back(job.buffer);
                if (!written)
                    m_failed = true;
            }
            m_freed.notify_all();
            if (m_onWritten)
                m_onWritten(job.position, behind);
            if (m_clock->now() - lastFlush >= m_flushInterval) {
                qdx::vfw::flushFile(m_file);
                lastFlush = m_clock->now();
            }
        }
    } catch (...) {
        // The recording goes on without its encoder; finish() reports the film as failed.
        std::lock_guard lock(m_mutex);
        m_failed = true;
        m_queue.clear();
    }
    m_freed.notify_all();
}

bool LiveEncoder::writeFrame(int index, int position) {
    const std::vector<uint8_t>& bits = m_buffers[size_t(index)];
    if (AVIStreamWrite(m_compressed, position, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME,
                       nullptr, nullptr) != AVIERR_OK)
        return false;
    m_lastWritten = position;
    return true;
}

void LiveEncoder::release() {
    // Releasing the compressed stream writes what its encoder still holds.
    if (m_compressed)
        AVIStreamRelease(m_compressed);
    m_compressed = nullptr;
}
