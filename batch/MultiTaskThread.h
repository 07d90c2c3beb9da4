// CMultiTaskThread: a worker that takes tasks one at a time from a list it
// shares with its sibling workers and runs each to its end.
//
// TTask needs `void SetRunner(const CTerminable*)` and `void Run()`. The
// worker sets itself as the task's runner just before running it; the
// pointer is valid only during that run. A running task is never
// interrupted: only the task, by asking IsTerminated(), can cut its own work
// short. Once a stop is requested (terminate or quit flag), the worker takes
// no further task. The thread ends as soon as the list is empty.
//
// A new worker has both flags false, no thread, thread id 0 and the idle
// priority.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "batch/LockedTaskList.h"
#include "batch/Thread.h"

template <class TTask>
class CMultiTaskThread : public CThreadImpl<CMultiTaskThread<TTask>> {
  public:
    using TaskPtr = boost::shared_ptr<TTask>;

    // `taskList` is not owned and must outlive the worker.
    explicit CMultiTaskThread(CLockedTaskList<TTask>* taskList) : m_taskList(taskList) {
        this->SetPriority(kThreadPriorityIdle);
    }
    // Sets the quit flag and waits, without time limit, for a thread still
    // open to finish its current task, then releases the task.
    ~CMultiTaskThread() override { this->QuitAndJoin(); }

    // Runs queued tasks until the list is empty or a stop is requested;
    // returns 0. An exception from a task passes through (the thread entry
    // catches it) after the current task was released.
    std::uint32_t Run() override {
        struct ReleaseCurrent {
            TaskPtr& current;
            ~ReleaseCurrent() { current.reset(); }
        } release{m_current};
        while (!this->IsTerminated()) {
            m_current = m_taskList->Pop();
            if (!m_current) {
                break;
            }
            m_current->SetRunner(this);
            m_current->Run();
        }
        return 0;
    }

  private:
    CLockedTaskList<TTask>* m_taskList;
    TaskPtr m_current;  // touched only by the worker's thread while it runs
};
