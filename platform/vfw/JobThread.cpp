#include "platform/vfw/JobThread.h"

#include <utility>

namespace qdx::vfw {

JobThread::JobThread() : m_thread([this](std::stop_token stop) { run(stop); }) {}

JobThread::~JobThread() {
    m_thread.request_stop();
    // jthread joins; the stop request wakes the waiting thread through the condition variable.
}

void JobThread::start(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        m_job = std::move(job);
        m_busy = true;
        m_error = nullptr;
    }
    m_changed.notify_all();
}

void JobThread::wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_busy; });
    if (m_error)
        std::rethrow_exception(std::exchange(m_error, nullptr));
}

void JobThread::run(std::stop_token stop) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(lock, stop, [this] { return m_busy && m_job; }))
                return; // stop requested
            job = std::move(m_job);
            m_job = nullptr;
        }
        std::exception_ptr error;
        try {
            job();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(m_mutex);
            m_error = error;
            m_busy = false;
        }
        m_changed.notify_all();
    }
}

} // namespace qdx::vfw
