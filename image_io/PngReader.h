// Inside image_io only: PNG files decoded straight into a CDib, so that no
// second full-size copy of the pixels exists while a file loads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "msg/Result.h"

// True when the bytes start with the PNG signature.
bool IsPngData(const std::uint8_t* data, std::size_t size);

// Decodes a whole PNG file held in memory into a new 32-bit bottom-up CDib:
// blue, green, red, alpha, not premultiplied, alpha 255 where the file has
// none. Palette, grey and low-depth pixels are expanded, 16-bit samples
// scaled to 8 bits (rounded), interlaced files de-interlaced; no gamma or
// colour-profile conversion. `hasAlpha`: the file has an alpha channel, a
// transparency chunk for grey or colour pixels, or a palette entry that is
// not opaque. The resolution is left to the caller (biX/YPelsPerMeter 0).
// Results: S_OK with `dib` and `hasAlpha` set; E_NOTIMPL for bytes that are
// not a decodable PNG (bad signature, broken or truncated data);
// 0x80070008 when width × height × 4 exceeds `maxBytes` (refused before any
// pixel memory is taken) or memory is short. On failure `dib` and
// `hasAlpha` are untouched. Prints nothing.
HRESULT ReadPng(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                std::uint64_t maxBytes);
