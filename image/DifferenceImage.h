// Difference image: how far the colour of every pixel of a scan lies from the
// colour of the same pixel in the empty image (a scan of the bare scanner
// bed). The result is an 8-bit grey image, dark where the bed shows and bright
// on the manuscript.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "image/Dib.h"
#include "image/Terminable.h"

// Per-pixel distance measures. dR, dG, dB are the red, green and blue
// differences between the two pixels; alpha never takes part.
enum DifferenceMeasure : int {
    MeasureRgb = 0,    // sqrt(dR² + dG² + dB²), the one the pipeline uses
    MeasureRg = 1,     // sqrt(dR² + dG²)
    MeasureGb = 2,     // sqrt(dG² + dB²)
    MeasureBr = 3,     // sqrt(dB² + dR²)
    MeasureRed = 4,    // |dR|
    MeasureGreen = 5,  // |dG|
    MeasureBlue = 6,   // |dB|
};

// Builds the difference image of two 32-bit images (blue, green, red, alpha).
//
// The output is a new 8-bit grey image (grey ramp, no resolution) of the
// inputs' common area anchored at the top-left corner: min(width) × min(height).
// Pixel (x, y) of the output compares pixel (x, y) of both inputs, each
// counted from its own top-left corner (y down). Its grey level is the
// measure's value truncated toward zero and clamped to 0..255, so any
// Euclidean distance of 255 or more stores 255 and 254.9 stores 254.
//
// Results:
//  - S_OK: `out` holds the new image.
//  - E_INVALIDARG: measure outside 0..6, an input that is not a 32-bit image
//    with pixels, or no common area; `out` untouched.
//  - E_OUTOFMEMORY: the output cannot be made; `out` reset to empty.
//  - E_ABORT: `stop` (may be null) reported a stop request; it is asked once
//    before each output row. `out` reset to empty.
HRESULT ComputeDifferenceImage(DibPtr& out, const CDib& image, const CDib& emptyImage, int measure,
                               const CTerminable* stop);

// Grey level of a distance given as the integer sum of squared channel
// differences (0 ≤ sumOfSquares ≤ 3 × 255²): trunc(sqrt(sumOfSquares))
// clamped to 255. Equal to the same computation in double for every sum in
// that range; single precision lets the row loop run four pixels wide.
inline BYTE GreyFromSquaredDistance(std::int32_t sumOfSquares) {
    const float v = std::min(std::sqrt(static_cast<float>(sumOfSquares)), 255.0f);
    return static_cast<BYTE>(static_cast<std::int32_t>(v));
}
