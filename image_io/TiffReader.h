// Inside image_io only: TIFF files decoded with libtiff straight into a
// CDib of their own pixel kind, so that 1-bit, grey and 16-bit pages are not
// flattened to 8-bit colour on the way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "image_io/Decoding.h"
#include "msg/Result.h"

// The result of ReadTiff for a TIFF file of another kind than it decodes:
// the file goes to Qt's decoder.
constexpr HRESULT kDecodeElsewhere = S_FALSE;

// True when the bytes start with a TIFF header (either byte order).
bool IsTiffData(const std::uint8_t* data, std::size_t size);

// A DecodeFunction for the first image of a TIFF file whose samples are
// unsigned integers, interleaved (one plane), in one of these layouts:
//  - 1-bit grey (black or white is zero), one sample: Bitonal;
//  - 8- or 16-bit grey, with or without an alpha sample: Grey8,
//    GreyAlpha8, Grey16, GreyAlpha16 (white-is-zero grey inverted);
//  - 8- or 16-bit RGB, with or without alpha: Bgra32 (alpha 255 without),
//    Bgr48, Bgra64.
// Extra samples that are not alpha are skipped; premultiplied (associated)
// alpha is divided out. Stripped or tiled, any compression libtiff decodes
// (old-style JPEG excepted). The ICC profile tag is kept. Other files (a
// palette, CMYK, YCbCr, 2- or 4-bit or floating-point samples, planes of
// their own, a file libtiff does not open): kDecodeElsewhere, `dib`
// untouched. The declared size is checked against `limits` before pixel
// memory is taken, and so is a strip or tile, which is decoded whole; a
// strip or tile whose bytes lie past the end of the file gives
// kDecodeTruncated, one libtiff cannot decode E_NOT_IMAGE_FILE.
HRESULT ReadTiff(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                 const DecodeLimits& limits);
