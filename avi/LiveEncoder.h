#pragma once

#include "platform/core/Clock.h"
#include "platform/vfw/Vfw.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The encoding thread of a recording compressed while it records. The recording thread fills one
// of a few frame buffers with a frame's DIB bits and queues it with its position; this thread
// writes each through the compressed stream (AVIMakeCompressedStream over the film's stream),
// which encodes it and writes the sample at that position. When every buffer still waits to be
// encoded the recording thread gets none: it counts the frame as dropped and its position stays
// empty, so the queue never grows past its buffers and memory stays flat.
//
// Once started, this thread is the only one that touches the film (its writes and its flushes)
// until finish() has joined it. Owned by the recording thread.
class LiveEncoder {
public:
    // Frames that may wait for the encoder: enough to ride out a slow frame (a key frame, a
    // moment of load), few enough that the frames stay recent and memory small.
    static constexpr int kQueueFrames = 4;

    // Raised on this thread after each frame written, with its position and the frames still
    // waiting behind it.
    using Written = std::function<void(int position, int waiting)>;

    // Takes over `compressed`, whose format is already set; `file` is flushed every
    // `flushInterval` of the clock.
    LiveEncoder(PAVIFILE file, PAVISTREAM compressed, size_t frameBytes,
                std::shared_ptr<qdx::Clock> clock, qdx::Clock::duration flushInterval,
                Written onWritten);
    // Ends the thread without waiting for the queue (finish() is the orderly end).
    ~LiveEncoder();
    LiveEncoder(const LiveEncoder&) = delete;
    LiveEncoder& operator=(const LiveEncoder&) = delete;

    // A free buffer of frameBytes for the next frame, or nullptr when all of them wait for the
    // encoder (the frame is dropped) or the encoder has failed. With `wait`, waits for one
    // instead (queued bitmaps are all recorded). The same buffer comes back until submitted.
    uint8_t* buffer(bool wait); // the recording thread (as submit and finish)
    // Queues the buffer last given for a position.
    void submit(int position);
    // Encodes every frame queued, writes an empty sample at `lastPosition` when the frames there
    // were dropped (the film keeps its length), lets out what the encoder holds and joins the
    // thread. False when a frame could not be written.
    bool finish(int lastPosition);

private:
    void run();
    bool writeFrame(int index, int position);
    void release();

    PAVIFILE m_file;
    PAVISTREAM m_compressed;
    std::shared_ptr<qdx::Clock> m_clock;
    qdx::Clock::duration m_flushInterval;
    Written m_onWritten;

    std::vector<std::vector<uint8_t>> m_buffers;
    int m_filling = -1; // the buffer the recording thread has, not yet submitted

    mutable std::mutex m_mutex;
    std::condition_variable m_queued; // a frame waits, or the thread must end
    std::condition_variable m_freed;  // a buffer is free again, or the encoder failed
    std::deque<int> m_free;
    struct Job {
        int buffer;
        int position;
    };
    std::deque<Job> m_queue;
    int m_lastWritten = -1;
    bool m_stop = false;   // finish(): end once the queue is empty
    bool m_abort = false;  // the destructor: end now
    bool m_failed = false; // a frame could not be written (or the thread failed)
    std::thread m_thread;
};
