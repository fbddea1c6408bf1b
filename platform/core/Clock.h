#pragma once

#include <chrono>
#include <functional>
#include <condition_variable>
#include <mutex>

namespace qdx {

// A monotonic clock the recorder paces its frames by; tests give a clock of their own.
class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;
    virtual ~Clock() = default;
    virtual time_point now() = 0;
    // Waits until `when` or until `wake` returns true (checked whenever the condition is
    // notified); returns true when woken early. `lock` holds the mutex of `condition`.
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& condition,
                           time_point when, const std::function<bool()>& wake) = 0;
};

// The steady clock of the machine.
class SteadyClock : public Clock {
public:
    time_point now() override { return std::chrono::steady_clock::now(); }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& condition,
                   time_point when, const std::function<bool()>& wake) override {
        return condition.wait_until(lock, when, wake);
    }
};

} // namespace qdx
