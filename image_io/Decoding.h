// Inside image_io only: what every decoder of our own shares. The limits a
// decoded image must keep, checked against the size a file declares before
// any pixel memory is taken, and the result codes decoders give.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "image/PixelKind.h"
#include "msg/Result.h"

constexpr HRESULT kDecodeNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
// The file ends before its image does.
constexpr HRESULT kDecodeTruncated = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

struct DecodeLimits {
    // Largest decoded image in bytes, as 32-bit pixels (width × height × 4)
    // and as pixels of its own kind (DecodedImageBytes): the analyses work
    // on a 32-bit copy of every image beside its own pixels.
    std::uint64_t maxBytes;
    // Largest width and largest height, in pixels.
    std::uint32_t maxSide;
};

// True when a width × height image of `kind` keeps the limits (both sides
// at least 1).
bool WithinDecodeLimits(std::uint64_t width, std::uint64_t height, PixelKind kind,
                        const DecodeLimits& limits);

// A decoder of our own: decodes a whole file held in memory into a new
// bottom-up CDib of the file's own pixel kind (PixelKind.h; colour with 8
// bits a sample always as Bgra32, alpha 255 where the file has none, so
// that the analyses take it as it is), with the file's ICC profile embedded
// when it describes the kind's colour space (ProfileFitsKind), without its
// resolution (biX/YPelsPerMeter 0). `hasAlpha`: the file can hold
// transparency. Results: S_OK with `dib` and `hasAlpha` set;
// E_NOT_IMAGE_FILE for bytes it cannot read as an image (bad signature,
// corrupt data); kDecodeTruncated when the file ends before the image does;
// kDecodeNoMemory when the declared size breaks `limits` (refused before any
// pixel memory is taken) or memory is short. On failure `dib` and
// `hasAlpha` are untouched. Prints nothing.
using DecodeFunction = HRESULT (*)(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data,
                                   std::size_t size, const DecodeLimits& limits);
