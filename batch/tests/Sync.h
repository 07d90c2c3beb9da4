// Synchronisation helpers for the thread tests: they wait on events they
// control, never on the clock. The time-out only keeps a broken build from
// hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace testsync {

inline constexpr std::chrono::seconds kGenerous{60};

// A counter that can be waited on; a gate is a counter waited on for 1.
class Counter {
  public:
    void Add() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    bool WaitAtLeast(int n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kGenerous, [this, n] { return m_count >= n; });
    }
    int Value() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

// A gate that stays open once opened.
class Gate {
  public:
    void Open() { m_opened.Add(); }
    bool WaitOpen() { return m_opened.WaitAtLeast(1); }

  private:
    Counter m_opened;
};

// Polls a condition that has no event of its own, yielding in between.
template <class Pred>
bool PollUntil(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

}  // namespace testsync
