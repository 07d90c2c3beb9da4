#include "trim/PageEdges.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

// The grey level of the source at (x, y), bilinearly between pixel
// centres; the border pixels repeat beyond the picture.
double GreyAt(const CDib& source, double x, double y) {
    const LONG w = source.Width();
    const LONG h = source.Height();
    x = std::clamp(x, 0.0, static_cast<double>(w - 1));
    y = std::clamp(y, 0.0, static_cast<double>(h - 1));
    const LONG x0 = static_cast<LONG>(x);
    const LONG y0 = static_cast<LONG>(y);
    const LONG x1 = std::min(x0 + 1, w - 1);
    const LONG y1 = std::min(y0 + 1, h - 1);
    const double fx = x - x0;
    const double fy = y - y0;
    const auto grey = [&source](LONG px, LONG py) {
        const BYTE* p = source.Row(py) + std::size_t{4} * px;
        return (p[0] + p[1] + p[2]) / 3.0;
    };
    const double top = grey(x0, y0) + (grey(x1, y0) - grey(x0, y0)) * fx;
    const double bottom = grey(x0, y1) + (grey(x1, y1) - grey(x0, y1)) * fx;
    return top + (bottom - top) * fy;
}

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Where `line` crosses scan line t.
double LineAt(const EdgeLine& line, double t) {
    return line.slope * t + line.intercept;
}

}  // namespace

void FindPageEdges(ManuscriptLines& lines, const CutFlags& cut, const CDib& source, double angle) {
    if (source.BitCount() != 32 || source.Bits() == nullptr) {
        return;
    }
    const LONG w = source.Width();
    const LONG h = source.Height();
    const LONG reach = std::max<LONG>(8, std::min(w, h) / 20);
    constexpr LONG kEvery = 4;
    constexpr LONG kPageSpan = 16;
    constexpr LONG kPullBack = 3;
    // A step along a scan line of the turned picture is this step in the
    // source.
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    for (const Side side : {SideLeft, SideTop, SideRight, SideBottom}) {
        EdgeLine& line = lines[side];
        if (!cut[side] || line.votes <= 0) {
            continue;
        }
        const bool vertical = side == SideLeft || side == SideRight;
        const double inward = side == SideLeft || side == SideTop ? 1.0 : -1.0;
        const PointD step =
            vertical ? PointD{c * inward, -s * inward} : PointD{s * inward, c * inward};
        const LONG length = vertical ? h : w;
        // The stretch between the neighbouring lines, where the page is.
        const EdgeLine& low = lines[vertical ? SideTop : SideLeft];
        const EdgeLine& high = lines[vertical ? SideBottom : SideRight];
        const double at = line.intercept;
        const LONG from =
            std::clamp<LONG>(static_cast<LONG>(std::ceil(LineAt(low, at))) + 1, 0, length);
        const LONG to =
            std::clamp<LONG>(static_cast<LONG>(std::floor(LineAt(high, at))), 0, length);
        if (to - from < 2 * kEvery) {
            continue;
        }
        // Where each scan line meets the line, in the source.
        std::vector<PointD> starts;
        for (LONG t = from; t < to; t += kEvery) {
            const double e = std::floor(LineAt(line, t));
            const PointD p =
                vertical ? PointD{e, static_cast<double>(t)} : PointD{static_cast<double>(t), e};
            starts.push_back(UnturnedPoint(p, angle, w, h));
        }
        const auto levelAt = [&](const PointD& start, LONG k) {
            return GreyAt(source, start.x + k * step.x, start.y + k * step.y);
        };
        std::vector<double> pageLevels;
        std::vector<double> span(kPageSpan);
        for (const PointD& start : starts) {
            for (LONG k = 0; k < kPageSpan; ++k) {
                span[static_cast<std::size_t>(k)] = levelAt(start, reach + k);
            }
            pageLevels.push_back(Median(span));
        }
        const double page = Median(pageLevels);
        const double bound = page - std::max(8.0, page / 16.0);
        std::vector<double> offsets;
        // The levels at k, k - 1, ... k - kPullBack - 1 of the walk below.
        double recent[kPullBack + 2] = {};
        for (const PointD& start : starts) {
            recent[0] = levelAt(start, 0);
            if (recent[0] >= bound) {
                continue;
            }
            LONG k = 1;
            for (; k < reach; ++k) {
                for (LONG j = kPullBack + 1; j > 0; --j) {
                    recent[j] = recent[j - 1];
                }
                recent[0] = levelAt(start, k);
                if (recent[0] >= bound) {
                    break;
                }
            }
            if (k >= reach) {
                continue;
            }
            // The steepest rise into k - j (j = 0 .. kPullBack), the
            // earliest on ties.
            LONG edge = k;
            double steepest = recent[0] - recent[1];
            for (LONG j = 1; j <= kPullBack && k - j >= 1; ++j) {
                const double rise = recent[j] - recent[j + 1];
                if (rise >= steepest) {
                    steepest = rise;
                    edge = k - j;
                }
            }
            offsets.push_back(static_cast<double>(edge));
        }
        if (2 * offsets.size() < starts.size()) {
            continue;
        }
        std::sort(offsets.begin(), offsets.end());
        const double q1 = offsets[offsets.size() / 4];
        const double q3 = offsets[offsets.size() * 3 / 4];
        const double median = offsets[offsets.size() / 2];
        if (q3 - q1 > 3.0 || median < 2.0) {
            continue;
        }
        line.intercept += inward * median;
        line.rho += inward * median * (vertical ? std::cos(line.theta) : std::sin(line.theta));
    }
}
