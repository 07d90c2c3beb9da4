// Writing generated scans as image files, for tests, benchmarks and the
// bundled samples.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/Dib.h"
#include "image/PixelKind.h"

namespace scangen {

// Writes `dib` as a PNG file with the given resolution: RGB, as scanners
// write their files, or RGBA when `withAlpha` is set. False on failure.
bool WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha = false);

// Writes `dib` as a colour JPEG file (4:2:0, as cameras and most scanners
// write them) of the given quality (0 to 100) and resolution. False on
// failure.
bool WriteJpeg(const DibPtr& dib, const std::string& path, float dpi, std::uint32_t quality);

// The generated 32-bit scan as a scanner would give it in `kind`: grey is
// the green channel, 1 bit is black where that grey is below 128, 16-bit
// samples have the 8-bit ones as their high byte and a pattern as their low
// one (so that it carries something of its own), alpha is 255. With
// `profile`, embedded. Null when memory is short.
DibPtr ScanAsKind(const CDib& scan, PixelKind kind, std::span<const BYTE> profile = {});

// Writes `dib` (of any kind) as a file of the format whose /format keyword
// is `keyword` ("png", "tif", "jpg", "bmp"), with `option` as the format's
// option (JPEG quality, TIFF compression) and the given resolution. False on
// failure.
bool WriteImage(const DibPtr& dib, const std::string& path, float dpi, const char* keyword,
                std::uint32_t option = 0);

}  // namespace scangen
