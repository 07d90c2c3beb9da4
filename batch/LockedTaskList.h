// CLockedTaskList: a first-in first-out list of shared tasks, safe to use
// from several threads, optionally followed by a feed that makes further
// tasks as they are asked for (so that a batch of a million files never
// holds a million tasks).
//
// Every operation takes the list's own lock for the list operation only;
// no task code runs under it and no other lock is taken with it (the feed
// is asked after the list's lock is given up). The list owns the tasks it
// holds; a task popped off it lives on with whoever holds the returned
// pointer.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <list>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

// Makes the tasks that follow a list's own, one per call, from any thread.
template <class TTask>
class ITaskFeed {
  public:
    virtual ~ITaskFeed() = default;
    // The next task, or an empty pointer once there are no more.
    virtual boost::shared_ptr<TTask> Next() = 0;
    // From now on Next gives no task, also to a caller already inside it
    // when Close returns.
    virtual void Close() = 0;
};

template <class TTask>
class CLockedTaskList {
  public:
    using TaskPtr = boost::shared_ptr<TTask>;
    using FeedPtr = boost::shared_ptr<ITaskFeed<TTask>>;

    // `maxSize` is the most tasks the list may hold (default: no limit
    // beyond the container's own).
    explicit CLockedTaskList(std::size_t maxSize = std::list<TaskPtr>().max_size())
        : m_maxSize(maxSize) {}
    CLockedTaskList(const CLockedTaskList&) = delete;
    CLockedTaskList& operator=(const CLockedTaskList&) = delete;

    // Removes and returns the first task; when the list is empty, the feed's
    // next task; an empty pointer when neither has one.
    TaskPtr Pop() {
        FeedPtr feed;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_tasks.empty()) {
                TaskPtr task = std::move(m_tasks.front());
                m_tasks.pop_front();
                return task;
            }
            feed = m_feed;
        }
        return feed ? feed->Next() : TaskPtr();
    }

    // The feed asked once the list is empty (replacing any earlier one,
    // which is closed); null for none.
    void SetFeed(FeedPtr feed) {
        FeedPtr old;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            old = std::exchange(m_feed, std::move(feed));
        }
        if (old) {
            old->Close();
        }
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

    // Releases every task and closes and drops the feed. The tasks
    // themselves are destroyed after the lock is given up, so a task's
    // destructor never runs under it.
    void Clear() {
        std::list<TaskPtr> released;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            released.swap(m_tasks);
        }
        SetFeed(nullptr);
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
    FeedPtr m_feed;
    std::size_t m_maxSize;
};
