// CTaskThreadPool: N worker threads over one shared list of queued tasks,
// plus a list of cancelled tasks.
//
// Life of a pool: constructed with one idle worker; for each batch
// CancelAndWait(kInfinite), SetThreadCount(n), AddTask for every task,
// StartAll(); during the batch possibly Cancel(true) or CancelAndWait; at the
// owner's end Shutdown(kInfinite). Each worker's thread ends as soon as it
// finds the queued list empty, so threads are created per batch.
//
// Every member function belongs to the owner's thread, except IsClosing,
// which a task's result callback may read on a worker's thread (the owner
// drops results while it is true). Timeouts are in milliseconds, kInfinite
// meaning no limit; where several workers are waited for, the timeout is
// given to each worker's Wait in turn.
//
// Destroying a pool shuts it down without time limit first: no thread is
// left running on a freed list.
#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "batch/LockedTaskList.h"
#include "batch/MultiTaskThread.h"
#include "trim/AutoTrimTask.h"

template <class TTask>
class CBasicTaskThreadPool {
  public:
    using TaskPtr = boost::shared_ptr<TTask>;
    using Worker = CMultiTaskThread<TTask>;
    using WorkerPtr = boost::shared_ptr<Worker>;

    // One idle worker, not started.
    CBasicTaskThreadPool() { SetThreadCount(1); }
    CBasicTaskThreadPool(const CBasicTaskThreadPool&) = delete;
    CBasicTaskThreadPool& operator=(const CBasicTaskThreadPool&) = delete;
    ~CBasicTaskThreadPool() { Shutdown(kInfinite); }

    // Makes the pool hold `n` workers: n <= 0 or the current count changes
    // nothing; fewer are removed from the end, more are appended as new idle
    // workers. Call only while no worker runs (a removed worker that still
    // runs is waited for without time limit).
    void SetThreadCount(int n) {
        if (n <= 0 || static_cast<std::size_t>(n) == m_workers.size()) {
            return;
        }
        const auto count = static_cast<std::size_t>(n);
        while (m_workers.size() > count) {
            m_workers.pop_back();
        }
        while (m_workers.size() < count) {
            m_workers.push_back(WorkerPtr(new Worker(&m_queued)));
        }
    }
    int ThreadCount() const { return static_cast<int>(m_workers.size()); }

    // Start() on every worker in order, even after a failure; true only if
    // every worker is running afterwards.
    bool StartAll() {
        bool all = true;
        for (const WorkerPtr& worker : m_workers) {
            all = worker->Start() && all;
        }
        return all;
    }

    // Appends to the end of the queued list (std::length_error when full).
    void AddTask(TaskPtr task) { m_queued.Append(std::move(task)); }
    // Tasks that follow the queued ones, made as workers ask for them (see
    // CLockedTaskList::SetFeed). Cancel, CancelAndWait and Shutdown close it.
    void SetFeed(typename CLockedTaskList<TTask>::FeedPtr feed) {
        m_queued.SetFeed(std::move(feed));
    }

    // Closes the feed, moves every queued task, in order, to the end of the
    // cancelled list (where it is never run), then writes `terminate` into
    // every worker's terminate flag. Running tasks go on; does not wait.
    void Cancel(bool terminate) {
        m_queued.SetFeed(nullptr);
        while (TaskPtr task = m_queued.Pop()) {
            m_cancelled.Append(std::move(task));
        }
        for (const WorkerPtr& worker : m_workers) {
            worker->SetTerminate(terminate);
        }
    }

    // Cancel(true), Wait(timeoutMs) on every worker, then empties both lists.
    void CancelAndWait(std::uint32_t timeoutMs) {
        Cancel(true);
        WaitAll(timeoutMs);
        m_queued.Clear();
        m_cancelled.Clear();
    }

    // Raises the closing flag and every worker's quit flag (no worker starts
    // again), waits for every worker, then empties both lists. Tasks that
    // are running finish; nothing further is taken from the list.
    void Shutdown(std::uint32_t timeoutMs) {
        m_closing.store(true);
        m_queued.SetFeed(nullptr);
        for (const WorkerPtr& worker : m_workers) {
            worker->SetQuit(true);
        }
        WaitAll(timeoutMs);
        m_queued.Clear();
        m_cancelled.Clear();
    }

    // True from the start of Shutdown on. Safe from any thread.
    bool IsClosing() const { return m_closing.load(); }

    // Wait(timeoutMs) on every worker in order; true when none runs after.
    bool WaitAll(std::uint32_t timeoutMs) {
        for (const WorkerPtr& worker : m_workers) {
            worker->Wait(timeoutMs);
        }
        return !AnyWorkerRunning();
    }
    // True while some worker's thread has not ended.
    bool AnyWorkerRunning() const {
        for (const WorkerPtr& worker : m_workers) {
            if (worker->IsRunning()) {
                return true;
            }
        }
        return false;
    }

    const std::vector<WorkerPtr>& Workers() const { return m_workers; }
    CLockedTaskList<TTask>& Queued() { return m_queued; }
    CLockedTaskList<TTask>& Cancelled() { return m_cancelled; }

  private:
    std::atomic<bool> m_closing{false};
    std::vector<WorkerPtr> m_workers;
    CLockedTaskList<TTask> m_queued;     // not yet taken by any worker
    CLockedTaskList<TTask> m_cancelled;  // taken off by Cancel, never run
};

extern template class CMultiTaskThread<CAutoTrimTask>;
extern template class CBasicTaskThreadPool<CAutoTrimTask>;

using CAutoTrimThread = CMultiTaskThread<CAutoTrimTask>;
using CTaskThreadPool = CBasicTaskThreadPool<CAutoTrimTask>;
