#include "batch/TaskThreadPool.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/make_shared.hpp>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include "batch/tests/Sync.h"

namespace {

using testsync::Counter;
using testsync::Gate;

// A task whose work the test chooses. `reported` counts the runs whose work
// returned, as CAutoTrimTask reports only then.
struct TestTask {
    using Work = std::function<void(TestTask&)>;

    explicit TestTask(int id_, Work work_ = {}) : id(id_), work(std::move(work_)) {}
    void SetRunner(const CTerminable* r) { runner = r; }
    void Run() {
        runs.fetch_add(1);
        if (work) {
            work(*this);
        }
        reported.fetch_add(1);
        if (onReported) {
            onReported();
        }
    }

    const int id;
    Work work;
    std::function<void()> onReported;
    const CTerminable* runner = nullptr;
    std::atomic<int> runs{0};
    std::atomic<int> reported{0};
};

using TaskPtr = boost::shared_ptr<TestTask>;
using Pool = CBasicTaskThreadPool<TestTask>;

std::vector<TaskPtr> AddTasks(Pool& pool, int count, const TestTask::Work& work = {}) {
    std::vector<TaskPtr> tasks;
    for (int i = 0; i < count; ++i) {
        tasks.emplace_back(new TestTask(i, work));
        pool.AddTask(tasks.back());
    }
    return tasks;
}

std::vector<int> Ids(const std::vector<TaskPtr>& tasks) {
    std::vector<int> ids;
    for (const TaskPtr& t : tasks) {
        ids.push_back(t->id);
    }
    return ids;
}

TEST(LockedTaskList, FirstInFirstOutAndLengthLimit) {
    CLockedTaskList<TestTask> list(2);
    EXPECT_FALSE(list.Pop());
    list.Append(TaskPtr(new TestTask(1)));
    list.Append(TaskPtr(new TestTask(2)));
    try {
        list.Append(TaskPtr(new TestTask(3)));
        ADD_FAILURE() << "no length error";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "list<T> too long");
    }
    EXPECT_EQ(list.Pop()->id, 1);
    list.Append(TaskPtr(new TestTask(4)));
    EXPECT_EQ(Ids(list.Snapshot()), (std::vector<int>{2, 4}));
    list.Clear();
    EXPECT_FALSE(list.Pop());
}

// Several threads append and pop on one list at once: every task comes out
// exactly once (ThreadSanitizer in CI sees any access outside the lock).
TEST(LockedTaskList, ConcurrentAppendAndPopHandOutEachTaskOnce) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    CLockedTaskList<TestTask> list;
    std::vector<std::vector<int>> popped(kThreads + 1);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
                sched_yield();
            }
            for (int i = 0; i < kPerThread; ++i) {
                list.Append(TaskPtr(new TestTask(t * kPerThread + i)));
                if (const TaskPtr task = list.Pop()) {
                    popped[t].push_back(task->id);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    while (const TaskPtr task = list.Pop()) {
        popped[kThreads].push_back(task->id);
    }
    std::vector<int> all;
    for (const std::vector<int>& ids : popped) {
        all.insert(all.end(), ids.begin(), ids.end());
    }
    std::sort(all.begin(), all.end());
    std::vector<int> expected(kThreads * kPerThread);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(all, expected);
}

TEST(TaskThreadPool, ThreadCountIgnoresNonPositiveAndShrinksFromTheEnd) {
    Pool pool;
    ASSERT_EQ(pool.ThreadCount(), 1);
    const auto first = pool.Workers()[0];
    pool.SetThreadCount(0);
    pool.SetThreadCount(-1);
    EXPECT_EQ(pool.ThreadCount(), 1);
    pool.SetThreadCount(3);
    pool.SetThreadCount(1);
    ASSERT_EQ(pool.ThreadCount(), 1);
    EXPECT_EQ(pool.Workers()[0], first);
}

TEST(TaskThreadPool, EveryTaskRunsExactlyOnce) {
    for (const auto& [count, workers] : {std::pair{200, 4}, std::pair{3, 8}, std::pair{0, 3}}) {
        SCOPED_TRACE(testing::Message() << count << " tasks, " << workers << " workers");
        Pool pool;
        pool.SetThreadCount(workers);
        auto tasks = AddTasks(pool, count);
        EXPECT_TRUE(pool.StartAll());
        EXPECT_TRUE(pool.WaitAll(kInfinite));
        for (const TaskPtr& t : tasks) {
            EXPECT_EQ(t->runs.load(), 1) << "task " << t->id;
        }
        EXPECT_EQ(pool.Queued().Size(), 0u);
        for (const auto& worker : pool.Workers()) {
            EXPECT_EQ(worker->LastExitCode(), 0u);
        }
    }
}

TEST(TaskThreadPool, CancelWhileBusyTakesNoFurtherTaskAndKeepsQueuedOrder) {
    Pool pool;
    pool.SetThreadCount(2);
    Gate gate;
    Counter started;
    std::atomic<int> sawStop{0};
    auto tasks = AddTasks(pool, 6, [&](TestTask& t) {
        started.Add();
        gate.WaitOpen();
        sawStop.fetch_add(StopRequested(t.runner) ? 1 : 0);
    });
    ASSERT_TRUE(pool.StartAll());
    ASSERT_TRUE(started.WaitAtLeast(2));  // each worker holds one task

    pool.Cancel(true);
    EXPECT_EQ(pool.Queued().Size(), 0u);
    EXPECT_EQ(Ids(pool.Cancelled().Snapshot()), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_TRUE(pool.AnyWorkerRunning()) << "Cancel does not wait";

    gate.Open();
    EXPECT_TRUE(pool.WaitAll(kInfinite));
    EXPECT_EQ(sawStop.load(), 2) << "running tasks see the stop request";
    for (const TaskPtr& t : tasks) {
        EXPECT_EQ(t->runs.load(), t->id < 2 ? 1 : 0) << "task " << t->id;
    }
    pool.CancelAndWait(kInfinite);
    EXPECT_EQ(pool.Cancelled().Size(), 0u);

    // The same workers serve the next batch: Start lowers the terminate flag.
    auto next = AddTasks(pool, 4);
    EXPECT_TRUE(pool.StartAll());
    EXPECT_TRUE(pool.WaitAll(kInfinite));
    for (const TaskPtr& t : next) {
        EXPECT_EQ(t->runs.load(), 1) << "task " << t->id;
    }
}

// Makes `limit` tasks, ids from 100, and keeps them.
class TestFeed : public ITaskFeed<TestTask> {
  public:
    TestFeed(int limit, TestTask::Work work) : m_limit(limit), m_work(std::move(work)) {}
    TaskPtr Next() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed || static_cast<int>(made.size()) == m_limit) {
            return TaskPtr();
        }
        made.emplace_back(new TestTask(100 + static_cast<int>(made.size()), m_work));
        return made.back();
    }
    void Close() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    std::vector<TaskPtr> Made() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return made;
    }

  private:
    std::mutex m_mutex;
    const int m_limit;
    const TestTask::Work m_work;
    std::vector<TaskPtr> made;
    bool m_closed = false;
};

// The feed's tasks follow the queued ones, each made and run once; after
// Cancel it makes none, also for workers that go on.
TEST(TaskThreadPool, FeedFollowsTheQueueUntilCancelled) {
    Pool pool;
    pool.SetThreadCount(3);
    auto queued = AddTasks(pool, 2);
    auto feed = boost::make_shared<TestFeed>(50, TestTask::Work());
    pool.SetFeed(feed);
    ASSERT_TRUE(pool.StartAll());
    EXPECT_TRUE(pool.WaitAll(kInfinite));
    std::vector<TaskPtr> all = feed->Made();
    EXPECT_EQ(all.size(), 50u);
    all.insert(all.end(), queued.begin(), queued.end());
    for (const TaskPtr& t : all) {
        EXPECT_EQ(t->runs.load(), 1) << "task " << t->id;
    }

    Gate gate;
    Counter started;
    auto gated = boost::make_shared<TestFeed>(50, [&](TestTask&) {
        started.Add();
        gate.WaitOpen();
    });
    pool.SetThreadCount(2);
    pool.SetFeed(gated);
    ASSERT_TRUE(pool.StartAll());
    ASSERT_TRUE(started.WaitAtLeast(2));
    pool.Cancel(false);
    gate.Open();
    EXPECT_TRUE(pool.WaitAll(kInfinite));
    EXPECT_EQ(gated->Made().size(), 2u);
}

TEST(TaskThreadPool, CancelWithoutTerminateLetsWorkersGoOn) {
    Pool pool;
    Gate gate;
    Counter started;
    auto tasks = AddTasks(pool, 3, [&](TestTask&) {
        started.Add();
        gate.WaitOpen();
    });
    ASSERT_TRUE(pool.StartAll());
    ASSERT_TRUE(started.WaitAtLeast(1));
    pool.Cancel(false);
    EXPECT_FALSE(pool.Workers()[0]->IsTerminated());
    gate.Open();
    EXPECT_TRUE(pool.WaitAll(kInfinite));
    EXPECT_EQ(Ids(pool.Cancelled().Snapshot()), (std::vector<int>{1, 2}));
    EXPECT_EQ(tasks[1]->runs.load() + tasks[2]->runs.load(), 0);
}

TEST(TaskThreadPool, TaskExceptionEndsOnlyItsWorkerUnreported) {
    Pool pool;
    pool.SetThreadCount(2);
    auto tasks = AddTasks(pool, 20, [](TestTask& t) {
        if (t.id == 0) {
            throw std::runtime_error("broken task");
        }
    });
    ASSERT_TRUE(pool.StartAll());
    EXPECT_TRUE(pool.WaitAll(kInfinite));
    EXPECT_EQ(tasks[0]->reported.load(), 0);
    for (std::size_t i = 1; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i]->reported.load(), 1) << "task " << i;
    }
    std::vector<std::uint32_t> codes;
    for (const auto& worker : pool.Workers()) {
        codes.push_back(worker->LastExitCode());
    }
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes, (std::vector<std::uint32_t>{0u, kExitCodeException}));
}

TEST(TaskThreadPool, ShutdownWaitsForRunningTasksAndDropsTheirResults) {
    Pool pool;
    pool.SetThreadCount(2);
    Gate gate;
    Counter started;
    std::atomic<int> delivered{0};
    auto tasks = AddTasks(pool, 5, [&](TestTask&) {
        started.Add();
        gate.WaitOpen();
    });
    for (const TaskPtr& t : tasks) {
        // The owner's callback: results arriving while closing are dropped.
        t->onReported = [&] { delivered.fetch_add(pool.IsClosing() ? 0 : 1); };
    }
    ASSERT_TRUE(pool.StartAll());
    ASSERT_TRUE(started.WaitAtLeast(2));

    auto shutdown = std::async(std::launch::async, [&] { pool.Shutdown(kInfinite); });
    ASSERT_TRUE(testsync::PollUntil([&] { return pool.IsClosing(); }));
    EXPECT_EQ(shutdown.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "Shutdown returned while tasks were still held";
    gate.Open();
    shutdown.get();

    EXPECT_EQ(tasks[0]->reported.load() + tasks[1]->reported.load(), 2);
    EXPECT_EQ(delivered.load(), 0);
    EXPECT_FALSE(pool.AnyWorkerRunning());
    for (std::size_t i = 2; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i]->runs.load(), 0) << "task " << i;
    }
    EXPECT_FALSE(pool.StartAll()) << "workers never start again after Shutdown";
}

TEST(TaskThreadPool, DestroyingPoolStopsAndJoinsRunningWorkers) {
    auto pool = std::make_unique<Pool>();
    Counter started;
    std::atomic<bool> cutShort{false};
    auto tasks = AddTasks(*pool, 2, [&](TestTask& t) {
        started.Add();
        while (!StopRequested(t.runner)) {
            std::this_thread::yield();
        }
        cutShort = true;
    });
    ASSERT_TRUE(pool->StartAll());
    ASSERT_TRUE(started.WaitAtLeast(1));
    pool.reset();
    EXPECT_TRUE(cutShort);
    EXPECT_EQ(tasks[1]->runs.load(), 0);
    EXPECT_EQ(tasks[0].use_count(), 1) << "the pool released its task";
}

TEST(TaskThreadPool, WorkersRunAtIdlePriority) {
    Pool pool;
    int policy = -1, nice = -100;
    AddTasks(pool, 1, [&](TestTask&) {
        policy = sched_getscheduler(0);
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    });
    ASSERT_TRUE(pool.StartAll());
    ASSERT_TRUE(pool.WaitAll(kInfinite));
    EXPECT_TRUE(policy == SCHED_IDLE || nice == 19) << "policy " << policy << ", nice " << nice;
    EXPECT_NE(sched_getscheduler(0), SCHED_IDLE) << "the owner's thread keeps its priority";
}

}  // namespace
