// Inside image_io only: JPEG files decoded with libjpeg straight into a
// CDib, strictly: a file that ends early or whose data is corrupt fails
// instead of giving a grey-filled or partial page.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "image_io/Decoding.h"
#include "msg/Result.h"

// True when the bytes start with a JPEG start-of-image marker.
bool IsJpegData(const std::uint8_t* data, std::size_t size);

// A DecodeFunction for JPEG files (`hasAlpha` is always false). Grey files
// become Grey8; colour files opaque Bgra32; CMYK and YCCK files are taken
// as the inverted CMYK that their writers store, to opaque Bgra32. The ICC
// profile of the APP2 markers is kept (not a CMYK file's). The size in the
// frame header is checked against `limits` before pixel memory is taken.
// Besides the declared size, libjpeg's own working memory (the whole-image
// coefficient buffer of progressive files) is bounded: 48 MiB, or 64 bytes
// per byte of the file when that is more, so that a small file cannot make
// it grow far beyond the decoded image; a file needing more is refused with
// kDecodeNoMemory. More than 500 scans count as corrupt data.
// Premature end: kDecodeTruncated; any warning about corrupt data (bad
// Huffman codes, a marker inside the data, extraneous bytes, impossible
// progression): E_NOT_IMAGE_FILE.
HRESULT ReadJpeg(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                 const DecodeLimits& limits);
