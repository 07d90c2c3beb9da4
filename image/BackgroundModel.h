// Background colour model and distance image.
//
// Without an empty image the scanner background is learned from thin bands
// along the sides to be cut: the colours found there are modelled by their
// mean and covariance, and every pixel of the scan is scored by its squared
// Mahalanobis distance from that model.
//
// Colour vectors are ordered blue, green, red (index 0, 1, 2), the byte order
// of a 32-bit pixel; alpha never takes part. Matrices are 9 doubles, 3 × 3 in
// row-major order (element [r][c] at index r × 3 + c).
#pragma once

#include <vector>

#include "image/Dib.h"
#include "image/Side.h"
#include "image/Terminable.h"

// The default thickness of an image's border band (its margin strips), as a
// fraction of the image's width (cx) and height (cy).
inline constexpr double kDefaultBorderBandRatio = 0.002;

// Thickness of the border band of an image of `imageSize`:
// cx = max(1, trunc(width × ratio)), cy likewise from the height. Never
// below 1 (also for sizes <= 0 or a NaN ratio); capped at the largest LONG.
SIZE BorderBandOf(SIZE imageSize, double ratio);

// The border band of one side of an image of size `imageSize`, with (cx, cy)
// = `band` and sides numbered as `Side` (0 left, 1 top, 2 right, 3 bottom):
// left (0, 0, cx, h), top (0, 0, w, cy), right (w − cx, 0, w, h),
// bottom (0, h − cy, w, h). False (and `rect` untouched) for any other side
// value. A band larger than the image gives a rectangle reaching outside it.
bool SideBandRect(RECT& rect, Side side, SIZE imageSize, SIZE band);

// The background sample rectangles for a list of sides (a SideList or any
// range of side values): one SideBandRect per entry, in list order; values
// that are not a side give no rectangle.
template <class SideRange>
std::vector<RECT> BackgroundSampleRects(const SideRange& sides, SIZE imageSize, SIZE band) {
    std::vector<RECT> rects;
    for (const auto side : sides) {
        RECT rect;
        if (SideBandRect(rect, static_cast<Side>(side), imageSize, band)) {
            rects.push_back(rect);
        }
    }
    return rects;
}

// The parts of the margin strips `rects` where the lid shows, so that a page
// running off or touching a border does not enter the lid's colour model.
// Each strip is cut along its longer axis into 16 pieces (as even as whole
// pixels allow); with c the channel-wise median of the pieces' mean colours
// and d the Euclidean distance of a piece's mean colour from c, the pieces
// with d <= max(8, 4 × the median of all d) are kept, in strip order. As
// long as the lid shows in at least half of the pieces, the pieces of paper
// fall out; otherwise the majority is taken for the lid.
//
// Results: S_OK with `pieces` replaced; E_INVALIDARG (`pieces` untouched)
// for the inputs ComputeBackgroundStatistics refuses.
HRESULT SelectLidSamples(std::vector<RECT>& pieces, const CDib& image,
                         const std::vector<RECT>& rects);

// Mean (3 values) and population covariance (9 values, divided by N, not
// N − 1) of the blue, green and red bytes of the pixels in `rects` (image
// coordinates, y down, right and bottom exclusive). A pixel lying in several
// rectangles, such as a corner where two bands meet, counts once for each.
//
// Results:
//  - S_OK: `mean` and `covariance` replaced (old contents are not added to).
//  - E_INVALIDARG: the image is not a 32-bit image with pixels, a rectangle
//    is inverted or reaches outside the image, or the rectangles hold no
//    pixel at all; `mean` and `covariance` untouched.
HRESULT ComputeBackgroundStatistics(std::vector<double>& mean, std::vector<double>& covariance,
                                    const CDib& image, const std::vector<RECT>& rects);

// Inverse of a symmetric 3 × 3 matrix, read from its upper triangle only
// (a = [0][0], b = [0][1], c = [0][2], d = [1][1], e = [1][2], f = [2][2]):
// the adjugate divided by det = a·d·f + 2·b·c·e − b²·f − a·e² − d·c².
//
// Results:
//  - S_OK: `inverse` replaced by the 9 values.
//  - S_FALSE: |det| < 0.00001, the matrix counts as singular; `inverse`
//    untouched. Callers then use SingularCovarianceFallback.
//  - E_INVALIDARG: `matrix` does not hold exactly 9 values.
HRESULT InvertMatrix3(std::vector<double>& inverse, const std::vector<double>& matrix);

// The matrix used in place of the inverse when the covariance is singular:
// every element replaced by its reciprocal, 1 / c[i], off-diagonal elements
// included. A zero element gives +infinity (−infinity for −0.0).
std::vector<double> SingularCovarianceFallback(const std::vector<double>& covariance);

// Distance image of a 32-bit image against a colour model: for every pixel,
// with d = (blue − mean[0], green − mean[1], red − mean[2]) as doubles and M =
// `inverse`, the quadratic form evaluated left to right as
//   q = M[0][0]·d0·d0 + 2·M[1][0]·d0·d1 + 2·M[2][0]·d0·d2
//     + M[1][1]·d1·d1 + 2·M[2][1]·d1·d2 + M[2][2]·d2·d2
// (off-diagonal terms from the lower triangle, indices 3, 6 and 7). The grey
// level is q itself, no square root: 255 when q > 255, 0 when q < 0 or q is
// not a number, otherwise q truncated toward zero. Infinite entries of M
// follow IEEE arithmetic (+infinity stores 255, infinity times zero stores 0).
//
// The output is a new 8-bit grey image (grey ramp, no resolution) of the
// image's size, pixel (x, y) from pixel (x, y), y down.
//
// Results:
//  - S_OK: `out` holds the new image.
//  - E_INVALIDARG: the image is not a 32-bit image with pixels, `mean` does
//    not hold exactly 3 values or `inverse` exactly 9; `out` untouched.
//  - E_OUTOFMEMORY: the output cannot be made; `out` reset to empty.
//  - E_ABORT: `stop` (may be null) reported a stop request; it is asked once
//    before each row. `out` reset to empty.
HRESULT ComputeDistanceImage(DibPtr& out, const CDib& image, const std::vector<double>& mean,
                             const std::vector<double>& inverse, const CTerminable* stop);
