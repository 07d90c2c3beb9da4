#include "image/PixelMemory.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Blocks below this size are not worth caching: malloc serves them from its
// own heap without fresh mappings.
constexpr std::size_t kCachedMinimum = std::size_t{4} << 20;
// Each block starts with a header that records its capacity; it also keeps
// the pixels 64-byte aligned.
constexpr std::size_t kHeader = 64;
// A cached block is reused for a request of at least this fraction of its
// capacity, so a small image never pins a page-sized block.
constexpr std::size_t kReuseNumerator = 7, kReuseDenominator = 8;

struct Cache {
    std::mutex mutex;
    std::vector<void*> blocks;  // oldest first
    std::size_t bytes = 0;
    std::size_t limit = std::size_t{512} << 20;
    std::size_t reused = 0;
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

// Drops the oldest cached blocks until the cache fits `limit`. Called with
// the lock held; returns the blocks to free once the lock is released.
std::vector<void*> TrimLocked(Cache& cache, std::size_t limit) {
    std::vector<void*> released;
    std::size_t i = 0;
    while (cache.bytes > limit && i < cache.blocks.size()) {
        cache.bytes -= Capacity(cache.blocks[i]);
        released.push_back(cache.blocks[i]);
        ++i;
    }
    cache.blocks.erase(cache.blocks.begin(), cache.blocks.begin() + static_cast<std::ptrdiff_t>(i));
    return released;
}

void FreeAll(const std::vector<void*>& raws) {
    for (void* raw : raws) {
        std::free(raw);
    }
}

}  // namespace

void* AllocatePixelBlock(std::size_t size) noexcept {
    if (size > SIZE_MAX - kHeader) {
        return nullptr;
    }
    if (size >= kCachedMinimum) {
        Cache& cache = TheCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        // The smallest cached block that fits.
        std::size_t best = cache.blocks.size();
        for (std::size_t i = 0; i < cache.blocks.size(); ++i) {
            const std::size_t capacity = Capacity(cache.blocks[i]);
            if (capacity >= size && size >= capacity / kReuseDenominator * kReuseNumerator &&
                (best == cache.blocks.size() || capacity < Capacity(cache.blocks[best]))) {
                best = i;
            }
        }
        if (best != cache.blocks.size()) {
            void* raw = cache.blocks[best];
            cache.blocks.erase(cache.blocks.begin() + static_cast<std::ptrdiff_t>(best));
            cache.bytes -= Capacity(raw);
            ++cache.reused;
            return User(raw);
        }
    }
    void* raw = std::malloc(kHeader + size);
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
    if (Capacity(raw) < kCachedMinimum) {
        std::free(raw);
        return;
    }
    Cache& cache = TheCache();
    std::vector<void*> released;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (Capacity(raw) > cache.limit) {
            released.push_back(raw);
        } else {
            try {
                cache.blocks.push_back(raw);
                cache.bytes += Capacity(raw);
                released = TrimLocked(cache, cache.limit);
            } catch (const std::bad_alloc&) {
                released.push_back(raw);
            }
        }
    }
    FreeAll(released);
}

void SetPixelCacheLimit(std::size_t bytes) noexcept {
    Cache& cache = TheCache();
    std::vector<void*> released;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        cache.limit = bytes;
        released = TrimLocked(cache, bytes);
    }
    FreeAll(released);
}

void ReleasePixelCache() noexcept {
    Cache& cache = TheCache();
    std::vector<void*> released;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        released = TrimLocked(cache, 0);
    }
    FreeAll(released);
}

PixelCacheStats GetPixelCacheStats() noexcept {
    Cache& cache = TheCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return PixelCacheStats{cache.bytes, cache.blocks.size(), cache.reused};
}
