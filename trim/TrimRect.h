// The manuscript rectangle: where the four edge lines of a straightened page
// meet, which axis-aligned rectangle to keep, the fixed-size and trimming
// rules, its placement inside the image, the crop, and the preview fit.
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards, in
// pixels of the straightened image. Rectangles: left and top inclusive,
// right and bottom exclusive. Sides and their arrays are indexed by `Side`
// (0 left, 1 top, 2 right, 3 bottom).
#pragma once

#include <array>
#include <cstdint>

#include "image/BitmapTypes.h"
#include "image/Dib.h"
#include "image/Side.h"
#include "msg/Result.h"
#include "trim/EdgeLine.h"

struct PointD {
    double x = 0.0;
    double y = 0.0;
};

// Corner i is where edge line i meets line (i + 1) mod 4: 0 top left,
// 1 top right, 2 bottom right, 3 bottom left.
using TrimCorners = std::array<PointD, 4>;
// For each side: whether it is in the file's cut-side list.
using CutFlags = std::array<bool, 4>;
// The four edge lines in the order left, top, right, bottom.
using ManuscriptLines = std::array<EdgeLine, 4>;

// The rectangle and the unrounded edge positions it was rounded from:
// edges = left x, top y, right x, bottom y. trimSkipped: the additional
// trimming was left out on an axis with a cut side because it would have
// left nothing of the page.
struct TrimRect {
    RECT rect{0, 0, 0, 0};
    std::array<double, 4> edges{};
    bool trimSkipped = false;
};

// Which rule of the rectangle check refused a side's line; None for a line
// that was kept (or not checked).
enum class LineRule : std::uint8_t {
    None,
    TooFewPoints,     // rests on too few points to be an edge
    InsidePage,       // no lid outside it: it lies inside the page
    CutsPageAway,     // too much of the page lies outside it
    CrossesOpposite,  // it meets the opposite side's line inside the image
};
using LineRules = std::array<LineRule, 4>;

// Meeting point of a left/right line (x = m_v·y + c_v) and a top/bottom line
// (y = m_h·x + c_h), in either order (told apart by their `side`):
// x = (m_v·c_h + c_v) / (1 − m_v·m_h), y = x·m_h + c_h. Border lines give
// exactly x = −1 or W and y = −1 or H. When both lines are of one kind, `a`
// is taken as the left/right one.
PointD IntersectEdgeLines(const EdgeLine& a, const EdgeLine& b);

// The four corners of `lines` (left, top, right, bottom).
TrimCorners ManuscriptCorners(const ManuscriptLines& lines);

// Where a point of the picture turned by RotateImage(angle) (image/Rotate.h)
// lay before the turn: the inverse of p' = c + R(angle)·(p − c) about the
// centre c = (width / 2, height / 2), taken at pixel centres (the pixel
// (x, y) covers [x, x + 1) × [y, y + 1)).
PointD UnturnedPoint(PointD p, double angle, LONG width, LONG height);

// True for every side listed in `cutSides`; values outside 0 to 3 are
// ignored.
CutFlags CutFlagsFromSides(const SideList& cutSides);

// The rectangle check: the lines of the cut sides, fitted on the
// straightened 8-bit foreground, are checked before a rectangle is made of
// them. With the lid along the margins of the foreground (FindLidMargins:
// C(s, t) = CeilingAt(s, t), the lid ceiling of scan line t of side s) and
// m the smaller of the foreground's width and height, a cut side's fitted
// line (votes > 0) is refused when
//  0. it does not rest on enough points (RestsOnEnoughPoints), as the
//     ragged edge of a text block on a page that fills the frame, unless
//     the page follows it: with enough votes (HasEnoughVotes), on three in
//     four of the scan lines t between its first and last point near it
//     (SupportOf; every 4th), three in four of the max(1, trunc(m / 50))
//     pixels from the line inwards are above C(side, t), as along a faint
//     page edge whose points the noise thinned out;
//  1. it lies inside the page: of the rows (left, right) or columns (top,
//     bottom) t where the line runs inside the image, sampled every 4th,
//     fewer than half show a pixel at most C(side, t) within
//     max(2, trunc(m / 100)) pixels outside the line (towards its border;
//     the image border is no lid);
//  2. it cuts the page away: more than a quarter of the page's pixels lie
//     outside it, sampled every 4th row and column, a pixel (x, y) being
//     the page's when it is above C(left, y), C(right, y), C(top, x) and
//     C(bottom, x);
//  3. it meets or crosses the opposite side's line between the image's
//     first and last row (left, right) or column (top, bottom): a fitted
//     line facing a border line, or of two fitted lines the one with fewer
//     votes (the right or bottom one on equal votes); checked after the
//     others.
// A refused line becomes BorderEdgeLine(foreground, side) with 0 votes, so
// that side ends at the image border, as a side without edge points does.
// `refused` (may be null) receives, per side, the first rule that refused
// its line (0 to 3 in the order above), None for the others; `margins` (may
// be null) is FindLidMargins(foreground) when already found. S_OK; or
// E_INVALIDARG, with `lines` untouched, when the foreground is not an 8-bit
// image with pixels.
HRESULT CheckManuscriptLines(ManuscriptLines& lines, const CutFlags& cut, const CDib& foreground,
                             LineRules* refused, const LidMargins* margins = nullptr);

// The trim rectangle from the corners (x_i, y_i).
//  1. Edge positions. AutoTrimParams::FlagDeepCut set (only what lies inside
//     all four lines): left max(x0, x3), top max(y0, y1), right min(x1, x2),
//     bottom min(y2, y3); clear (the whole manuscript): min/max the other way.
//  2. Rounding: deep cut ceil(left), ceil(top), floor(right) + 1,
//     floor(bottom) + 1; otherwise floor(left), floor(top), ceil(right) + 1,
//     ceil(bottom) + 1.
//  3. FlagOutputSize with output.cx > 0 and output.cy > 0: FitSpan of each
//     axis to output.
//  4. FlagAdditionalTrim: each axis whose span s exceeds trim (s − trim > 0)
//     is fitted to s − trim, after step 3; on an axis with a cut side where
//     it does not, nothing is trimmed and trimSkipped is set.
// FitSpan gets the unrounded positions of step 1. Positions that are not
// finite or lie beyond ±2^30 (degenerate lines only) are clamped to ±2^30
// (NaN to 0) before the conversion to integers.
TrimRect ComputeTrimRect(const TrimCorners& corners, DWORD flags, const CutFlags& cut, SIZE output,
                         SIZE trim);

// Changes low and high in place so that high − low = target, moving only cut
// sides:
//  - only low cut: low = high − target; only high cut: high = low + target;
//    neither cut, or target equal to the span: unchanged;
//  - both cut: the change is shared equally; an odd pixel is added on the low
//    side when dLow > dHigh (else on the high side), or taken from the low
//    side when dLow < dHigh (else from the high side), where
//    dLow = low − edgeLow and dHigh = edgeHigh − (high − 1).
void FitSpan(LONG& low, LONG& high, bool cutLow, bool cutHigh, double edgeLow, double edgeHigh,
             LONG target);

// Moves `rect` inside a width × height image without changing its size: on
// each axis a span shorter than the image is shifted right/down to start at
// 0 or higher, then left/up to end at the image size or lower; a span at
// least as long as the image becomes 0 .. size. An empty span stays empty.
RECT PlaceRect(const RECT& rect, LONG width, LONG height);

// Copies the pixels of `rect` of a 32-bit image into a new 32-bit image of
// the rectangle's size (all four bytes; rows counted from the top). The
// result carries no resolution.
//  - E_INVALIDARG (out untouched): left < 0, top < 0, right > width,
//    bottom > height, an empty rectangle, or an image that is not 32-bit.
//  - E_OUTOFMEMORY (out reset): the result cannot be allocated.
// `out` may be the pointer that owns `image`.
HRESULT CropImage(DibPtr& out, const CDib& image, const RECT& rect);

// The rectangle of the box's aspect fit for an image of `size`, centred in
// `box` (offsets (box − fitted) / 2, truncated):
//  - a box of zero (or negative) width or height, or a size with a side of 0
//    or less: the box itself;
//  - aspect ratios (w / h) that differ by less than 0.01: the whole box;
//  - a relatively wider box: height bh, width trunc(size.w · bh / size.h),
//    widened to bw when that leaves 4 pixels or fewer;
//  - otherwise: width bw, height trunc(size.h · bw / size.w), likewise.
RECT FitPreviewRect(const RECT& box, SIZE size);
