#include "image/PixelMemory.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

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
