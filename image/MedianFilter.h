// Square median filter over 8-bit grey images, and the shrunken copy the
// automatic side choice works on.
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards.
#pragma once

#include "image/Dib.h"
#include "image/Terminable.h"

// Median of the n × n window around every pixel; half = n / 2 (integer
// division). The window of pixel (x, y) covers rows y − half to y − half + n − 1
// and columns x − half to x − half + n − 1 (for even n it reaches one pixel
// further up and left than down and right).
//
//  - Interior pixels (the whole window inside the image) take element
//    (n × n) / 2 of their ascending-sorted window: the exact median for odd n.
//  - Every other pixel (the bands of width half along the four sides) takes
//    element count / 2 of the window positions that lie inside the image:
//    for n = 3 a pixel on an edge (6 values) or in a corner (4 values) takes
//    the upper of the two middle values. An image narrower or lower than n
//    has no interior; the bands then cover it completely.
//
// `out` receives a new 8-bit image of the input's size with the grey ramp, a
// 40-byte header and no resolution. `image` is only read and may be the
// image `out` holds (out is replaced only on success).
//
// `stop` (may be null) is asked once before every interior row.
//
// Results:
//  - S_OK.
//  - E_INVALIDARG: the input has no pixels, is not 8 bits deep with BI_RGB
//    rows, has a negative width, or n < 1. `out` is untouched.
//  - E_OUTOFMEMORY: the output or the work memory cannot be had; `out` is
//    reset to empty.
//  - E_ABORT: a stop was requested; `out` is reset to empty.
HRESULT MedianFilter(DibPtr& out, const CDib& image, int n, const CTerminable* stop);

// Scales `image` so that its shorter side becomes 300 pixels, through
// Resize: for width w < height h the result is 300 × (h × 300 / w), otherwise
// (w × 300 / h) × 300, with truncating integer division. A smaller image is
// enlarged; a square image becomes 300 × 300. An 8-bit grey input gives an
// 8-bit grey result (see Resize).
//
// Results: those of Resize, which are passed on unchanged; E_INVALIDARG also
// for an image with no header, no rows or no columns, or one whose scaled
// size does not fit the coordinate range.
HRESULT ShrinkForSideDetection(DibPtr& out, const CDib& image);
