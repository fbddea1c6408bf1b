#pragma once

// A thread that runs one job at a time for its owner: the owner starts a job, does other work
// meanwhile, then waits for the job. The frame getter converts a picture on it while it decodes the
// next. Owned by one thread; start() and wait() are called by the owner only.

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace qdx::vfw {

class JobThread {
public:
    JobThread();
    ~JobThread();
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    // Hands the job to the thread. The previous job must have been waited for.
    void start(std::function<void()> job);
    // Waits for the job to end; rethrows what it threw.
    void wait();

private:
    void run(std::stop_token stop);

    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::function<void()> m_job;
    bool m_busy = false;
    std::exception_ptr m_error;
    std::jthread m_thread;
};

} // namespace qdx::vfw
