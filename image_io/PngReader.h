// Inside image_io only: PNG files decoded straight into a CDib, so that no
// second full-size copy of the pixels exists while a file loads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "image_io/Decoding.h"
#include "msg/Result.h"

// True when the bytes start with the PNG signature.
bool IsPngData(const std::uint8_t* data, std::size_t size);

// A DecodeFunction for PNG files. Palette, grey and low-depth pixels are
// expanded, 16-bit samples scaled to 8 bits (rounded), interlaced files
// de-interlaced; no gamma or colour-profile conversion. `hasAlpha`: the file
// has an alpha channel, a transparency chunk for grey or colour pixels, or a
// palette entry that is not opaque. The size in the header is checked
// against `limits` before libpng sees the file, so that not even its row
// buffers are made for a refused image.
//
// libpng reads the chunks up to the pixel data. The common kinds (8-bit
// grey, grey and alpha, or colour, not interlaced, no transparency chunk:
// what scanners write) are then decoded by InflatePngPixels, about three
// times as fast; libpng decodes the rows of all others, and of a file whose
// pixel data runs past the image (it drops the excess).
HRESULT ReadPng(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                const DecodeLimits& limits);

// The same with libpng decoding the rows of every kind: the reference that
// ReadPng's own decoding is checked against.
HRESULT ReadPngReference(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                         const DecodeLimits& limits);
