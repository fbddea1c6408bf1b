#pragma once

#include "platform/core/Clock.h"
#include "platform/core/TBitmap.h"
#include "platform/vfw/Vfw.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class LiveEncoder;
class TAviCapture;

namespace qdx::x11 {
class ScreenSource;
} // namespace qdx::x11

// The recording thread of a TAviCapture: grabs the screen (or takes queued bitmaps), writes every
// frame as an uncompressed DIB at the component's pixel format, and closes the film when told to
// terminate. Frames are paced by the clock, one every Scale / Rate seconds; a frame the machine
// could not grab in time leaves its position empty, so the film lasts as long as the recording.
// Created running; joined by its owner.
class TThreadCaptura {
public:
    TThreadCaptura(TAviCapture& owner, std::shared_ptr<qdx::x11::ScreenSource> screen,
                   std::shared_ptr<qdx::Clock> clock);
    ~TThreadCaptura();
    TThreadCaptura(const TThreadCaptura&) = delete;
    TThreadCaptura& operator=(const TThreadCaptura&) = delete;

    void Terminate();        // thread-safe
    bool Terminated() const; // thread-safe
    // Wakes the thread from a pause or a wait for the next frame (resume, terminate).
    void Wake(); // thread-safe
    // Waits until the thread has ended: the film is closed and OnStop has run.
    void WaitFor();

    int DroppedFrames() const { return m_dropped.load(); } // thread-safe
    QString Error() const;                                 // thread-safe, after WaitFor

private:
    void Execute();
    void OpenRecordingFile();
    // The first frame of the recording; throws when there is none (the screen cannot be copied).
    std::unique_ptr<TBitmap> FirstFrameBitmap();
    // Creates the stream and writes the first frame into it; throws when either fails.
    void CreateRecordingStream(const TBitmap& first);
    void RecordingLoop();
    bool CloseRecording();
    // Writes the bitmap at a position; gives the film's length in milliseconds.
    int WriteRecordedFrame(int position, const TBitmap& bitmap);
    // Compressing while recording: the compressed stream over the film's stream and its encoding
    // thread; the frame handed to it at a position (dropped when it is behind).
    void CreateLiveEncoder();
    int WriteLiveFrame(int position, const TBitmap& frame);
    std::unique_ptr<TBitmap> GrabScreen();
    std::unique_ptr<TBitmap> takeQueuedBitmap();

    TAviCapture& m_owner;
    std::shared_ptr<qdx::x11::ScreenSource> m_screen;
    std::shared_ptr<qdx::Clock> m_clock;

    // The output file, the recording stream and its header, owned by the thread while it runs.
    QString m_target; // the file the recording writes, once created
    bool m_frameWritten = false;
    PAVIFILE m_file = nullptr;
    PAVISTREAM m_stream = nullptr;
    AVISTREAMINFO m_header;
    int m_frameWidth = 0;
    int m_frameHeight = 0;
    int m_lastLength = 0;
    qdx::Clock::time_point m_lastFlush;
    std::unique_ptr<LiveEncoder> m_live; // compressing while recording
    int m_lastPosition = -1;             // the last position given to m_live

    std::atomic<bool> m_terminated{false};
    std::atomic<int> m_dropped{0};
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    QString m_error;
    std::thread m_thread;
};
