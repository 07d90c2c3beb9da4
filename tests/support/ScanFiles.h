// Writing generated scans as image files, for tests, benchmarks and the
// bundled samples.
#pragma once

#include <cstdint>
#include <string>

#include "image/Dib.h"

namespace scangen {

// Writes `dib` as a PNG file with the given resolution: RGB, as scanners
// write their files, or RGBA when `withAlpha` is set. False on failure.
bool WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha = false);

// Writes `dib` as a colour JPEG file (4:2:0, as cameras and most scanners
// write them) of the given quality (0 to 100) and resolution. False on
// failure.
bool WriteJpeg(const DibPtr& dib, const std::string& path, float dpi, std::uint32_t quality);

}  // namespace scangen
