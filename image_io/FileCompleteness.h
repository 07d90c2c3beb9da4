// Inside image_io only: whether a file that Qt decodes holds the whole of
// its (first) image. Qt decodes a BMP or GIF file that ends early without a
// word, filling the missing rows; these checks read the file's own
// structure instead, without decoding:
//  - BMP, uncompressed (BI_RGB, BI_BITFIELDS): the pixel rows the header
//    declares (stride × |height| from the data offset) are all present;
//  - BMP, run-length encoded (BI_RLE8, BI_RLE4): the runs reach the
//    end-of-bitmap code, or one end-of-line per row;
//  - GIF: the first image's data runs up to its terminating empty block.
// Other formats, and headers these checks do not understand, pass: their
// decoders judge them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "msg/Result.h"

// S_OK, or kDecodeTruncated when the file ends before its image does.
HRESULT CheckFileComplete(const std::uint8_t* data, std::size_t size);
