// Inside image_io only: the file writers behind Save.
//
// Each writes one whole file to an open stdio stream from the CDib's rows
// (top row first for PNG, TIFF and JPEG; storage order for BMP) and returns
// false on any failure, including short writes. None prints, throws or
// closes the stream; the caller checks the final flush and close.
#pragma once

#include <cstdio>

#include "image/Dib.h"

enum class PixelLayout {
    kBgra32,    // 32 bits: blue, green, red, alpha
    kBgr24,     // 24 bits: blue, green, red
    kGrey8,     // 8 bits, colour table entry i = grey level i (the grey ramp)
    kPalette8,  // 8 bits with another colour table
    kOther,
};

PixelLayout ClassifyPixels(const CDib& dib);

// kBgra32, kBgr24, kGrey8 and kPalette8.
bool WriteBmp(std::FILE* file, const CDib& dib, double dpiX, double dpiY);
// kBgra32, kBgr24 and kGrey8. The rows filtered (Average) and deflated as a
// whole by libdeflate; memory for the filtered rows and the deflated data
// (together about 1.5 times the image) is taken while it runs.
bool WritePng(std::FILE* file, const CDib& dib, double dpiX, double dpiY);
// The same file through libpng and zlib (level 1, Up filter, run-length
// strategy), row by row: what WritePng is measured against.
bool WritePngReference(std::FILE* file, const CDib& dib, double dpiX, double dpiY);
bool WriteTiff(std::FILE* file, const CDib& dib, double dpiX, double dpiY);
// quality 0 to 100 (values above are taken as 100).
bool WriteJpeg(std::FILE* file, const CDib& dib, double dpiX, double dpiY, int quality);
