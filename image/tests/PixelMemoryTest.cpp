#include "image/PixelMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Every test starts and ends with an empty cache at the default limit.
class PixelMemory : public ::testing::Test {
  protected:
    void SetUp() override { ReleasePixelCache(); }
    void TearDown() override {
        SetPixelCacheLimit(512 * kMiB);
        ReleasePixelCache();
    }
    static std::size_t Reused() { return GetPixelCacheStats().reused; }
    static std::size_t Cached() { return GetPixelCacheStats().cachedBytes; }
};

TEST_F(PixelMemory, BlocksAreUsableAndAligned) {
    for (std::size_t size : {std::size_t{0}, std::size_t{100}, 5 * kMiB}) {
        auto* block = static_cast<unsigned char*>(AllocatePixelBlock(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u);
        std::memset(block, 0xAB, size);
        FreePixelBlock(block);
    }
    FreePixelBlock(nullptr);
    EXPECT_EQ(AllocatePixelBlock(std::size_t{1} << 63), nullptr);
}

TEST_F(PixelMemory, AScopeKeepsTheLargestFreedBlockForASimilarRequest) {
    const PixelCacheScope scope;
    void* small = AllocatePixelBlock(6 * kMiB);
    void* large = AllocatePixelBlock(8 * kMiB);
    void* tiny = AllocatePixelBlock(kMiB);
    FreePixelBlock(large);
    FreePixelBlock(small);  // smaller than the cached one: back to the system
    FreePixelBlock(tiny);   // below the cached minimum
    EXPECT_EQ(Cached(), 8 * kMiB);
    EXPECT_EQ(GetPixelCacheStats().cachedBlocks, 1u);

    // 6 MiB is below 7/8 of the cached 8 MiB, 9 MiB above it: both fresh.
    const std::size_t before = Reused();
    void* other = AllocatePixelBlock(6 * kMiB);
    void* bigger = AllocatePixelBlock(9 * kMiB);
    EXPECT_EQ(Reused(), before);
    void* again = AllocatePixelBlock(7 * kMiB);
    EXPECT_EQ(again, large);
    EXPECT_EQ(Reused(), before + 1);
    EXPECT_EQ(Cached(), 0u);

    // A larger freed block replaces the cached one, an equal one too.
    FreePixelBlock(other);
    FreePixelBlock(bigger);
    EXPECT_EQ(Cached(), 9 * kMiB);
    FreePixelBlock(again);
    EXPECT_EQ(Cached(), 9 * kMiB);
}

TEST_F(PixelMemory, OnlyScopesKeepBlocksAndTheLastReleasesThem) {
    FreePixelBlock(AllocatePixelBlock(8 * kMiB));
    EXPECT_EQ(Cached(), 0u);
    {
        const PixelCacheScope outer;
        {
            const PixelCacheScope inner;
            FreePixelBlock(AllocatePixelBlock(5 * kMiB));
        }
        EXPECT_EQ(Cached(), 5 * kMiB);
    }
    EXPECT_EQ(Cached(), 0u);
}

TEST_F(PixelMemory, TheLimitBoundsTheCachedBlock) {
    const PixelCacheScope scope;
    FreePixelBlock(AllocatePixelBlock(8 * kMiB));
    SetPixelCacheLimit(6 * kMiB);  // releases the 8 MiB block
    EXPECT_EQ(Cached(), 0u);
    FreePixelBlock(AllocatePixelBlock(8 * kMiB));
    EXPECT_EQ(Cached(), 0u);
    FreePixelBlock(AllocatePixelBlock(5 * kMiB));
    EXPECT_EQ(Cached(), 5 * kMiB);
    SetPixelCacheLimit(0);
    EXPECT_EQ(Cached(), 0u);
    FreePixelBlock(AllocatePixelBlock(5 * kMiB));
    EXPECT_EQ(Cached(), 0u);
}

}  // namespace
