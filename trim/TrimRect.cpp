#include "trim/TrimRect.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "image/EdgePoints.h"
#include "trim/AutoTrimParams.h"

namespace {

bool IsVertical(Side side) {
    return side == SideLeft || side == SideRight;
}

// Fitted lines never tilt by more than 10°, so their corners lie near the
// image; the clamp only keeps a degenerate input from overflowing LONG.
LONG ToLong(double v) {
    constexpr double kLimit = 1073741824.0;  // 2^30
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<LONG>(std::clamp(v, -kLimit, kLimit));
}

// False when the trimming would leave nothing and an edge of the axis is
// cut (so it would have moved).
bool FitSpanIfLonger(LONG& low, LONG& high, bool cutLow, bool cutHigh, double edgeLow,
                     double edgeHigh, LONG trim) {
    const LONG target = (high - low) - trim;
    if (target > 0) {
        FitSpan(low, high, cutLow, cutHigh, edgeLow, edgeHigh, target);
        return true;
    }
    return !cutLow && !cutHigh;
}

}  // namespace

PointD IntersectEdgeLines(const EdgeLine& a, const EdgeLine& b) {
    const bool swap = !IsVertical(a.side) && IsVertical(b.side);
    const EdgeLine& v = swap ? b : a;
    const EdgeLine& h = swap ? a : b;
    PointD p;
    p.x = (v.slope * h.intercept + v.intercept) / (1.0 - v.slope * h.slope);
    p.y = p.x * h.slope + h.intercept;
    return p;
}

TrimCorners ManuscriptCorners(const ManuscriptLines& lines) {
    TrimCorners corners;
    for (std::size_t i = 0; i < 4; ++i) {
        corners[i] = IntersectEdgeLines(lines[i], lines[(i + 1) % 4]);
    }
    return corners;
}

namespace {

// Where a line crosses row (left, right) or column (top, bottom) t.
double LineAt(const EdgeLine& line, double t) {
    return line.slope * t + line.intercept;
}

// The level `depth` pixels inside `line` (towards the page), the median
// over its points' stretch (every 4th scan line); 0 without points.
int PageLevelInside(const EdgeLine& line, const CDib& image, LONG depth) {
    const LineSupport support = SupportOf(line);
    const bool vertical = IsVertical(line.side);
    const LONG across = vertical ? image.Width() : image.Height();
    const LONG inward = line.side == SideLeft || line.side == SideTop ? 1 : -1;
    std::vector<int> levels;
    for (LONG t = support.first; t <= support.last; t += 4) {
        const LONG q = static_cast<LONG>(std::floor(LineAt(line, t))) + inward * depth;
        if (q >= 0 && q < across) {
            levels.push_back(vertical ? image.Row(t)[q] : image.Row(q)[t]);
        }
    }
    if (levels.empty()) {
        return 0;
    }
    const auto middle = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 2);
    std::nth_element(levels.begin(), middle, levels.end());
    return *middle;
}

// Check 1: whether the lid shows just outside the line along most of the
// part of it that lies inside the image. A pixel is lid there up to the
// inner ceiling beside the page's level inside the line (InnerCeiling): a
// lid lit unevenly may read above its border's ceiling away from the
// border.
bool HasLidOutside(const EdgeLine& line, const CDib& image, const LidMargins& margins) {
    constexpr LONG kEvery = 4;
    const LONG w = image.Width();
    const LONG h = image.Height();
    const bool vertical = IsVertical(line.side);
    const LONG length = vertical ? h : w;
    const LONG across = vertical ? w : h;
    const LONG reach = std::max<LONG>(2, std::min(w, h) / 100);
    const LONG outward = line.side == SideLeft || line.side == SideTop ? -1 : 1;
    const int page = PageLevelInside(line, image, reach);
    LONG samples = 0;
    LONG lid = 0;
    for (LONG t = 0; t < length; t += kEvery) {
        const double at = std::floor(LineAt(line, t));
        if (!(at >= 0.0 && at < across)) {
            continue;
        }
        ++samples;
        const LONG p = static_cast<LONG>(at);
        const int ceiling = margins.InnerCeiling(margins.CeilingAt(line.side, t), page);
        for (LONG q = p + outward, n = 0; n < reach && q >= 0 && q < across; q += outward, ++n) {
            const BYTE v = vertical ? image.Row(t)[q] : image.Row(q)[t];
            if (v <= ceiling) {
                ++lid;
                break;
            }
        }
    }
    return 2 * lid >= samples;
}

// Check 0's other way to hold: a faint page edge, whose points the noise
// thinned out, has the lid right outside it and the page just inside it
// along nearly all of it; the starts of text lines (no faint edge), or a
// line fitted askew through such sparse points, do not.
bool PageFollows(const EdgeLine& line, const CDib& image, const LidMargins& margins) {
    constexpr LONG kEvery = 4;
    constexpr LONG kOutside = 3;
    const LineSupport support = SupportOf(line);
    if (!HasEnoughVotes(line, image) || support.last < support.first) {
        return false;
    }
    const bool vertical = IsVertical(line.side);
    const LONG across = vertical ? image.Width() : image.Height();
    const LONG depth = std::max<LONG>(1, std::min(image.Width(), image.Height()) / 50);
    const LONG inward = line.side == SideLeft || line.side == SideTop ? 1 : -1;
    // Only a faint edge thins out so: its page reads no more than three
    // times the lid's ceiling (taken half way along its points).
    const int pageLevel = PageLevelInside(line, image, depth / 2);
    if (pageLevel > 3 * margins.CeilingAt(line.side, (support.first + support.last) / 2)) {
        return false;
    }
    const auto at = [&](LONG t, LONG q) {
        return static_cast<int>(vertical ? image.Row(t)[q] : image.Row(q)[t]);
    };
    LONG samples = 0;
    LONG page = 0;
    for (LONG t = support.first; t <= support.last; t += kEvery) {
        const double position = std::floor(LineAt(line, t));
        if (!(position >= 0.0 && position < across)) {
            continue;
        }
        ++samples;
        const LONG p = static_cast<LONG>(position);
        const int ceiling = margins.CeilingAt(line.side, t);
        bool lid = false;
        for (LONG q = p - inward; q != p - inward * (kOutside + 1) && q >= 0 && q < across;
             q -= inward) {
            lid = lid || at(t, q) <= margins.InnerCeiling(ceiling, pageLevel);
        }
        LONG above = 0;
        LONG seen = 0;
        for (LONG q = p; seen < depth && q >= 0 && q < across; q += inward, ++seen) {
            above += at(t, q) > ceiling ? 1 : 0;
        }
        page += lid && seen > 0 && 4 * above >= 3 * seen ? 1 : 0;
    }
    return samples > 0 && 4 * page >= 3 * samples;
}

// Check 2: for each side, the page's pixels outside its line, and all of
// them, on a grid of every 4th row and column. A pixel is the page's when
// it lies above the lid ceilings of the four scan lines through it.
void CountPageOutside(const ManuscriptLines& lines, const CDib& image, const LidMargins& margins,
                      std::array<LONG, 4>& outside, LONG& total) {
    constexpr LONG kEvery = 4;
    outside = {};
    total = 0;
    std::vector<int> columns;
    for (LONG x = 0; x < image.Width(); x += kEvery) {
        columns.push_back(
            std::max(margins.CeilingAt(SideTop, x), margins.CeilingAt(SideBottom, x)));
    }
    for (LONG y = 0; y < image.Height(); y += kEvery) {
        const BYTE* row = image.Row(y);
        const double left = LineAt(lines[SideLeft], y);
        const double right = LineAt(lines[SideRight], y);
        const int across =
            std::max(margins.CeilingAt(SideLeft, y), margins.CeilingAt(SideRight, y));
        for (LONG x = 0; x < image.Width(); x += kEvery) {
            if (row[x] <= std::max(across, columns[static_cast<std::size_t>(x / kEvery)])) {
                continue;
            }
            ++total;
            outside[SideLeft] += x < left ? 1 : 0;
            outside[SideRight] += x > right ? 1 : 0;
            outside[SideTop] += y < LineAt(lines[SideTop], x) ? 1 : 0;
            outside[SideBottom] += y > LineAt(lines[SideBottom], x) ? 1 : 0;
        }
    }
}

// Check 3: whether a pair of opposite lines meets between the image's first
// and last row or column.
bool Meet(const EdgeLine& low, const EdgeLine& high, LONG length) {
    return LineAt(low, 0) >= LineAt(high, 0) || LineAt(low, length) >= LineAt(high, length);
}

}  // namespace

HRESULT CheckManuscriptLines(ManuscriptLines& lines, const CutFlags& cut, const CDib& foreground,
                             LineRules* refused, const LidMargins* given) {
    if (foreground.BitCount() != 8 || foreground.Bits() == nullptr || foreground.Width() <= 0 ||
        foreground.Height() <= 0) {
        return E_INVALIDARG;
    }
    const bool fits =
        given != nullptr &&
        given->lineCeiling[SideLeft].size() == static_cast<std::size_t>(foreground.Height()) &&
        given->lineCeiling[SideTop].size() == static_cast<std::size_t>(foreground.Width());
    const LidMargins found = fits ? LidMargins{} : FindLidMargins(foreground);
    const LidMargins& margins = fits ? *given : found;
    LineRules refuse{};
    std::array<LONG, 4> outside{};
    LONG total = 0;
    CountPageOutside(lines, foreground, margins, outside, total);
    for (std::size_t side = 0; side < 4; ++side) {
        if (!cut[side] || lines[side].votes <= 0) {
            continue;
        }
        if (!RestsOnEnoughPoints(lines[side], foreground) &&
            !PageFollows(lines[side], foreground, margins)) {
            refuse[side] = LineRule::TooFewPoints;
        } else if (!HasLidOutside(lines[side], foreground, margins)) {
            refuse[side] = LineRule::InsidePage;
        } else if (4 * outside[side] > total) {
            refuse[side] = LineRule::CutsPageAway;
        }
    }
    const auto giveUp = [&](std::size_t side) {
        lines[side] = BorderEdgeLine(foreground, static_cast<Side>(side));
        lines[side].votes = 0;
    };
    for (std::size_t side = 0; side < 4; ++side) {
        if (refuse[side] != LineRule::None) {
            giveUp(side);
        }
    }
    for (const std::size_t low : {std::size_t{SideLeft}, std::size_t{SideTop}}) {
        const std::size_t high = low + 2;
        const LONG length = low == SideLeft ? foreground.Height() : foreground.Width();
        if (!Meet(lines[low], lines[high], length)) {
            continue;
        }
        // Border lines (no votes) stay; of two fitted lines the weaker goes.
        const bool lowFitted = cut[low] && lines[low].votes > 0;
        const bool highFitted = cut[high] && lines[high].votes > 0;
        if (lowFitted || highFitted) {
            const std::size_t weaker =
                !highFitted || (lowFitted && lines[low].votes < lines[high].votes) ? low : high;
            refuse[weaker] = LineRule::CrossesOpposite;
            giveUp(weaker);
        }
    }
    if (refused != nullptr) {
        *refused = refuse;
    }
    return S_OK;
}

PointD UnturnedPoint(PointD p, double angle, LONG width, LONG height) {
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double x = p.x + 0.5 - cx;
    const double y = p.y + 0.5 - cy;
    return PointD{cx + c * x + s * y - 0.5, cy - s * x + c * y - 0.5};
}

CutFlags CutFlagsFromSides(const SideList& cutSides) {
    CutFlags cut{};
    for (Side side : cutSides) {
        if (side >= SideLeft && side <= SideBottom) {
            cut[static_cast<std::size_t>(side)] = true;
        }
    }
    return cut;
}

TrimRect ComputeTrimRect(const TrimCorners& corners, DWORD flags, const CutFlags& cut, SIZE output,
                         SIZE trim) {
    const auto& [x0, y0] = corners[0];
    const auto& [x1, y1] = corners[1];
    const auto& [x2, y2] = corners[2];
    const auto& [x3, y3] = corners[3];
    TrimRect result;
    auto& e = result.edges;
    RECT& r = result.rect;
    if ((flags & AutoTrimParams::FlagDeepCut) != 0) {
        e = {std::max(x0, x3), std::max(y0, y1), std::min(x1, x2), std::min(y2, y3)};
        r.left = ToLong(std::ceil(e[SideLeft]));
        r.top = ToLong(std::ceil(e[SideTop]));
        r.right = ToLong(std::floor(e[SideRight]) + 1.0);
        r.bottom = ToLong(std::floor(e[SideBottom]) + 1.0);
    } else {
        e = {std::min(x0, x3), std::min(y0, y1), std::max(x1, x2), std::max(y2, y3)};
        r.left = ToLong(std::floor(e[SideLeft]));
        r.top = ToLong(std::floor(e[SideTop]));
        r.right = ToLong(std::ceil(e[SideRight]) + 1.0);
        r.bottom = ToLong(std::ceil(e[SideBottom]) + 1.0);
    }

    if ((flags & AutoTrimParams::FlagOutputSize) != 0 && output.cx > 0 && output.cy > 0) {
        FitSpan(r.left, r.right, cut[SideLeft], cut[SideRight], e[SideLeft], e[SideRight],
                output.cx);
        FitSpan(r.top, r.bottom, cut[SideTop], cut[SideBottom], e[SideTop], e[SideBottom],
                output.cy);
    }
    if ((flags & AutoTrimParams::FlagAdditionalTrim) != 0) {
        const bool across = FitSpanIfLonger(r.left, r.right, cut[SideLeft], cut[SideRight],
                                            e[SideLeft], e[SideRight], trim.cx);
        const bool down = FitSpanIfLonger(r.top, r.bottom, cut[SideTop], cut[SideBottom],
                                          e[SideTop], e[SideBottom], trim.cy);
        result.trimSkipped = !across || !down;
    }
    return result;
}

void FitSpan(LONG& low, LONG& high, bool cutLow, bool cutHigh, double edgeLow, double edgeHigh,
             LONG target) {
    const LONG current = high - low;
    if (target == current || (!cutLow && !cutHigh)) {
        return;
    }
    if (!cutHigh) {
        low = high - target;
        return;
    }
    if (!cutLow) {
        high = low + target;
        return;
    }
    const double dLow = low - edgeLow;
    const double dHigh = edgeHigh - (high - 1);
    if (target > current) {
        const LONG diff = target - current;
        const LONG half = diff / 2;
        const bool odd = diff % 2 == 1;
        if (odd && dLow > dHigh) {
            low -= 1 + half;
            high += half;
        } else {
            high += (odd ? 1 : 0) + half;
            low -= half;
        }
    } else {
        const LONG diff = current - target;
        const LONG half = diff / 2;
        const bool odd = diff % 2 == 1;
        if (odd && dLow < dHigh) {
            low += 1 + half;
            high -= half;
        } else {
            high -= (odd ? 1 : 0) + half;
            low += half;
        }
    }
}

namespace {

void PlaceSpan(LONG& low, LONG& high, LONG size) {
    if (high - low < size) {
        if (low < 0) {
            high -= low;
            low = 0;
        }
        if (high > size) {
            low -= high - size;
            high = size;
        }
    } else {
        low = 0;
        high = size;
    }
}

}  // namespace

RECT PlaceRect(const RECT& rect, LONG width, LONG height) {
    RECT r = rect;
    PlaceSpan(r.left, r.right, width);
    PlaceSpan(r.top, r.bottom, height);
    return r;
}

HRESULT CropImage(DibPtr& out, const CDib& image, const RECT& rect) {
    if (!image.IsValid() || image.BitCount() != 32 || rect.left < 0 || rect.top < 0 ||
        rect.right > image.Width() || rect.bottom > image.Height() || rect.left >= rect.right ||
        rect.top >= rect.bottom) {
        return E_INVALIDARG;
    }
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const DibPtr result = NewDib(width, height, 32);
    if (!result) {
        out.reset();
        return E_OUTOFMEMORY;
    }
    for (LONG y = 0; y < height; ++y) {
        std::memcpy(result->Row(y), image.Row(rect.top + y) + std::size_t{4} * rect.left,
                    std::size_t{4} * width);
    }
    out = result;
    return S_OK;
}

RECT FitPreviewRect(const RECT& box, SIZE size) {
    const LONG bw = box.right - box.left;
    const LONG bh = box.bottom - box.top;
    if (bw <= 0 || bh <= 0 || size.cx <= 0 || size.cy <= 0) {
        return box;
    }
    const double a = static_cast<double>(size.cx) / size.cy;
    const double b = static_cast<double>(bw) / bh;
    LONG w = bw;
    LONG h = bh;
    if (std::fabs(b - a) < 0.01) {
        // Close enough: fill the box.
    } else if (b > a) {
        w = static_cast<LONG>(std::int64_t{size.cx} * bh / size.cy);
        if (w > bw || bw - w <= 4) {
            w = bw;
        }
    } else {
        h = static_cast<LONG>(std::int64_t{size.cy} * bw / size.cx);
        if (h > bh || bh - h <= 4) {
            h = bh;
        }
    }
    RECT r;
    r.left = box.left + (bw - w) / 2;
    r.top = box.top + (bh - h) / 2;
    r.right = r.left + w;
    r.bottom = r.top + h;
    return r;
}
