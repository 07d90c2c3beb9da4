#include "image/PixelMemory.h"

#include <cstdlib>

void* AllocatePixelBlock(std::size_t size) noexcept {
    // malloc(0) may return null; a zero-sized image still owns a block.
    return std::malloc(size == 0 ? 1 : size);
}

void FreePixelBlock(void* block, std::size_t /*size*/) noexcept {
    std::free(block);
}
