#include "trim/EdgeLine.h"

#include "image/BackgroundModel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <new>
#include <utility>

namespace {

// The rounded constants are part of the results (angles compared exactly
// downstream), so they are not std::numbers::pi.
constexpr double kPi = 3.141592;
constexpr double kHalfPi = 1.570796;
constexpr double kRhoWindowRatio = 0.002;
constexpr int kFirstLevel = 2;
constexpr int kLastLevel = 9;

bool IsHorizontalSide(Side side) {
    return side == SideTop || side == SideBottom;
}

bool InStrip(const POINT& p, const RECT& strip) {
    return p.x >= strip.left && p.x < strip.right && p.y >= strip.top && p.y < strip.bottom;
}

// The border strip of a side (a value outside 0 to 3 counts as left);
// heights are taken as |height| so that a top-down image filters the same
// rows as a bottom-up one.
RECT BorderStrip(Side side, LONG w, LONG h, SIZE band) {
    RECT strip{};
    if (!SideBandRect(strip, side, SIZE{w, h}, band)) {
        SideBandRect(strip, SideLeft, SIZE{w, h}, band);
    }
    return strip;
}

HRESULT FitEdgeLineFromPoints(EdgeLine& record, const CDib& image, Side side, double level,
                              const PointList& found, SIZE band, int maxSkewDegrees,
                              int angleStepsPerDegree);

// Level search shared by the best-level fit and the rotation stage: the fit
// with the most votes replaces `record`, the lower level winning ties. The
// points of all levels come from one pass over the image.
HRESULT FitBestLevel(EdgeLine& record, const CDib& image, Side side, SIZE band, int maxSkewDegrees,
                     int angleStepsPerDegree, const CTerminable* runner,
                     const LidMargins* margins) {
    static constexpr double kLevels[] = {2, 3, 4, 5, 6, 7, 8, 9};
    static_assert(std::size(kLevels) == kLastLevel - kFirstLevel + 1);
    try {
        std::vector<PointList> lists;
        for (std::size_t i = 0; i < std::size(kLevels); ++i) {
            if (StopRequested(runner)) {
                return E_ABORT;
            }
            if (i == 0) {
                const HRESULT hr = ExtractEdgePointsLevels(lists, image, side, 1, kLevels, margins);
                if (FAILED(hr)) {
                    return hr;
                }
            } else if (lists[i] == lists[i - 1]) {
                // The same points give the same fit, and the lower level
                // keeps a tie.
                continue;
            }
            EdgeLine fit;
            const HRESULT hr = FitEdgeLineFromPoints(fit, image, side, kLevels[i], lists[i], band,
                                                     maxSkewDegrees, angleStepsPerDegree);
            if (FAILED(hr)) {
                return hr;
            }
            if (fit.votes > record.votes) {
                record = std::move(fit);
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

EdgeLine BorderEdgeLine(const CDib& image, Side side) {
    const LONG w = image.Width();
    const LONG h = image.Height();
    EdgeLine line;
    line.side = side;
    switch (side) {
        case SideTop:
            line.theta = kHalfPi;
            line.rho = -1.0;
            line.intercept = -1.0;
            line.votes = w;
            break;
        case SideRight:
            line.theta = 0.0;
            line.rho = w;
            line.intercept = w;
            line.votes = h;
            break;
        case SideBottom:
            line.theta = kHalfPi;
            line.rho = h;
            line.intercept = h;
            line.votes = w;
            break;
        default:
            line.theta = 0.0;
            line.rho = -1.0;
            line.intercept = -1.0;
            line.votes = h;
            break;
    }
    return line;
}

HoughPeak HoughLine(const PointList& points, double thetaMin, double thetaMax, int steps,
                    int rhoMax, int rhoWindow) {
    HoughPeak peak;
    peak.theta = thetaMin;
    if (steps <= 0 || rhoMax < 0) {
        return peak;
    }
    const double dTheta = (thetaMax - thetaMin) / steps;

    // Angles by repeated addition, as the search defines them; the reported
    // theta below is computed by multiplication instead.
    std::vector<double> cosTable(static_cast<std::size_t>(steps));
    std::vector<double> sinTable(static_cast<std::size_t>(steps));
    double angle = thetaMin;
    for (int i = 0; i < steps; ++i) {
        cosTable[i] = std::cos(angle);
        sinTable[i] = std::sin(angle);
        angle += dTheta;
    }

    const std::size_t count = points.size();
    std::vector<double> xs(count);
    std::vector<double> ys(count);
    for (std::size_t j = 0; j < count; ++j) {
        xs[j] = points[j].x;
        ys[j] = points[j].y;
    }

    // The accumulator is walked one angle at a time and only its current
    // row is kept: the peak rule (first largest counter by angle, then by
    // distance) and the window sum need nothing from earlier rows except
    // the best counter so far. The row stays in cache and is cleared only
    // over the distances that received votes.
    const std::size_t width = 2 * static_cast<std::size_t>(rhoMax) + 1;
    std::vector<std::int32_t> counters(width, 0);
    std::int32_t* const row = counters.data() + rhoMax;
    std::vector<std::int32_t> rhos(count);
    std::int32_t best = -1;
    for (int i = 0; i < steps; ++i) {
        const double c = cosTable[i];
        const double s = sinTable[i];
        // Conversion to int truncates toward zero, as the vote rule says.
        std::int32_t low = rhoMax;
        std::int32_t high = -rhoMax;
        for (std::size_t j = 0; j < count; ++j) {
            const std::int32_t r = static_cast<std::int32_t>(xs[j] * c + ys[j] * s + 0.5);
            rhos[j] = r;
            low = std::min(low, r);
            high = std::max(high, r);
        }
        low = std::max(low, -rhoMax);
        high = std::min(high, rhoMax);
        for (std::size_t j = 0; j < count; ++j) {
            const std::int32_t r = rhos[j];
            if (r >= -rhoMax && r <= rhoMax) {
                ++row[r];
            }
        }

        // Every counter outside [low, high] is 0, so a row without votes
        // peaks at its first distance, -rhoMax.
        std::int32_t rowBest = 0;
        std::int32_t rowRho = -rhoMax;
        if (low <= high) {
            std::int32_t top = 0;
            for (std::int32_t r = low; r <= high; ++r) {
                top = std::max(top, row[r]);
            }
            if (top > 0) {
                rowBest = top;
                rowRho = low;
                while (row[rowRho] != top) {
                    ++rowRho;
                }
            }
        }
        if (rowBest > best) {
            best = rowBest;
            peak.theta = i * dTheta + thetaMin;
            peak.rho = rowRho;
            if (rhoWindow == 0) {
                peak.votes = rowBest;
            } else {
                const std::int32_t from = std::max(rowRho - rhoWindow, -rhoMax);
                const std::int32_t to = std::min(rowRho + rhoWindow, rhoMax);
                std::int32_t sum = 0;
                for (std::int32_t r = from; r <= to; ++r) {
                    sum += row[r];
                }
                peak.votes = sum;
            }
        }
        if (low <= high) {
            std::fill(row + low, row + high + 1, 0);
        }
    }
    return peak;
}

namespace {

// The fit of `record` from the side's edge points at `level`; may throw
// std::bad_alloc.
HRESULT FitEdgeLineFromPoints(EdgeLine& record, const CDib& image, Side side, double level,
                              const PointList& found, SIZE band, int maxSkewDegrees,
                              int angleStepsPerDegree) {
    record.side = side;
    record.level = level;

    const LONG w = image.Width();
    const LONG h = image.Height();
    const RECT strip = BorderStrip(side, w, h, band);
    record.points.clear();
    for (const POINT& p : found) {
        if (!InStrip(p, strip)) {
            record.points.push_back(p);
        }
    }
    if (record.points.empty()) {
        record = BorderEdgeLine(image, side);
        record.votes = 0;
        return S_FALSE;
    }

    const LONG m = std::min(w, h);
    const int rhoWindow = static_cast<int>(m * kRhoWindowRatio);
    const double a = maxSkewDegrees * kPi / 180;
    const int steps = 2 * maxSkewDegrees * angleStepsPerDegree;

    HoughPeak peak;
    if (IsHorizontalSide(side)) {
        peak = HoughLine(record.points, kHalfPi - a, kHalfPi + a, steps, h, rhoWindow);
        record.slope = -std::tan(kHalfPi - peak.theta);
        record.intercept = peak.rho / std::sin(peak.theta);
    } else {
        peak = HoughLine(record.points, -a, +a, steps, w, rhoWindow);
        record.slope = -std::tan(peak.theta);
        record.intercept = peak.rho / std::cos(peak.theta);
    }
    record.theta = peak.theta;
    record.rho = peak.rho;
    record.votes = peak.votes;
    return S_OK;
}

HRESULT FitEdgeLineUnguarded(EdgeLine& record, const CDib& image, Side side, double level,
                             SIZE band, int maxSkewDegrees, int angleStepsPerDegree,
                             const LidMargins* margins) {
    record.side = side;
    record.level = level;
    PointList found;
    const HRESULT hr = ExtractEdgePoints(found, image, side, 1, level, margins);
    if (FAILED(hr)) {
        return hr;
    }
    return FitEdgeLineFromPoints(record, image, side, level, found, band, maxSkewDegrees,
                                 angleStepsPerDegree);
}

}  // namespace

HRESULT FitEdgeLine(EdgeLine& record, const CDib& image, Side side, double level, SIZE band,
                    int maxSkewDegrees, int angleStepsPerDegree, const LidMargins* margins) {
    try {
        return FitEdgeLineUnguarded(record, image, side, level, band, maxSkewDegrees,
                                    angleStepsPerDegree, margins);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT FitEdgeLineBestLevel(EdgeLine& record, const CDib& image, Side side, SIZE band,
                             int maxSkewDegrees, int angleStepsPerDegree, const CTerminable* runner,
                             const LidMargins* margins) {
    record.votes = 0;
    const HRESULT hr = FitBestLevel(record, image, side, band, maxSkewDegrees, angleStepsPerDegree,
                                    runner, margins);
    if (FAILED(hr)) {
        return hr;
    }
    if (record.votes <= 0) {
        record = BorderEdgeLine(image, side);
        record.votes = 0;
    }
    return S_OK;
}

HRESULT FitRotationEdgeLines(EdgeLineList& records, const CDib& foreground, const SideList& sides,
                             SIZE band, int maxSkewDegrees, int angleStepsPerDegree,
                             const CTerminable* runner, const LidMargins* margins) {
    records.clear();
    try {
        records.resize(sides.size());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (std::size_t i = 0; i < sides.size(); ++i) {
        records[i].side = sides[i];
    }
    for (std::size_t i = 0; i < sides.size(); ++i) {
        const HRESULT hr = FitBestLevel(records[i], foreground, sides[i], band, maxSkewDegrees,
                                        angleStepsPerDegree, runner, margins);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

LineSupport SupportOf(const EdgeLine& line) {
    const bool horizontal = IsHorizontalSide(line.side);
    LineSupport support;
    for (const POINT& p : line.points) {
        const LONG t = horizontal ? p.x : p.y;
        const LONG at = horizontal ? p.y : p.x;
        if (std::fabs(at - (line.slope * t + line.intercept)) <= 2.0) {
            support.first = support.count == 0 ? t : std::min(support.first, t);
            support.last = support.count == 0 ? t : std::max(support.last, t);
            ++support.count;
        }
    }
    return support;
}

bool HasEnoughVotes(const EdgeLine& line, const CDib& image) {
    const LONG length = IsHorizontalSide(line.side) ? image.Width() : image.Height();
    return 20 * static_cast<std::int64_t>(line.votes) >= length;
}

bool RestsOnEnoughPoints(const EdgeLine& line, const CDib& image) {
    const LineSupport support = SupportOf(line);
    return HasEnoughVotes(line, image) &&
           2 * support.count >= std::int64_t{support.last} - support.first + 1;
}

double EdgeLineSkew(const EdgeLine& line) {
    const double angle = IsHorizontalSide(line.side) ? -(line.theta - kHalfPi) : -line.theta;
    // -0.0 means "no skew" like 0.0; hand back the plain zero.
    return angle == 0.0 ? 0.0 : angle;
}

double RefinedEdgeLineSkew(const EdgeLine& line) {
    const double coarse = EdgeLineSkew(line);
    if (coarse == 0.0) {
        return 0.0;
    }
    // Least squares of the position across (a) on the position along (t)
    // over the points near the line.
    const bool horizontal = IsHorizontalSide(line.side);
    double n = 0.0, st = 0.0, sa = 0.0, stt = 0.0, sta = 0.0;
    for (const POINT& p : line.points) {
        const double t = horizontal ? p.x : p.y;
        const double a = horizontal ? p.y : p.x;
        if (std::fabs(a - (line.slope * t + line.intercept)) <= 2.0) {
            n += 1.0;
            st += t;
            sa += a;
            stt += t * t;
            sta += t * a;
        }
    }
    const double spread = n * stt - st * st;
    if (n < 2.0 || !(spread > 0.0)) {
        return coarse;
    }
    const double slope = (n * sta - st * sa) / spread;
    const double fine = horizontal ? -std::atan(slope) : std::atan(slope);
    // The fit only settles where within its Hough step the line lies.
    const double step = kPi / 1800.0;
    return std::fabs(fine - coarse) <= step ? fine : coarse;
}

int StrongestEdgeLine(const EdgeLineList& records) {
    int strongest = -1;
    std::int32_t best = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].votes > best) {
            best = records[i].votes;
            strongest = static_cast<int>(i);
        }
    }
    return strongest;
}

double SkewAngleFromEdgeLines(const EdgeLineList& records) {
    const int strongest = StrongestEdgeLine(records);
    return strongest < 0 ? 0.0 : EdgeLineSkew(records[static_cast<std::size_t>(strongest)]);
}
