// Manuscript edge points and strip maxima on an 8-bit foreground image
// (scanner background dark, manuscript bright).
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards.
// Sides: 0 left, 1 top, 2 right, 3 bottom (the values of `Side`).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "image/BitmapTypes.h"
#include "image/Dib.h"
#include "image/Side.h"
#include "msg/Result.h"

using PointList = std::vector<POINT>;

// The lid ceiling of a foreground image: the grey level above which a pixel
// no longer looks like the scanner lid. It is read from the margin strips,
// the border band of each side (BorderBandOf with kDefaultBorderBandRatio):
// for a strip with first quartile q1 and median q2 (the values of rank
// count / 4 and count / 2 of its sorted levels) the lid reaches
// q2 + max(3, 3 × (q2 − q1)); the ceiling is the lowest of the four sides,
// so the side where the lid shows best decides (a strip that a page covers
// reads high). An image that is not 8 bits deep with pixels gives 255.
int LidCeiling(const CDib& image);

// The lid along the margins of a foreground image, border by border, with
// m the smaller of its width and height.
//
// A dark frame strip along a border (the scanner's frame, bright in the
// foreground) is passed over first: on each scan line, a run of pixels above
// 2 × LidCeiling + 32 from the border that ends within max(1, trunc(m / 50))
// pixels (a longer run is no frame).
//
// The margin band of each side (BorderBandOf with kDefaultBorderBandRatio
// deep), taken on each scan line after its frame, is then followed around
// the image (top left to right, right top to bottom, bottom right to left,
// left bottom to top) in windows of max(4, trunc(m / 150)) scan lines, and
// of at least 32 pixels. The band shows the lid wherever it is joined to its
// darkest window without a step: going round from that window either way, a
// window whose median rises more than 6 above the lid before it starts a
// stretch that is no lid (a page touching or running off that border),
// which ends at the first window back within 6 of that lid; the lid's level
// follows windows that change by 2 or less. A window is lid when either way
// round finds it so. So a lid lit unevenly (lamp fall-off) keeps its own
// level at each border, and paper in the band does not pass for lid.
struct LidMargins {
    // Per side and scan line (rows for left and right, columns for top and
    // bottom, as ExtractEdgePoints numbers them): the length of its frame
    // run (0 without one).
    std::array<std::vector<std::int16_t>, 4> lineFrame;
    // Per side and scan line: where the band shows lid, the level above
    // which a pixel no longer looks like the lid near that line's border:
    // q2 + max(3, 3 × (q2 − q1)) of its window, and no less than `lowest`;
    // -1 where the band shows no lid.
    std::array<std::vector<std::int16_t>, 4> lineCeiling;
    // LidCeiling of the image.
    int lowest = 255;
    // How far the lid's level (the lid windows' medians) varies around the
    // margins: away from a border the lid may read that much higher.
    int drift = 0;

    // The ceiling of scan line `line` of `side`: lineCeiling, or `lowest`
    // where the band shows no lid there.
    int CeilingAt(Side side, LONG line) const;

    // The level up to which a pixel inside the image, near a border whose
    // ceiling is `ceiling`, still passes for lid beside a page of level
    // `page`: ceiling + drift, but no more than a quarter of the page's
    // level (and never below the ceiling).
    int InnerCeiling(int ceiling, int page) const;
};

// The lid along the margins of `image` (above). An image that is not 8
// bits deep with pixels gives no scan lines.
LidMargins FindLidMargins(const CDib& image);

// Appends to `points` at most one edge point per scan line of `side`:
//  - left:   rows top to bottom, each walked from column 0 rightwards;
//  - top:    columns left to right, each walked from row 0 downwards;
//  - right:  rows top to bottom, each walked from column w - 1 leftwards;
//  - bottom: columns left to right, each walked from row h - 1 upwards.
// Walking inwards, the step at position p (0 = outermost pixel) is
// (sum of the n newest grey levels - sum of the n before them) / (2n),
// integer, truncated toward zero. A line opens at the first step >= k,
// follows the rise while the step stays >= 1 and reports its steepest step
// (first one on ties) at position bestPos + 1 - n (at least 0). With n = 1
// that is the first pixel of the bright side. Falling steps never open a
// line; a line that never opens gives no point.
//
// Only a rise from the lid into the page counts. With M = FindLidMargins(
// image), C = M.CeilingAt(side, line), F the line's frame run, m the
// smaller of width and height, and e a rise's edge position:
//  - the line starts on the lid: its pixel at position F is at most C. A
//    line that starts inside a page running off or touching that border
//    gives no point, however its levels rise further in (out of the holes
//    that dark text leaves in the foreground, for one);
//  - the lid is near: one of the max(2n, trunc(m / 100)) pixels before e is
//    at most C, or at most M.InnerCeiling(C, P) with P the median of the
//    pixels of the next rule. A walk that crossed a faint page without
//    opening does not take the far edge, its shadow or text on the page for
//    the edge;
//  - the page follows: the max(1, trunc(m / 50)) pixels from e on (fewer at
//    the end of the line) are all above C. A narrow bump on lid-like ground
//    (a glyph, a lid's weave, a speck, a shadow's rim) is no page.
// A rise that breaks the second or third rule is passed over: the walk goes
// on from its end as if it had not opened. On a line from a plain lid
// margin into the page the first rise is the edge.
//
// `margins`, when given, is FindLidMargins(image) found once for several
// calls (margins of an image of another size are not used).
//
// S_OK on success (also when the image has no BI_RGB pixels or a zero
// width, height or stride: no points). E_INVALIDARG, with nothing
// appended, when the image is not 8 bits deep or has no pixel bits, when
// side is outside 0 to 3 or when n < 1. E_OUTOFMEMORY (nothing appended)
// when the list cannot grow.
HRESULT ExtractEdgePoints(PointList& points, const CDib& image, Side side, int n, double k,
                          const LidMargins* margins = nullptr);

// The edge points of one side at several levels in one pass over the image:
// `lists` is replaced by levels.size() lists, lists[i] holding exactly what
// ExtractEdgePoints(lists[i], image, side, n, levels[i]) gives. Levels may
// come in any order and repeat. S_OK (also for no levels); E_INVALIDARG or
// E_OUTOFMEMORY as ExtractEdgePoints, with `lists` left empty.
HRESULT ExtractEdgePointsLevels(std::vector<PointList>& lists, const CDib& image, Side side, int n,
                                std::span<const double> levels,
                                const LidMargins* margins = nullptr);

// The largest grey level of the pixels of `rect` (left, top inclusive;
// right, bottom exclusive) in `maximum`; 0 for an empty rectangle. S_OK, or
// E_INVALIDARG (maximum untouched) when the image is not 8 bits deep or has
// no pixel bits, or when a non-empty rectangle reaches outside the image.
HRESULT GetStripMaximum(const CDib& image, const RECT& rect, BYTE& maximum);
