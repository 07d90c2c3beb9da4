// Inside image_io only: what every decoder of our own shares. The limits a
// decoded image must keep, checked against the size a file declares before
// any pixel memory is taken, and the result codes decoders give.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "msg/Result.h"

constexpr HRESULT kDecodeNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
// The file ends before its image does.
constexpr HRESULT kDecodeTruncated = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

struct DecodeLimits {
    // Largest decoded image as bytes of 32-bit pixels (width × height × 4).
    std::uint64_t maxBytes;
    // Largest width and largest height, in pixels.
    std::uint32_t maxSide;
};

// True when a width × height image of 32-bit pixels keeps the limits (both
// sides at least 1).
bool WithinDecodeLimits(std::uint64_t width, std::uint64_t height, const DecodeLimits& limits);

// A decoder of our own: decodes a whole file held in memory into a new
// 32-bit bottom-up CDib (blue, green, red, alpha, not premultiplied, alpha
// 255 where the file has none), without its resolution (biX/YPelsPerMeter
// 0). `hasAlpha`: the file can hold transparency. Results: S_OK with `dib`
// and `hasAlpha` set; E_NOT_IMAGE_FILE for bytes it cannot read as an image
// (bad signature, corrupt data); kDecodeTruncated when the file ends before
// the image does; kDecodeNoMemory when the declared size breaks `limits`
// (refused before any pixel memory is taken) or memory is short. On failure
// `dib` and `hasAlpha` are untouched. Prints nothing.
using DecodeFunction = HRESULT (*)(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data,
                                   std::size_t size, const DecodeLimits& limits);
