// The allocator behind every CDib's pixel block.
//
// Large blocks (a page of pixels is 35 to 140 MB) are expensive to get fresh
// from the system: every page of a new mapping faults in on first touch,
// about 3 ms per MB with 4 KiB pages. Blocks of 4 MiB and more are therefore
// asked for with huge pages where the system offers them (on Linux, when
// transparent huge pages are "always" or "madvise"), which cuts that cost
// some twentyfold. And while an image pipeline runs, the largest freed block
// is therefore kept and handed out again to a request of the same or a
// slightly smaller size (at least 7/8 of it): each filter pass then writes
// into the block the pass before last has freed.
//
// Caching is on only while at least one PixelCacheScope exists (a pipeline
// holds one while it runs); when the last scope ends the cached block is
// released. Outside a pipeline nothing is kept, so a block freed between
// pages (a finished page's output) never sits idle beside the next page's
// decoding. The cache holds one block at most, which bounds what it can add
// to the peak: a newly freed block replaces the cached one when it is at
// least as large, a smaller one goes back to the system. Shared by all
// threads under one lock. Blocks below 4 MiB always go straight to malloc
// and free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// nullptr when the block cannot be had (including impossible sizes).
void* AllocatePixelBlock(std::size_t size) noexcept;
// Returns a block from AllocatePixelBlock (null is ignored).
void FreePixelBlock(void* block) noexcept;

// Large working buffers of the image code that are not pixel blocks (a
// file's bytes, a codec's buffers): huge pages like pixel blocks, but never
// cached, since their sizes match no image's. nullptr when the memory cannot
// be had; FreeWorkBlock ignores null.
void* AllocateWorkBlock(std::size_t size) noexcept;
void FreeWorkBlock(void* block) noexcept;

// A work block of bytes owned by a unique_ptr; empty when memory is short.
struct WorkBlockDeleter {
    void operator()(std::uint8_t* block) const noexcept { FreeWorkBlock(block); }
};
using WorkBlock = std::unique_ptr<std::uint8_t, WorkBlockDeleter>;
inline WorkBlock MakeWorkBlock(std::size_t size) noexcept {
    return WorkBlock(static_cast<std::uint8_t*>(AllocateWorkBlock(size)));
}

// The largest block the cache may keep, in bytes (default 512 MiB); 0 turns
// caching off. A cached block above the new limit is released at once.
void SetPixelCacheLimit(std::size_t bytes) noexcept;
// Releases the cached block to the system.
void ReleasePixelCache() noexcept;

// Turns caching on for its lifetime; scopes nest and may live on several
// threads at once. The end of the last one releases the cached block.
class PixelCacheScope {
  public:
    PixelCacheScope() noexcept;
    ~PixelCacheScope();
    PixelCacheScope(const PixelCacheScope&) = delete;
    PixelCacheScope& operator=(const PixelCacheScope&) = delete;
};

struct PixelCacheStats {
    std::size_t cachedBytes;
    std::size_t cachedBlocks;
    std::size_t reused;  // allocations served from the cache so far
};
PixelCacheStats GetPixelCacheStats() noexcept;
