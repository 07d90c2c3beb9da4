#include "image/MemoryBudget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

class StopFlag : public CTerminable {
  public:
    bool IsTerminated() const override { return stop.load(); }
    std::atomic<bool> stop{false};
};

// Waits until `done` holds (at most a minute).
template <class Done>
bool WaitFor(Done done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

TEST(MemoryBudget, SizesFromTheEnvironment) {
    struct Case {
        const char* text;
        std::uint64_t bytes;  // 0: refused
    };
    for (const Case& c :
         {Case{"4096", 4096ull << 20}, Case{"512M", 512ull << 20}, Case{"3g", 3ull << 30},
          Case{"2GiB", 2ull << 30}, Case{"1T", 1ull << 40}, Case{"64kb", 64ull << 10}, Case{"", 0},
          Case{"0", 0}, Case{"G", 0}, Case{"12X", 0}, Case{"1.5G", 0}, Case{"-1", 0},
          Case{"5MiBs", 0}, Case{"99999999999999999999", 0}, Case{"17179869184T", 0}}) {
        std::uint64_t bytes = 7;
        EXPECT_EQ(ParseMemorySize(c.text, bytes), c.bytes != 0) << c.text;
        EXPECT_EQ(bytes, c.bytes != 0 ? c.bytes : 7) << c.text;
    }
}

// What may be reserved, and when: too large at once, a lasting reservation
// counting against every other, bytes coming back with the reservation.
TEST(MemoryBudget, ReservesWithinTheTotal) {
    CMemoryBudget budget(100);
    CMemoryReservation lasting, a, b;
    EXPECT_EQ(budget.Reserve(a, 101), kTooLarge);
    ASSERT_EQ(budget.TryReserve(lasting, 30, true), S_OK);
    EXPECT_EQ(budget.Available(), 70u);
    EXPECT_EQ(budget.Reserve(a, 71), kTooLarge);
    ASSERT_EQ(budget.Reserve(a, 70), S_OK);
    EXPECT_EQ(budget.TryReserve(b, 1), S_FALSE);
    EXPECT_EQ(b.Bytes(), 0u);
    CMemoryReservation moved = std::move(a);
    EXPECT_EQ(budget.Held(), 100u);
    moved.Release();
    lasting.Release();
    EXPECT_EQ(budget.Available(), 100u);
    ASSERT_EQ(budget.TryReserve(b, 100), S_OK);
    EXPECT_EQ(budget.PeakHeld(), 100u);
}

// Requests are served in the order they were made: a small one does not
// overtake a large one that waits; a stop ends a wait.
TEST(MemoryBudget, WaitersAreServedInOrderAndStop) {
    CMemoryBudget budget(100);
    CMemoryReservation held;
    ASSERT_EQ(budget.Reserve(held, 60), S_OK);

    CMemoryReservation large, small;
    std::atomic<HRESULT> largeResult{E_FAIL}, smallResult{E_FAIL};
    std::thread first([&] { largeResult = budget.Reserve(large, 50); });
    ASSERT_TRUE(WaitFor([&] { return budget.TryReserve(small, 1) == S_FALSE; }));
    std::thread second([&] { smallResult = budget.Reserve(small, 10); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(smallResult.load(), E_FAIL) << "waits behind the large one although it fits";
    held.Release();
    first.join();
    second.join();
    EXPECT_EQ(largeResult.load(), S_OK);
    EXPECT_EQ(smallResult.load(), S_OK);
    EXPECT_EQ(budget.Held(), 60u);

    StopFlag stop;
    CMemoryReservation stopped;
    std::atomic<HRESULT> stoppedResult{E_FAIL};
    std::thread waiter([&] { stoppedResult = budget.Reserve(stopped, 90, &stop); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.stop = true;
    waiter.join();
    EXPECT_EQ(stoppedResult.load(), E_ABORT);
    EXPECT_EQ(stopped.Bytes(), 0u);
    large.Release();
    small.Release();
    EXPECT_EQ(budget.TryReserve(stopped, 100), S_OK) << "the stopped request left the queue";
    EXPECT_EQ(budget.PeakHeld(), 100u);
}

}  // namespace
