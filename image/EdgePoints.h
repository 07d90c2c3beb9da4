// Manuscript edge points and strip maxima on an 8-bit foreground image
// (scanner background dark, manuscript bright).
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards.
// Sides: 0 left, 1 top, 2 right, 3 bottom (the values of `Side`).
#pragma once

#include <span>
#include <vector>

#include "image/BitmapTypes.h"
#include "image/Dib.h"
#include "msg/Result.h"

using PointList = std::vector<POINT>;

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
// S_OK on success (also when the image has no BI_RGB pixels or a zero
// width, height or stride: no points). E_INVALIDARG, with nothing
// appended, when the image is not 8 bits deep or has no pixel bits, when
// side is outside 0 to 3 or when n < 1. E_OUTOFMEMORY (nothing appended)
// when the list cannot grow.
HRESULT ExtractEdgePoints(PointList& points, const CDib& image, int side, int n, double k);

// The edge points of one side at several levels in one pass over the image:
// `lists` is replaced by levels.size() lists, lists[i] holding exactly what
// ExtractEdgePoints(lists[i], image, side, n, levels[i]) gives. Levels may
// come in any order and repeat. S_OK (also for no levels); E_INVALIDARG or
// E_OUTOFMEMORY as ExtractEdgePoints, with `lists` left empty.
HRESULT ExtractEdgePointsLevels(std::vector<PointList>& lists, const CDib& image, int side, int n,
                                std::span<const double> levels);

// The largest grey level of the pixels of `rect` (left, top inclusive;
// right, bottom exclusive) in `maximum`; 0 for an empty rectangle. S_OK, or
// E_INVALIDARG (maximum untouched) when the image is not 8 bits deep or has
// no pixel bits, or when a non-empty rectangle reaches outside the image.
HRESULT GetStripMaximum(const CDib& image, const RECT& rect, BYTE& maximum);
