// TAviCapture: screen recording on the TThreadCaptura worker.

#include "avi/TAviCapture.h"

#include "avi/TThreadCaptura.h"
#include "platform/core/Clock.h"
#include "platform/x11/ScreenGrabber.h"

#include <QFileInfo>

void TAviCapture::SetScreenSource(std::shared_ptr<qdx::x11::ScreenSource> source) {
    m_screenSource = std::move(source);
}

void TAviCapture::SetClock(std::shared_ptr<qdx::Clock> clock) {
    m_clock = std::move(clock);
}

void TAviCapture::StartRecording() {
    m_paused = false;
    // Locked again when the caller has moved or removed the previous recording's work file: the
    // old lock went with that file.
    if (PermitirCompactacao &&
        (!m_recordingLock.locked() || !QFileInfo::exists(m_recordingTempFile)))
        m_recordingLock = qdx::WorkFileLock(m_recordingTempFile);
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
