#include "batch/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "batch/tests/Sync.h"

namespace {

// Counts its entries, holds until the gate opens, then returns `result` or
// throws.
class GatedThread : public CThreadImpl<GatedThread> {
  public:
    ~GatedThread() override { QuitAndJoin(); }
    std::uint32_t Run() override {
        entries.Add();
        gate.WaitOpen();
        if (throwFromRun) {
            throw std::runtime_error("task failed");
        }
        return result;
    }

    testsync::Gate gate;
    testsync::Counter entries;
    std::atomic<std::uint32_t> result{7};
    std::atomic<bool> throwFromRun{false};
};

TEST(Thread, StartOnRunningThreadKeepsThreadAndFlags) {
    GatedThread t;
    EXPECT_EQ(t.LastExitCode(), kStillActive);
    t.Wait(kInfinite);  // no thread open: returns at once
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.entries.WaitAtLeast(1));
    const std::uint32_t tid = t.ThreadId();
    EXPECT_NE(tid, 0u);

    t.SetTerminate(true);
    EXPECT_TRUE(t.Start());
    EXPECT_TRUE(t.IsTerminated()) << "a running thread's terminate flag is left alone";
    t.Wait(0);  // returns while the thread holds, keeping it open
    EXPECT_TRUE(t.IsRunning());
    EXPECT_EQ(t.ThreadId(), tid);
    EXPECT_EQ(t.LastExitCode(), kStillActive);

    t.gate.Open();
    t.Wait(kInfinite);
    EXPECT_FALSE(t.IsRunning());
    EXPECT_EQ(t.ThreadId(), 0u);
    EXPECT_EQ(t.LastExitCode(), 7u);
    EXPECT_EQ(t.entries.Value(), 1) << "no second thread was started";
}

TEST(Thread, StartAfterEndWithoutWaitJoinsThenStartsAfresh) {
    GatedThread t;
    t.gate.Open();
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(testsync::PollUntil([&] { return !t.IsRunning(); }));
    EXPECT_NE(t.ThreadId(), 0u) << "ended but not joined: still open";
    EXPECT_EQ(t.LastExitCode(), kStillActive);

    t.SetTerminate(true);
    t.result = 9;
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.IsTerminated()) << "a new thread starts with the terminate flag cleared";
    EXPECT_EQ(t.LastExitCode(), 7u) << "the old thread was joined first";
    t.Wait(kInfinite);
    EXPECT_EQ(t.entries.Value(), 2);
    EXPECT_EQ(t.LastExitCode(), 9u);
}

// Quit refuses a start, terminate alone does not; an exception from Run
// ends the thread with its own code and leaves the object usable.
TEST(Thread, QuitRefusesStartAndExceptionEndsWithItsCode) {
    GatedThread t;
    t.SetQuit(true);
    EXPECT_TRUE(t.IsTerminated());
    EXPECT_FALSE(t.Start());
    EXPECT_EQ(t.entries.Value(), 0);

    t.SetQuit(false);
    t.SetTerminate(true);
    EXPECT_FALSE(t.IsQuitRequested());
    t.gate.Open();
    t.throwFromRun = true;
    ASSERT_TRUE(t.Start());
    t.Wait(kInfinite);
    EXPECT_EQ(t.LastExitCode(), kExitCodeException);

    t.throwFromRun = false;
    ASSERT_TRUE(t.Start());
    t.Wait(kInfinite);
    EXPECT_EQ(t.LastExitCode(), 7u);
    EXPECT_EQ(t.entries.Value(), 2);
}

}  // namespace
