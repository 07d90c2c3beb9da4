// RotateImage: turns a picture about its centre by a small skew angle.
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards.
// Pixel (x, y) covers the unit square [x, x + 1) × [y, y + 1); the centre of
// rotation is (width / 2, height / 2), the middle of the picture.
//
// Sign: a positive angle (radians) turns the picture clockwise as seen on the
// screen. A point p of the input lands at
//   p' = c + R(angle) · (p − c),  R(a) = | cos a  −sin a |
//                                        | sin a   cos a |
// so a point right of the centre moves down for a small positive angle. A
// left page edge x = slope · y + intercept with slope > 0 (drifting right
// going down) is made vertical by the angle atan(slope).
//
// Result: an image of the input's width and height.
//  - Every output pixel whose centre maps (by the inverse rotation) into the
//    input picture is interpolated bicubically (Catmull-Rom, 1/256-pixel
//    phases; outside taps repeat the border pixel); every other pixel (the
//    corner wedges) keeps the unrotated input pixel.
//  - 8-bit input with a grey colour table → 8-bit grey with the 256-entry grey
//    ramp; a grey table that is not the identity ramp is applied first, so the
//    output holds grey levels.
//  - 32-bit input → 32-bit; all four bytes (blue, green, red, alpha) are
//    interpolated independently. 24-bit input → 32-bit with alpha 255.
//  - The output header keeps the input's header size and embedded colour
//    profile (8-bit output: a plain 40-byte header); no resolution is set.
//  - Angle 0 gives an exact copy of the pixels.
//
// Result codes:
//  - S_OK: `out` holds the new image.
//  - E_INVALIDARG: no header or bits, width or height 0 or above 2^24, a
//    non-finite angle, or a depth other than 8-bit grey, 24 or 32 bits
//    (BI_RGB).
//  - 0x80070008 (HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)): the output or a
//    working copy cannot be allocated.
//  - E_ABORT: `stop` reported a stop request (asked once per output row).
// On every failure `out` is left untouched; `out` may be the pointer that
// owns `image`.
#pragma once

#include "image/Dib.h"
#include "image/PixelKind.h"
#include "image/Terminable.h"
#include "msg/Result.h"

HRESULT RotateImage(DibPtr& out, const CDib& image, double angle, const CTerminable* stop);

// The kernels behind RotateImage and RotateImageRect, slowest first. All give
// the same bytes; by default the fastest the processor has runs (AVX2 for
// 32-bit pixels, SSE2 for 8-bit ones on x86-64). Tests and benchmarks force
// one; a kernel the processor lacks gives way to the best it has, so
// ActiveRotateKernel tells what runs. Auto restores the default. Change it
// only while no rotation runs.
enum class RotateKernel { Auto, Plain, Sse2, Avx2 };
void ForceRotateKernel(RotateKernel kernel);
RotateKernel ActiveRotateKernel();

// Bitonal pages are rotated as grey levels 0 (black) and 255 (white) and
// made bitonal again: an output pixel is white when its interpolated level
// is at least this, at least half-way from black to white, so strokes keep
// their width.
constexpr BYTE kBitonalThreshold = 128;

// The pixels of `rect` of the rotated picture, made without the whole
// rotated picture, in the image's own pixel kind (PixelKind.h): the result
// equals cutting `rect` (rows counted from the top) out of
// RotateImage(image, angle) as RotateImage rotates 32-bit pixels, sample by
// sample, and, without `keepAlpha`, dropping the alpha sample.
//  - image: any PixelKind; rect: left and top inclusive, right and bottom
//    exclusive, non-empty and inside the picture.
//  - 16-bit samples are interpolated with the same weights exactly (no
//    intermediate rounding): a picture of 8-bit samples times 257 gives the
//    8-bit result times 257 to within the 8-bit result's rounding.
//  - Bitonal: rotated through grey levels and thresholded (kBitonalThreshold).
//  - The output is of the image's kind (without alpha unless `keepAlpha`),
//    with the image's embedded colour profile (a version-5 header) or a
//    plain 40-byte header; no resolution; row padding zeroed.
//  - Angle 0: the pixels (for Bitonal the bits) of `rect` copied unchanged.
// Result codes: S_OK; E_INVALIDARG for an image of no pixel kind, sides 0 or
// above 2^24, a non-finite angle, or a rectangle that is empty or leaves the
// picture; 0x80070008 when the output (or for Bitonal, the grey copy of the
// page) cannot be allocated; E_ABORT on a stop request (asked once per
// output row). On every failure `out` is left untouched; `out` may be the
// pointer that owns `image`.
HRESULT RotateImageRect(DibPtr& out, const CDib& image, double angle, const RECT& rect,
                        bool keepAlpha, const CTerminable* stop);
