// Inside image_io only: the pixel data of the common PNG kinds decoded with
// libdeflate straight into a CDib (PngReader.cpp reads the header with
// libpng and hands these files over; libpng decodes the others).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/Dib.h"
#include "image/PixelKind.h"
#include "msg/Result.h"

// The channels of a kind InflatePngPixels decodes, else 0: 8 bits a
// sample, not interlaced, colour type grey (0: 1 channel), grey and alpha
// (4: 2 channels) or colour (2: 3 channels), without a transparency chunk.
// The pixel data of colour files fits into the decoded image's own memory,
// so they decode without a second full-size buffer; grey ones take a block
// of the pixel data's size while they decode.
constexpr HRESULT kExcessPixelData = S_FALSE;

int InflatableChannels(int colourType, int bitDepth, bool interlaced, bool transparencyChunk);

// Decodes the pixel data of a PNG file held in `data` into `dib`: an image
// of the file's width and height with its bits allocated, of the kind of
// its channels (PixelKind.h): Grey8, GreyAlpha8, or Bgra32 with alpha 255. `idatAt` is the offset
// of the first IDAT chunk's length field; the chunks before it have been
// read and checked. The IDAT chunks that follow one another from there are
// checked against their CRC and hold one zlib stream of filtered rows;
// what follows them is not looked at. Results: S_OK; kExcessPixelData when
// the stream holds more than the image (libpng drops the excess, so its
// decoding decides); E_NOT_IMAGE_FILE for corrupt data (a bad CRC, zlib
// header, deflate data, Adler-32 sum or row filter, too little pixel data);
// kDecodeTruncated when the file ends inside an IDAT chunk or before the
// pixel data is complete; kDecodeNoMemory when memory is short. Unless S_OK,
// the bits hold no image.
HRESULT InflatePngPixels(CDib& dib, int channels, const std::uint8_t* data, std::size_t size,
                         std::size_t idatAt);
