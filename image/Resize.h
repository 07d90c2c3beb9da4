// Scaled redraw of a rectangle of a raster image into a new image.
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards;
// rectangles have left and top inclusive, right and bottom exclusive.
#pragma once

#include "image/Dib.h"

// Draws the pixels of `srcRect` of `dib` scaled into the rectangle `dstRect`
// of a new image of (dstRect.right − dstRect.left) × (dstRect.bottom −
// dstRect.top) pixels. Callers pass dstRect with left = top = 0, so the
// drawing fills the image; otherwise the part of dstRect outside the new
// image is clipped and the uncovered pixels stay 0.
//
// Resampling, separately along each axis, in the pixel-centre convention
// (source coordinate = (destination coordinate + 0.5) × scale − 0.5):
//  - fewer destination than source pixels (or as many): an area average;
//    every destination pixel is the mean of the source area it covers,
//    partly covered source pixels weighted by the covered fraction. Exact
//    for integer factors: a 2 × shrink gives (a + b + c + d + 2) / 4 of
//    each 2 × 2 block (means are rounded half up);
//  - more destination than source pixels: bicubic (a = −0.5) over the four
//    nearest samples, samples beyond srcRect repeating its edge, results
//    clamped to 0..255.
// Weights are normalised, so a uniform image stays exactly uniform.
// Channels are averaged independently (alpha is not premultiplied).
//
// Source formats: 32 bits (blue, green, red, alpha), 24 bits, and 1, 2, 4 or
// 8 bits with a colour table, all BI_RGB; rows in either storage order.
// Result:
//  - a source with a grey colour table (CDib::IsGreyPalette) gives an 8-bit
//    grey image with the grey ramp and a 40-byte header; each pixel is what
//    channel 1 of the 32-bit result would be (the grey value of the source
//    pixel's table entry, resampled);
//  - any other source gives a 32-bit BI_RGB image with the source's header
//    size and embedded colour profile, no colour table; 24-bit and
//    colour-table sources get alpha 255.
// The result carries no resolution (pixels per metre 0).
//
// Results (`out` is replaced only on success, so `dib` may be the image it
// holds):
//  - S_OK.
//  - E_INVALIDARG: `dib` has no header or no pixels; dstRect or srcRect is
//    empty (or inverted); srcRect does not lie inside the image.
//  - E_NOTIMPL: a source format outside the list above (16 bits,
//    BI_BITFIELDS, compressed rows).
//  - HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY) (0x80070008): the new
//    image or the work memory cannot be had.
HRESULT Resize(DibPtr& out, const RECT& dstRect, const CDib& dib, const RECT& srcRect);
