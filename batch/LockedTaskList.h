// CLockedTaskList: a first-in first-out list of shared tasks, safe to use
// from several threads.
//
// Every operation takes the list's own lock for the list operation only;
// no task code runs under it and no other lock is taken with it. The list
// owns the tasks it holds; a task popped off it lives on with whoever holds
// the returned pointer.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <list>
#include <mutex>
#include <stdexcept>
#include <vector>

template <class TTask>
class CLockedTaskList {
  public:
    using TaskPtr = boost::shared_ptr<TTask>;

    // `maxSize` is the most tasks the list may hold (default: no limit
    // beyond the container's own).
    explicit CLockedTaskList(std::size_t maxSize = std::list<TaskPtr>().max_size())
        : m_maxSize(maxSize) {}
    CLockedTaskList(const CLockedTaskList&) = delete;
    CLockedTaskList& operator=(const CLockedTaskList&) = delete;

    // Removes and returns the first task; an empty pointer when the list is
    // empty.
    TaskPtr Pop() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_tasks.empty()) {
            return TaskPtr();
        }
        TaskPtr task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    // Appends at the end. Throws std::length_error("list<T> too long"), and
    // leaves the list as it was, when the list already holds maxSize tasks.
    void Append(TaskPtr task) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_tasks.size() >= m_maxSize) {
            throw std::length_error("list<T> too long");
        }
        m_tasks.push_back(std::move(task));
    }

    // Releases every task. The tasks themselves are destroyed after the lock
    // is given up, so a task's destructor never runs under it.
    void Clear() {
        std::list<TaskPtr> released;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            released.swap(m_tasks);
        }
    }

    std::size_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tasks.size();
    }

    // A copy of the list's contents, first task first.
    std::vector<TaskPtr> Snapshot() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::vector<TaskPtr>(m_tasks.begin(), m_tasks.end());
    }

  private:
    mutable std::mutex m_mutex;
    std::list<TaskPtr> m_tasks;
    std::size_t m_maxSize;
};
