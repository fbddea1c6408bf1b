#pragma once

// A clock for tests of paced loops (the recorder): its time passes only when someone waits, and a
// wait that is not woken jumps straight to its deadline. Loops then run at full speed and their
// pacing is exact, whatever the machine's load.

#include "platform/core/Clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace qdx::test {

class VirtualClock : public qdx::Clock {
public:
    time_point now() override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void advance(duration d) {
        std::lock_guard lock(m_mutex);
        m_now += d;
    }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& condition,
                   time_point when, const std::function<bool()>& wake) override {
        if (wake())
            return true;
        // Let other threads in for a moment, as a real wait would.
        condition.wait_for(lock, std::chrono::microseconds(50), wake);
        if (wake())
            return true;
        std::lock_guard guard(m_mutex);
        m_now = std::max(m_now, when);
        return false;
    }

private:
    std::mutex m_mutex;
    time_point m_now{};
};

} // namespace qdx::test
