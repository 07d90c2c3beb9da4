// Test helpers for image_io: scratch folders, generated images, hand-made
// file bytes and independent readers (headers walked by hand, libtiff used
// directly) to check what the writers put into files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/Dib.h"
#include "image_io/ImageSaver.h"
#include "image_io/MemoryStream.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestImages.h"

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path);

// The saver of the format with this /format keyword.
SaverPtr SaverFor(const char* keyword, std::int32_t quality = 90, std::uint32_t compression = 8);

inline constexpr HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

inline StreamPtr StreamOf(const Bytes& bytes) {
    return CMemoryStream::Copy(bytes.data(), bytes.size());
}

// Four bytes as numbers; pixel (x, y) of a 32-bit image as blue, green, red,
// alpha.
inline std::vector<int> Four(const BYTE* p) {
    return {p[0], p[1], p[2], p[3]};
}
inline std::vector<int> Bgra(const CDib& dib, LONG x, LONG y) {
    return Four(dib.Row(y) + 4 * x);
}

// Big- or little-endian integers appended to a byte string.
void PutBE16(Bytes& out, std::uint32_t v);
void PutBE32(Bytes& out, std::uint32_t v);
void PutLE32(Bytes& out, std::uint32_t v);

// A PNG chunk with its length and CRC; the signature and an IHDR chunk.
Bytes PngChunk(const char* type, const Bytes& data);
Bytes PngHeader(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType);

// A JPEG of one flat colour written by libjpeg: `sample` holds 1 (grey),
// 3 (red, green, blue) or 4 (CMYK, stored inverted as usual) values.
Bytes FlatJpeg(int width, int height, const std::vector<std::uint8_t>& sample, bool progressive);

// One directory entry of a hand-made TIFF structure. For RATIONAL entries
// the numerator and denominator are stored after the directory.
struct TiffEntry {
    std::uint16_t tag;
    std::uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL
    std::uint32_t value;
    std::uint32_t denominator = 1;
};
// A TIFF header and one directory with the given entries (no image data).
Bytes TiffStructure(bool bigEndian, const std::vector<TiffEntry>& entries);

// Independent readers (the libraries used directly, or headers walked by
// hand); `ok` is false when the file could not be read.
struct JpegHeader {
    bool ok = false;  // a frame header was found
    bool jfif = false;
    int densityUnit = -1, densityX = 0, densityY = 0;
    int components = 0;
    Bytes profile;  // from the APP2 markers, by libjpeg
};
JpegHeader ReadJpegHeader(const std::string& path);

struct TiffFields {
    bool ok = false;
    float xResolution = 0, yResolution = 0;
    std::uint16_t resolutionUnit = 0, samplesPerPixel = 0, extraSample = 0, bitsPerSample = 0,
                  photometric = 0, compression = 0;
    Bytes profile;
    // Decoded scanlines, top row first, as libtiff gives them.
    Bytes samples;
};
TiffFields ReadTiffFields(const std::string& path);

// A PNG file as libpng reads it, with the samples turned into the raster's
// order (blue before red, 16-bit samples in the machine's byte order).
struct PngFile {
    bool ok = false;
    int colourType = -1, bitDepth = 0;
    std::uint32_t pixelsPerMetreX = 0, pixelsPerMetreY = 0;
    Bytes profile;
    std::vector<Bytes> rows;  // top row first
};
PngFile ReadPngFile(const std::string& path);
