#include "image/PixelMemory.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// Blocks below this size are not worth caching: malloc serves them from its
// own heap without fresh mappings.
constexpr std::size_t kCachedMinimum = std::size_t{4} << 20;
// Each block starts with a header that records its capacity; blocks are
// 64-byte aligned, so the pixels are too (a cache line).
constexpr std::size_t kHeader = 64;
// A cached block is reused for a request of at least this fraction of its
// capacity, so a small image never pins a page-sized block.
constexpr std::size_t kReuseNumerator = 7, kReuseDenominator = 8;

struct Cache {
    std::mutex mutex;
    void* block = nullptr;  // raw block, or null
    std::size_t limit = std::size_t{512} << 20;
    std::size_t reused = 0;
    std::size_t scopes = 0;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never destroyed: blocks may be freed at exit
    return *cache;
}

std::size_t& Capacity(void* raw) {
    return *static_cast<std::size_t*>(raw);
}

void* Raw(void* block) {
    return static_cast<char*>(block) - kHeader;
}
void* User(void* raw) {
    return static_cast<char*>(raw) + kHeader;
}

// A fresh block costs mostly its page faults on first touch, one per 4 KiB
// page: about 3 ms per MB here, more than a filter pass over the same bytes.
// Large blocks therefore ask for huge pages (2 MiB), which cuts that cost
// some twentyfold; where the system has none to give, it is advice only.
void AdviseHugePages(void* raw, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    static const auto kPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(raw) + kPage - 1) & ~(kPage - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(raw) + bytes) & ~(kPage - 1);
    if (from < to) {
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#else
    (void)raw;
    (void)bytes;
#endif
}

// Empties the cache when its block exceeds `limit`; the lock must be held.
// Returns the block to free once the lock is released (or null).
void* TakeAbove(Cache& cache, std::size_t limit) {
    void* raw = cache.block;
    if (raw == nullptr || Capacity(raw) <= limit) {
        return nullptr;
    }
    cache.block = nullptr;
    return raw;
}

}  // namespace

void* AllocatePixelBlock(std::size_t size) noexcept {
    // No object may exceed PTRDIFF_MAX; such a request is refused here
    // rather than handed to the system allocator.
    if (size > static_cast<std::size_t>(PTRDIFF_MAX) - 2 * kHeader) {
        return nullptr;
    }
    if (size >= kCachedMinimum) {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        void* raw = cache.block;
        if (raw != nullptr && Capacity(raw) >= size &&
            size >= Capacity(raw) / kReuseDenominator * kReuseNumerator) {
            cache.block = nullptr;
            ++cache.reused;
            return User(raw);
        }
    }
    // aligned_alloc wants a multiple of the alignment.
    const std::size_t total = (kHeader + size + (kHeader - 1)) & ~(kHeader - 1);
    void* raw = std::aligned_alloc(kHeader, total);
    if (raw == nullptr) {
        return nullptr;
    }
    if (size >= kCachedMinimum) {
        AdviseHugePages(raw, total);
    }
    Capacity(raw) = size;
    return User(raw);
}

void FreePixelBlock(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    void* raw = Raw(block);
    if (Capacity(raw) >= kCachedMinimum) {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (cache.scopes > 0 && Capacity(raw) <= cache.limit &&
            (cache.block == nullptr || Capacity(raw) >= Capacity(cache.block))) {
            std::swap(raw, cache.block);
        }
    }
    std::free(raw);  // the block not kept (null when the cache was empty)
}

void* AllocateWorkBlock(std::size_t size) noexcept {
    if (size > static_cast<std::size_t>(PTRDIFF_MAX) - kHeader) {
        return nullptr;
    }
    const std::size_t total = (size + (kHeader - 1)) & ~(kHeader - 1);
    void* block = std::aligned_alloc(kHeader, total == 0 ? kHeader : total);
    if (block != nullptr && size >= kCachedMinimum) {
        AdviseHugePages(block, total);
    }
    return block;
}

void FreeWorkBlock(void* block) noexcept {
    std::free(block);
}

void SetPixelCacheLimit(std::size_t bytes) noexcept {
    Cache& cache = TheCache();
    void* released;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        cache.limit = bytes;
        released = TakeAbove(cache, bytes);
    }
    std::free(released);
}

void ReleasePixelCache() noexcept {
    Cache& cache = TheCache();
    void* released;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        released = cache.block;
        cache.block = nullptr;
    }
    std::free(released);
}

PixelCacheScope::PixelCacheScope() noexcept {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    ++cache.scopes;
}

PixelCacheScope::~PixelCacheScope() {
    Cache& cache = TheCache();
    void* released = nullptr;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (--cache.scopes == 0) {
            std::swap(released, cache.block);
        }
    }
    std::free(released);
}

PixelCacheStats GetPixelCacheStats() noexcept {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    const std::size_t bytes = cache.block != nullptr ? Capacity(cache.block) : 0;
    return PixelCacheStats{bytes, cache.block != nullptr ? std::size_t{1} : 0, cache.reused};
}
