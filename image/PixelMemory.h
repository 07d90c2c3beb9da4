// The allocator behind every CDib's pixel block.
//
// Large blocks (a page of pixels is 35 to 140 MB) are expensive to get fresh
// from the system: every page of a new mapping faults in on first touch,
// about 0.4 s for a 600 dpi A4 colour page. Freed large blocks are therefore
// kept in a small process-wide cache and handed out again to a request of
// the same or a slightly smaller size; the cache is bounded (see
// SetPixelCacheLimit) and shared by all threads under one lock. Small blocks
// go straight to malloc.
#pragma once

#include <cstddef>

// nullptr when the block cannot be had (including impossible sizes).
void* AllocatePixelBlock(std::size_t size) noexcept;
// Returns a block from AllocatePixelBlock (null is ignored).
void FreePixelBlock(void* block) noexcept;

// Bytes the cache may hold while the blocks are unused (default 512 MiB);
// 0 turns caching off and releases what is cached.
void SetPixelCacheLimit(std::size_t bytes) noexcept;
// Releases every cached block to the system.
void ReleasePixelCache() noexcept;

struct PixelCacheStats {
    std::size_t cachedBytes;
    std::size_t cachedBlocks;
    std::size_t reused;  // allocations served from the cache so far
};
PixelCacheStats GetPixelCacheStats() noexcept;
