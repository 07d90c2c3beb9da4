// The resolution recorded in an image file's own header.
//
// Decoders disagree about files without a resolution (some report 72 or
// 100 dpi, the same as a real 72 or 100 dpi file) and ignore some places a
// resolution can live, so the loader reads it from the bytes itself:
//  - PNG: the pHYs chunk before the first IDAT, unit metre (unit 0, aspect
//    ratio only, counts as none);
//  - JPEG: the JFIF APP0 density (units 1 dots per inch, 2 dots per cm;
//    units 0 is an aspect ratio only), else the EXIF APP1 block's first
//    directory (XResolution, YResolution, ResolutionUnit);
//  - TIFF (both byte orders): XResolution, YResolution and ResolutionUnit of
//    the first directory (unit 2 inch is the default, 3 centimetre; unit 1,
//    no absolute unit, counts as none). With only one of the two
//    resolutions present it is used for both directions;
//  - BMP: biXPelsPerMeter and biYPelsPerMeter of a header of 40 bytes or more.
// Other formats carry none here. The bytes are untrusted: every read is
// bounds-checked, truncated or malformed headers simply yield "none".
#pragma once

#include <cstddef>
#include <cstdint>

// What a file without a usable resolution counts as, in dots per inch.
constexpr double kDefaultDpi = 96.0;
// Resolutions outside (0, kMaxFileDpi] dots per inch count as none.
constexpr double kMaxFileDpi = 100000.0;

struct FileResolution {
    double dpiX = kDefaultDpi;  // horizontal, dots per inch
    double dpiY = kDefaultDpi;  // vertical, dots per inch
};

// True and `out` set when the file's bytes hold a usable resolution; false
// and `out` untouched otherwise.
bool ReadFileResolution(const std::uint8_t* data, std::size_t size, FileResolution& out);
