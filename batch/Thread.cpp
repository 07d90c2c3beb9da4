#include "batch/Thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct CThread::Handle {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;  // priority applied, tid known
    bool ended = false;    // entry returned; exitCode final
    std::uint32_t tid = 0;
    std::uint32_t exitCode = kStillActive;
};

namespace {

void ApplyPriority(int priority) {
    if (priority != kThreadPriorityIdle) {
        return;
    }
    sched_param param{};
    param.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0) {
        return;
    }
    // Some containers refuse SCHED_IDLE; the nice value is per thread on Linux.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace

CThread::CThread() = default;

CThread::~CThread() {
    QuitAndJoin();
}

bool CThread::IsTerminated() const {
    return m_terminate.load() || m_quit.load();
}

bool CThread::IsRunning() const {
    if (!m_handle) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_handle->mutex);
    return !m_handle->ended;
}

bool CThread::StartThread(ThreadEntry entry) {
    if (m_quit.load()) {
        return false;
    }
    if (m_handle) {
        if (IsRunning()) {
            return true;
        }
        WaitThread(kInfinite);
    }
    m_terminate.store(false);

    auto handle = std::make_unique<Handle>();
    Handle* h = handle.get();
    const int priority = m_priority;
    try {
        h->thread = std::thread([this, h, entry, priority] {
            ApplyPriority(priority);
            {
                std::lock_guard<std::mutex> lock(h->mutex);
                h->tid = static_cast<std::uint32_t>(gettid());
                h->started = true;
            }
            h->changed.notify_all();
            const std::uint32_t exitCode = entry(this);
            // Notifying under the lock: the owner may close the handle as
            // soon as it sees `ended`, but it joins first, so `h` outlives us.
            std::lock_guard<std::mutex> lock(h->mutex);
            h->exitCode = exitCode;
            h->ended = true;
            h->changed.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    // Like a thread created suspended and resumed after its priority was
    // set: no task runs before the priority holds.
    {
        std::unique_lock<std::mutex> lock(h->mutex);
        h->changed.wait(lock, [h] { return h->started; });
        m_threadId = h->tid;
    }
    m_handle = std::move(handle);
    return true;
}

void CThread::WaitThread(std::uint32_t timeoutMs) {
    if (!m_handle) {
        return;
    }
    Handle& h = *m_handle;
    {
        std::unique_lock<std::mutex> lock(h.mutex);
        auto ended = [&h] { return h.ended; };
        if (timeoutMs == kInfinite) {
            h.changed.wait(lock, ended);
        } else if (!h.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
            return;
        }
        m_lastExitCode = h.exitCode;
    }
    h.thread.join();
    m_handle.reset();
    m_threadId = 0;
}

void CThread::QuitAndJoin() {
    if (m_handle) {
        m_quit.store(true);
        WaitThread(kInfinite);
    }
}
