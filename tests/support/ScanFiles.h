// Writing generated scans as image files, for tests, benchmarks and the
// bundled samples.
#pragma once

#include <string>

#include "image/Dib.h"

namespace scangen {

// Writes `dib` as a PNG file with the given resolution: RGB, as scanners
// write their files, or RGBA when `withAlpha` is set. False on failure.
bool WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha = false);

}  // namespace scangen
