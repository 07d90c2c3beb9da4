// Device-independent bitmap structures with the Windows layout (same field
// order and sizes), so headers, colour tables and byte sizes match the
// files and the rules of the raster image on every platform.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
// Uncompressed layouts of the program's own for pixels the Windows formats
// have no layout for (see PixelKind.h), as four characters like the
// colour-space tags below:
//  - BI_SAMPLES16 ("S16 "): 16-bit samples in the machine's byte order,
//    biBitCount / 16 of them a pixel: grey; grey, alpha; blue, green, red;
//    blue, green, red, alpha.
//  - BI_GREYALPHA8 ("GA8 "): an 8-bit grey sample, then an 8-bit alpha
//    sample (biBitCount 16).
// Like BI_BITFIELDS they keep stride × |height| in biSizeImage.
constexpr DWORD BI_SAMPLES16 = 0x53313620;
constexpr DWORD BI_GREYALPHA8 = 0x47413820;

// Colour-space tags of a version-5 header: the four characters "sRGB" and
// "MBED" as the little-endian 32-bit values Windows uses.
constexpr DWORD LCS_sRGB = 0x73524742;
constexpr DWORD PROFILE_EMBEDDED = 0x4D424544;

#pragma pack(push, 1)
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct CIEXYZ {
    LONG ciexyzX;
    LONG ciexyzY;
    LONG ciexyzZ;
};

struct CIEXYZTRIPLE {
    CIEXYZ ciexyzRed;
    CIEXYZ ciexyzGreen;
    CIEXYZ ciexyzBlue;
};

struct BITMAPV5HEADER {
    DWORD bV5Size;
    LONG bV5Width;
    LONG bV5Height;
    WORD bV5Planes;
    WORD bV5BitCount;
    DWORD bV5Compression;
    DWORD bV5SizeImage;
    LONG bV5XPelsPerMeter;
    LONG bV5YPelsPerMeter;
    DWORD bV5ClrUsed;
    DWORD bV5ClrImportant;
    DWORD bV5RedMask;
    DWORD bV5GreenMask;
    DWORD bV5BlueMask;
    DWORD bV5AlphaMask;
    DWORD bV5CSType;
    CIEXYZTRIPLE bV5Endpoints;
    DWORD bV5GammaRed;
    DWORD bV5GammaGreen;
    DWORD bV5GammaBlue;
    DWORD bV5Intent;
    DWORD bV5ProfileData;
    DWORD bV5ProfileSize;
    DWORD bV5Reserved;
};
#pragma pack(pop)

static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPV5HEADER) == 124);

// A rectangle in image coordinates: left and top inclusive, right and bottom
// exclusive; origin at the top-left pixel, y grows downwards.
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
    friend bool operator==(const RECT&, const RECT&) = default;
};

struct SIZE {
    LONG cx;
    LONG cy;
    friend bool operator==(const SIZE&, const SIZE&) = default;
};

struct POINT {
    LONG x;
    LONG y;
    friend bool operator==(const POINT&, const POINT&) = default;
};
