// TAviCapture: screen recording on the TThreadCaptura worker.

#include "avi/TAviCapture.h"

#include "avi/TThreadCaptura.h"
#include "platform/core/AppFolder.h"
#include "platform/core/Clock.h"
#include "platform/x11/ScreenGrabber.h"

void TAviCapture::SetScreenSource(std::shared_ptr<qdx::x11::ScreenSource> source) {
    m_screenSource = std::move(source);
}

void TAviCapture::SetClock(std::shared_ptr<qdx::Clock> clock) {
    m_clock = std::move(clock);
}

void TAviCapture::StartRecording() {
    m_paused = false;
    if (recordsToWorkFile()) {
        // Every recording has a work file of its own: one that an earlier recording used may
        // still hold that recording (its moves failed, and the user was told where it is), and
        // creating the film would truncate it. The name given at construction serves the first.
        if (m_recordingTempUsed)
            m_recordingTempFile = qdx::applicationFolder() + NewTempName() + QStringLiteral(".avi");
        m_recordingTempUsed = true;
        m_recordingLock = qdx::WorkFileLock(m_recordingTempFile);
    }
    // The previous recording's thread has ended (StopRecording waited for it); let it go.
    m_thread.reset();
    if (!m_clock)
        m_clock = std::make_shared<qdx::SteadyClock>();
    // Without a source of its own the thread copies the X server's screen, connecting from the
    // recording thread itself.
    m_thread = std::make_unique<TThreadCaptura>(*this, m_screenSource, m_clock);
}

void TAviCapture::ReleaseRecordingTempFile() {
    m_recordingLock.unlock();
}

void TAviCapture::PauseRecording() {
    m_paused = true;
    if (m_thread)
        m_thread->Wake();
}

void TAviCapture::ResumeRecording() {
    m_paused = false;
    if (m_thread)
        m_thread->Wake();
}

void TAviCapture::StopRecording() {
    if (!m_thread || m_thread->Terminated()) {
        // A thread that ended by itself (its queue ran out) is still waited for once.
        if (m_thread)
            m_thread->WaitFor();
        return;
    }
    m_thread->Terminate();
    m_thread->WaitFor();
}

int TAviCapture::DroppedFrames() const {
    return m_thread ? m_thread->DroppedFrames() : 0;
}

QString TAviCapture::RecordingError() const {
    return m_thread ? m_thread->Error() : QString();
}
