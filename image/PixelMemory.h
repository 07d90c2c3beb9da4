// The allocator behind every CDib's pixel block.
//
// One place decides how large pixel blocks are obtained and returned, so
// that buffer reuse can be tuned without touching the raster type.
#pragma once

#include <cstddef>

// nullptr when the block cannot be had (including impossible sizes).
void* AllocatePixelBlock(std::size_t size) noexcept;
// `size` is the size the block was allocated with.
void FreePixelBlock(void* block, std::size_t size) noexcept;
