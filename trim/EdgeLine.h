// Edge lines of a manuscript: the straight line along one side of the page,
// found in the 8-bit foreground image (background dark, manuscript bright)
// from the side's edge points by a Hough transform, and the skew angle taken
// from the best of them.
//
// Coordinates: origin at the top-left pixel, x to the right, y downwards.
// Angles are in radians. The constants pi = 3.141592 and pi/2 = 1.570796 are
// used as written (not the exact values), so results match bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "image/BitmapTypes.h"
#include "image/Dib.h"
#include "image/EdgePoints.h"
#include "image/Side.h"
#include "image/Terminable.h"
#include "msg/Result.h"

// One side's fitted line. Normal form: x·cos(theta) + y·sin(theta) = rho.
// Left and right sides: x = slope·y + intercept; top and bottom sides:
// y = slope·x + intercept. A fresh record has every number 0 and no points.
struct EdgeLine {
    Side side = SideLeft;
    // Detection level k of the edge points; 0 for a border line or a record
    // never fitted.
    double level = 0.0;
    double theta = 0.0;
    double rho = 0.0;
    double slope = 0.0;
    double intercept = 0.0;
    // Score from the Hough accumulator; 0 means no usable line.
    std::int32_t votes = 0;
    // The edge points that survived the border filter, in extraction order.
    PointList points;
};

using EdgeLineList = std::vector<EdgeLine>;

// The line one pixel outside the image on `side` (W = width, H = |height|):
//  left:   theta 0,        rho -1, x = -1, votes H;
//  top:    theta 1.570796, rho -1, y = -1, votes W;
//  right:  theta 0,        rho W,  x = W,  votes H;
//  bottom: theta 1.570796, rho H,  y = H,  votes W.
// Slope 0, level 0, no points. A side outside 0 to 3 gives the left line
// (the record keeps the given side value).
EdgeLine BorderEdgeLine(const CDib& image, Side side);

// Result of HoughLine: the peak's normal angle (radians), its distance
// (pixels) and its votes.
struct HoughPeak {
    double theta = 0.0;
    std::int32_t rho = 0;
    std::int32_t votes = 0;
};

// Hough transform of `points` over `steps` angles thetaMin + i·dTheta,
// dTheta = (thetaMax - thetaMin) / steps, and the integer distances -rhoMax
// to rhoMax. A point votes at angle i for the distance
// trunc(x·cos + y·sin + 0.5) (toward zero) when it lies in that range. The
// peak is the largest counter, the first in the order (angle, rising
// distance) on ties. votes: the peak counter when rhoWindow is 0, else the
// sum of the peak angle's counters within rho ± rhoWindow. steps <= 0 or
// rhoMax < 0: theta = thetaMin, rho 0, votes 0. Throws std::bad_alloc when
// the accumulator (steps × (2·rhoMax + 1) counters) cannot be allocated;
// FitEdgeLine reports that as E_OUTOFMEMORY.
HoughPeak HoughLine(const PointList& points, double thetaMin, double thetaMax, int steps,
                    int rhoMax, int rhoWindow);

// Fits the edge line of `side` at detection level `level` into `record`:
// side, level, theta, rho, slope, intercept, votes and the points (replacing
// the record's previous points). Edge points (half window 1) inside the
// side's border strip of `band` pixels (band.cx for left/right, band.cy for
// top/bottom) are dropped. The search covers ±maxSkewDegrees around the
// side's axis in 2·maxSkewDegrees·angleStepsPerDegree steps.
// `margins` (here and below, may be null): FindLidMargins(image), found
// once for several fits.
// S_OK; S_FALSE when no point is left (record := BorderEdgeLine with votes
// 0); E_INVALIDARG from the edge-point extraction (wrong depth, bad side);
// E_OUTOFMEMORY.
HRESULT FitEdgeLine(EdgeLine& record, const CDib& image, Side side, double level, SIZE band,
                    int maxSkewDegrees, int angleStepsPerDegree,
                    const LidMargins* margins = nullptr);

// The fit of `side` with the most votes over the levels 2 to 9 (the lower
// level on equal votes); BorderEdgeLine with 0 votes when no level gives a
// vote. Asks `runner` (may be null) for a stop request before every fit.
// S_OK, E_ABORT on a stop request, or the error of a fit.
HRESULT FitEdgeLineBestLevel(EdgeLine& record, const CDib& image, Side side, SIZE band,
                             int maxSkewDegrees, int angleStepsPerDegree, const CTerminable* runner,
                             const LidMargins* margins = nullptr);

// One record per side of `sides`, in order; each keeps the fit with the most
// votes over the levels 2 to 9 (the lower level on equal votes). A side
// whose levels all give 0 votes keeps a fresh record (its side set, level
// and votes 0). Asks `runner` (may be null) for a stop request before every
// fit. S_OK, E_ABORT on a stop request, or the error of a fit; `records`
// is replaced in every case.
HRESULT FitRotationEdgeLines(EdgeLineList& records, const CDib& foreground, const SideList& sides,
                             SIZE band, int maxSkewDegrees, int angleStepsPerDegree,
                             const CTerminable* runner, const LidMargins* margins = nullptr);

// The points of a line that lie within 2 px of it: how many, and the first
// and last scan line (row for left and right, column for top and bottom)
// they lie on; last < first when there are none.
struct LineSupport {
    std::int64_t count = 0;
    LONG first = 0;
    LONG last = -1;
};
LineSupport SupportOf(const EdgeLine& line);

// Whether a line's votes are at least a twentieth of the image's height
// (left, right) or width (top, bottom).
bool HasEnoughVotes(const EdgeLine& line, const CDib& image);

// Whether a fitted line rests on enough of the scan lines of `image` to be
// an edge: HasEnoughVotes, and its points within 2 px of it lie on at least
// half of the scan lines between the first and the last of them. A page
// edge holds a point on nearly every line along it; a few points of another
// edge, or the ragged starts of text lines, do not.
bool RestsOnEnoughPoints(const EdgeLine& line, const CDib& image);

// The angle that turns `line` upright (left, right) or level (top,
// bottom): -theta or -(theta - 1.570796), in radians; 0 (never -0) for a
// line on its axis. A positive angle turns the picture clockwise as seen on
// the screen, which straightens a page whose left edge drifts to the right
// going down.
double EdgeLineSkew(const EdgeLine& line);

// EdgeLineSkew made finer than the Hough step: the skew of the least-squares
// line through the points within 2 px of `line`, when it differs from
// EdgeLineSkew by no more than a tenth of a degree. A line on its axis
// (EdgeLineSkew 0) keeps 0, so that a straight page is not turned.
double RefinedEdgeLineSkew(const EdgeLine& line);

// The index of the first record with the most votes; -1 when no record has
// a vote.
int StrongestEdgeLine(const EdgeLineList& records);

// The skew angle in radians from the records of FitRotationEdgeLines:
// EdgeLineSkew of StrongestEdgeLine (records with 0 votes never count); 0
// when no record has votes.
double SkewAngleFromEdgeLines(const EdgeLineList& records);
