#include "image/EdgePoints.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>

#include "image/BackgroundModel.h"

namespace {

// No step exceeds this: n values of at most 255 over n values of at least 0,
// halved and truncated.
constexpr double kLargestStep = 127.0;

// Difference thresholds outside the range of v(p) - v(p - 1), for columns
// that must see every step (in a rise) or none (finished).
constexpr std::int16_t kEveryStep = -512;
constexpr std::int16_t kNoStep = 512;

// The level above which a pixel no longer looks like a lid whose levels
// have the first quartile q1 and the median q2.
int CeilingOfQuartiles(int q1, int q2) {
    return std::min(255, q2 + std::max(3, 3 * (q2 - q1)));
}

// For n = 1 a line opens where v(p) - v(p - 1) >= this bound. The step
// (a truncated half difference) rises with the difference, so the bound is
// the first difference whose step passes the double comparison; 256 when
// none does (k above 127, or NaN).
int OpeningDifference(double k) {
    for (int d = -255; d <= 255; ++d) {
        if (static_cast<double>(d / 2) >= k) {
            return d;
        }
    }
    return 256;
}

// The levels of one extraction in ascending order (NaN, which never opens a
// line, last), with where each came from and its n = 1 opening difference.
struct Levels {
    std::vector<double> k;
    std::vector<int> opening;
    std::vector<std::size_t> origin;
    int count = 0;

    Levels(const double* levels, std::size_t size) : origin(size) {
        for (std::size_t i = 0; i < size; ++i) {
            origin[i] = i;
        }
        const auto key = [levels](std::size_t i) {
            return std::isnan(levels[i]) ? std::numeric_limits<double>::infinity() : levels[i];
        };
        std::stable_sort(origin.begin(), origin.end(),
                         [&key](std::size_t a, std::size_t b) { return key(a) < key(b); });
        for (const std::size_t i : origin) {
            k.push_back(levels[i]);
            opening.push_back(OpeningDifference(levels[i]));
        }
        count = static_cast<int>(size);
    }
};

// The walk of one scan line for all levels at once. The walk of the lowest
// level not yet served opens first; the rise it follows holds the opening of
// every level up to its steepest step M, and each of those walks follows the
// same rise to the same end and reports the same steepest step. So one rise
// serves every pending level <= M, and the walk goes on from the rise's end
// with the next level (above M, it cannot open inside that rise). A rise
// that `keep` refuses serves no level: each of those walks passes over it
// alike and goes on from its end.
struct LevelWalk {
    int next = 0;  // lowest level not yet served
    bool inRun = false;
    int best = 0;
    LONG bestPos = 0;

    // True when no further step can serve a level.
    bool Done(const Levels& levels) const {
        return !inRun && (next == levels.count || !(kLargestStep >= levels.k[next]));
    }

    // No level is served on this line.
    void Close(const Levels& levels) {
        inRun = false;
        next = levels.count;
    }

    // The step g at position p; result[i] receives the edge position of
    // sorted level i; keep(position) tells whether a rise's edge position
    // counts. Not to be fed once Done.
    template <typename Keep>
    void Feed(int g, LONG p, int n, const Levels& levels, LONG* result, const Keep& keep) {
        if (inRun) {
            if (g >= 1) {
                if (g > best) {
                    best = g;
                    bestPos = p;
                }
                return;
            }
            inRun = false;
            Serve(best, bestPos, n, levels, result, keep);
            return;
        }
        if (!(static_cast<double>(g) >= levels.k[next])) {
            return;
        }
        if (g < 1) {
            // A level at or below 0 opened on a flat or falling step: its
            // walk stops at once with the initial best position 0.
            Serve(g, 0, n, levels, result, keep);
            return;
        }
        inRun = true;
        best = g;
        bestPos = p;
    }

    // The end of the line closes an open rise.
    template <typename Keep>
    void Finish(int n, const Levels& levels, LONG* result, const Keep& keep) {
        if (inRun) {
            inRun = false;
            Serve(best, bestPos, n, levels, result, keep);
        }
    }

    template <typename Keep>
    void Serve(int steepest, LONG at, int n, const Levels& levels, LONG* result, const Keep& keep) {
        const LONG position = std::max<LONG>(0, at + 1 - n);
        if (!keep(position)) {
            return;
        }
        while (next < levels.count && static_cast<double>(steepest) >= levels.k[next]) {
            result[next++] = position;
        }
    }

    std::int16_t Threshold(const Levels& levels) const {
        if (inRun) {
            return kEveryStep;
        }
        return Done(levels) ? kNoStep : static_cast<std::int16_t>(levels.opening[next]);
    }
};

// Step at the newest of 2n values, value(j) being the value j positions
// back: (newest n - the n before) / 2n, truncated toward zero.
template <typename Value>
int StepOf(int n, Value value) {
    int sum = 0;
    for (int j = 0; j < n; ++j) {
        sum += value(j) - value(n + j);
    }
    return sum / (2 * n);
}

// v(p) - v(p - 1) clamped at 0, in byte lanes: for an opening of 1 or
// more, d >= opening exactly when this does, and 16 or 32 of them fit in a
// vector register.
inline BYTE Rise(BYTE newer, BYTE older) {
    return static_cast<BYTE>(newer - std::min(newer, older));
}

// First position q >= p of a row (position 0 at column 0, or at column
// w - 1 when Reverse) where v(q) - v(q - 1) >= opening; w when none. Tested
// a block at a time without branches, reading memory forwards either way.
template <bool Reverse>
LONG FindOpening(const BYTE* row, LONG w, LONG p, int opening) {
    constexpr LONG kBlock = 64;
    if (opening >= 1) {
        const BYTE bound = static_cast<BYTE>(std::min(opening, 255));
        for (; p + kBlock <= w; p += kBlock) {
            BYTE opens = 0;
            if constexpr (Reverse) {
                // Positions p to p + 63 are columns w - 1 - p down to w - 64 - p.
                const BYTE* low = row + (w - kBlock - p);
                for (LONG j = 0; j < kBlock; ++j) {
                    opens |= Rise(low[j], low[j + 1]) >= bound ? 1 : 0;
                }
            } else {
                const BYTE* at = row + p;
                for (LONG j = 0; j < kBlock; ++j) {
                    opens |= Rise(at[j], at[j - 1]) >= bound ? 1 : 0;
                }
            }
            if (opens != 0) {
                break;
            }
        }
    }
    for (; p < w; ++p) {
        const int d = Reverse ? row[w - 1 - p] - row[w - p] : row[p] - row[p - 1];
        if (d >= opening) {
            break;
        }
    }
    return p;
}

// One row, n = 1: between rises the walk jumps to the next opening.
template <bool Reverse, typename Keep>
void WalkRowFast(const BYTE* row, LONG w, const Levels& levels, LONG* result, const Keep& keep) {
    LevelWalk walk;
    LONG p = 1;
    while (p < w) {
        if (!walk.inRun) {
            if (walk.Done(levels)) {
                return;
            }
            p = FindOpening<Reverse>(row, w, p, levels.opening[walk.next]);
            if (p == w) {
                break;
            }
        }
        const int d = Reverse ? row[w - 1 - p] - row[w - p] : row[p] - row[p - 1];
        walk.Feed(d / 2, p, 1, levels, result, keep);
        ++p;
    }
    walk.Finish(1, levels, result, keep);
}

// One row, any n, position by position.
template <typename Keep>
void WalkRowPlain(const BYTE* row, LONG w, bool reverse, int n, const Levels& levels, LONG* result,
                  const Keep& keep) {
    LevelWalk walk;
    const BYTE* base = reverse ? row + (w - 1) : row;
    const std::ptrdiff_t step = reverse ? -1 : 1;
    for (LONG p = 2 * n - 1; p < w && !walk.Done(levels); ++p) {
        const BYTE* at = base + p * step;
        const int g = StepOf(n, [at, step](int j) { return static_cast<int>(at[-j * step]); });
        walk.Feed(g, p, n, levels, result, keep);
    }
    walk.Finish(n, levels, result, keep);
}

// Columns, walked together down the rows: every row is read from left to
// right over the chunks of 64 columns whose walks go on, so the image is
// read in long contiguous runs, and a chunk whose columns have all finished
// is no longer read. For n = 1 each column keeps the difference that would
// change its walk (its next opening, any step while in a rise, none when
// finished), and a chunk's row is first tested against those without
// branches: rows where nothing happens cost one such test. rowAt(p) gives
// the image row at position p; results holds `count` positions per column.
template <typename RowAt, typename KeepAt>
void WalkColumns(LONG w, LONG h, int n, const Levels& levels, RowAt rowAt, const KeepAt& keepAt,
                 std::vector<LONG>& results) {
    constexpr LONG kChunk = 64;
    const std::size_t count = static_cast<std::size_t>(levels.count);
    const LONG chunks = (w + kChunk - 1) / kChunk;
    std::vector<LevelWalk> walks(static_cast<std::size_t>(w));
    std::vector<std::int16_t> thresholds(static_cast<std::size_t>(w));
    // The thresholds clamped to bytes, for the branch-free test against
    // Rise: it may also pass a step that changes nothing (a finished column
    // at 255, a level at or below 0), which the exact test then skips.
    std::vector<BYTE> bounds(static_cast<std::size_t>(w));
    const auto setThreshold = [&](LONG x) {
        thresholds[x] = walks[x].Threshold(levels);
        bounds[x] = static_cast<BYTE>(std::clamp<int>(thresholds[x], 0, 255));
    };
    std::vector<LONG> running(static_cast<std::size_t>(chunks), 0);  // walks going on
    std::vector<LONG> active;  // chunks with walks going on, left to right
    for (LONG x = 0; x < w; ++x) {
        if (!keepAt(x).Opens()) {
            walks[x].Close(levels);
        }
        setThreshold(x);
        running[x / kChunk] += walks[x].Done(levels) ? 0 : 1;
    }
    for (LONG c = 0; c < chunks; ++c) {
        if (running[c] > 0) {
            active.push_back(c);
        }
    }
    std::vector<const BYTE*> rows(static_cast<std::size_t>(2 * n));
    for (LONG p = 2 * n - 1; p < h && !active.empty(); ++p) {
        for (int j = 0; j < 2 * n; ++j) {
            rows[j] = rowAt(p - j);
        }
        const BYTE* newest = rows[0];
        const BYTE* previous = rows[1];
        bool finished = false;
        for (const LONG c : active) {
            const LONG x0 = c * kChunk;
            const LONG x1 = std::min(w, x0 + kChunk);
            LONG& left = running[c];
            if (n == 1) {
                const BYTE* bound = bounds.data();
                BYTE hit = 0;
                for (LONG x = x0; x < x1; ++x) {
                    hit |= Rise(newest[x], previous[x]) >= bound[x] ? 1 : 0;
                }
                if (hit == 0) {
                    continue;
                }
                for (LONG x = x0; x < x1; ++x) {
                    const int d = newest[x] - previous[x];
                    if (d < thresholds[x]) {
                        continue;
                    }
                    walks[x].Feed(d / 2, p, 1, levels, results.data() + x * count, keepAt(x));
                    setThreshold(x);
                    left -= walks[x].Done(levels) ? 1 : 0;
                }
            } else {
                for (LONG x = x0; x < x1; ++x) {
                    if (walks[x].Done(levels)) {
                        continue;
                    }
                    const int g =
                        StepOf(n, [&rows, x](int j) { return static_cast<int>(rows[j][x]); });
                    walks[x].Feed(g, p, n, levels, results.data() + x * count, keepAt(x));
                    left -= walks[x].Done(levels) ? 1 : 0;
                }
            }
            finished |= left == 0;
        }
        if (finished) {
            std::erase_if(active, [&running](LONG c) { return running[c] == 0; });
        }
    }
    for (LONG x = 0; x < w; ++x) {
        walks[x].Finish(n, levels, results.data() + x * count, keepAt(x));
    }
}

bool FitsImage(const LidMargins* margins, const CDib& image) {
    return margins != nullptr &&
           margins->lineCeiling[0].size() == static_cast<std::size_t>(image.Height()) &&
           margins->lineCeiling[1].size() == static_cast<std::size_t>(image.Width()) &&
           margins->lineFrame[0].size() == static_cast<std::size_t>(image.Height()) &&
           margins->lineFrame[1].size() == static_cast<std::size_t>(image.Width());
}

// What keeps a walk's edge position (see ExtractEdgePoints): the lid along
// the margins and how far before and after the edge the line is looked at.
struct EdgeRules {
    LidMargins own;
    const LidMargins& margins;
    LONG reachIn = 2;
    LONG reachOut = 1;
    mutable std::vector<int> scratch;

    // `given` is used when it was found on an image of this size.
    EdgeRules(const CDib& image, int n, const LidMargins* given)
        : own(FitsImage(given, image) ? LidMargins{} : FindLidMargins(image)),
          margins(FitsImage(given, image) ? *given : own) {
        const LONG m = std::min(image.Width(), image.Height());
        reachIn = std::max<LONG>(2 * n, m / 100);
        reachOut = std::max<LONG>(1, m / 50);
    }
};

// The rules on one scan line of `length` pixels, value(p) being its level at
// position p (0 outermost); `ceiling` is the line's (-1: no lid at its
// border) and `start` the first position after its frame strip.
template <typename Value>
struct LineRules {
    const EdgeRules& rules;
    Value value;
    LONG length;
    int ceiling;
    LONG start;

    // The line starts on the lid.
    bool Opens() const { return start < length && value(start) <= ceiling; }

    // The lid lies within reach before edge position e, and the page follows.
    bool operator()(LONG e) const {
        const LONG end = std::min(length, e + rules.reachOut);
        for (LONG q = e; q < end; ++q) {
            if (value(q) <= ceiling) {
                return false;
            }
        }
        // Away from the border the lid may read higher (a lid lit
        // unevenly), by as much as it varies around the margins, while
        // still far below the page.
        if (LidWithin(e, ceiling)) {
            return true;
        }
        if (rules.margins.drift == 0 || !LidWithin(e, ceiling + rules.margins.drift)) {
            return false;
        }
        std::vector<int>& page = rules.scratch;
        page.clear();
        for (LONG q = e; q < end; ++q) {
            page.push_back(value(q));
        }
        const auto middle = page.begin() + static_cast<std::ptrdiff_t>(page.size() / 2);
        std::nth_element(page.begin(), middle, page.end());
        return LidWithin(e, rules.margins.InnerCeiling(ceiling, *middle));
    }

    bool LidWithin(LONG e, int lid) const {
        for (LONG q = std::max<LONG>(0, e - rules.reachIn); q < e; ++q) {
            if (value(q) <= lid) {
                return true;
            }
        }
        return false;
    }
};

template <typename Value>
LineRules<Value> RulesOf(const EdgeRules& rules, Value value, LONG length, int side, LONG line) {
    return LineRules<Value>{rules, value, length,
                            rules.margins.CeilingAt(static_cast<Side>(side), line),
                            rules.margins.lineFrame[side][line]};
}

bool IsExtractable(const CDib& image, int side, int n) {
    return image.BitCount() == 8 && image.Bits() != nullptr && side >= 0 && side <= 3 && n >= 1;
}

// The point of edge position p on scan line i.
POINT PointAt(int side, LONG i, LONG p, LONG w, LONG h) {
    switch (side) {
        case 0:
            return POINT{p, i};
        case 1:
            return POINT{i, p};
        case 2:
            return POINT{w - p - 1, i};
        default:
            return POINT{i, h - p - 1};
    }
}

// Appends the points of every level to its own list (outs[i] for
// levels[i]); checked input. On failure every list is cut back.
HRESULT ExtractInto(PointList* const* outs, const double* levelValues, std::size_t count,
                    const CDib& image, int side, int n, const LidMargins* margins) {
    const LONG w = image.Width();
    const LONG h = image.Height();
    if (count == 0 || image.Header()->biCompression != BI_RGB || w <= 0 || h <= 0 ||
        image.Stride() == 0) {
        return S_OK;
    }
    std::vector<std::size_t> before(count);
    for (std::size_t i = 0; i < count; ++i) {
        before[i] = outs[i]->size();
    }
    try {
        const Levels levels(levelValues, count);
        const bool rows = side == 0 || side == 2;
        const LONG lines = rows ? h : w;
        for (std::size_t i = 0; i < count; ++i) {
            outs[i]->reserve(before[i] + static_cast<std::size_t>(lines));
        }
        // Edge positions by scan line and sorted level, -1 for none.
        std::vector<LONG> results(static_cast<std::size_t>(lines) * count, -1);
        const EdgeRules rules(image, n, margins);
        if (rows) {
            for (LONG y = 0; y < h; ++y) {
                LONG* const result = results.data() + static_cast<std::size_t>(y) * count;
                const BYTE* row = image.Row(y);
                const auto walk = [&](auto keep, auto reverse) {
                    if (!keep.Opens()) {
                        return;
                    }
                    if (n == 1) {
                        WalkRowFast<decltype(reverse)::value>(row, w, levels, result, keep);
                    } else {
                        WalkRowPlain(row, w, reverse, n, levels, result, keep);
                    }
                };
                if (side == 0) {
                    walk(RulesOf(
                             rules, [row](LONG p) { return row[p]; }, w, side, y),
                         std::false_type{});
                } else {
                    walk(RulesOf(
                             rules, [row, w](LONG p) { return row[w - 1 - p]; }, w, side, y),
                         std::true_type{});
                }
            }
        } else {
            const auto rowAt = [&image, h, side](LONG p) {
                return image.Row(side == 1 ? p : h - 1 - p);
            };
            const auto keepAt = [&rules, &rowAt, h, side](LONG x) {
                return RulesOf(
                    rules, [&rowAt, x](LONG p) { return rowAt(p)[x]; }, h, side, x);
            };
            WalkColumns(w, h, n, levels, rowAt, keepAt, results);
        }
        for (std::size_t s = 0; s < count; ++s) {
            PointList& out = *outs[levels.origin[s]];
            for (LONG i = 0; i < lines; ++i) {
                const LONG p = results[static_cast<std::size_t>(i) * count + s];
                if (p >= 0) {
                    out.push_back(PointAt(side, i, p, w, h));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        for (std::size_t i = 0; i < count; ++i) {
            outs[i]->resize(before[i]);
        }
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

HRESULT ExtractEdgePoints(PointList& points, const CDib& image, Side side, int n, double k,
                          const LidMargins* margins) {
    if (!IsExtractable(image, side, n)) {
        return E_INVALIDARG;
    }
    PointList* const out = &points;
    return ExtractInto(&out, &k, 1, image, side, n, margins);
}

HRESULT ExtractEdgePointsLevels(std::vector<PointList>& lists, const CDib& image, Side side, int n,
                                std::span<const double> levels, const LidMargins* margins) {
    lists.clear();
    if (!IsExtractable(image, side, n)) {
        return E_INVALIDARG;
    }
    try {
        lists.resize(levels.size());
        std::vector<PointList*> outs(levels.size());
        for (std::size_t i = 0; i < levels.size(); ++i) {
            outs[i] = &lists[i];
        }
        const HRESULT hr =
            ExtractInto(outs.data(), levels.data(), levels.size(), image, side, n, margins);
        if (FAILED(hr)) {
            lists.clear();
        }
        return hr;
    } catch (const std::bad_alloc&) {
        lists.clear();
        return E_OUTOFMEMORY;
    }
}

int LidCeiling(const CDib& image) {
    if (image.BitCount() != 8 || image.Bits() == nullptr || image.Width() <= 0 ||
        image.Height() <= 0) {
        return 255;
    }
    const SIZE size = image.Size();
    const SIZE band = BorderBandOf(size, kDefaultBorderBandRatio);
    int ceiling = 255;
    for (int side = 0; side < 4; ++side) {
        RECT strip{};
        SideBandRect(strip, static_cast<Side>(side), size, band);
        std::array<std::size_t, 256> histogram{};
        std::size_t count = 0;
        for (LONG y = strip.top; y < strip.bottom; ++y) {
            const BYTE* row = image.Row(y);
            for (LONG x = strip.left; x < strip.right; ++x) {
                ++histogram[row[x]];
            }
            count += static_cast<std::size_t>(strip.right - strip.left);
        }
        // The level of rank r in the sorted strip.
        const auto rank = [&histogram](std::size_t r) {
            int level = 0;
            for (std::size_t seen = histogram[0]; seen <= r; seen += histogram[++level]) {
            }
            return level;
        };
        ceiling = std::min(ceiling, CeilingOfQuartiles(rank(count / 4), rank(count / 2)));
    }
    return std::min(ceiling, 255);
}

int LidMargins::InnerCeiling(int ceiling, int page) const {
    return std::max(ceiling, std::min(ceiling + drift, page / 4));
}

int LidMargins::CeilingAt(Side side, LONG line) const {
    const std::vector<std::int16_t>& lines = lineCeiling[side];
    return line >= 0 && static_cast<std::size_t>(line) < lines.size() && lines[line] >= 0
               ? lines[line]
               : lowest;
}

namespace {

// The grey level at position p (0 outermost) of scan line i of `side`.
BYTE MarginPixel(const CDib& image, int side, LONG i, LONG p) {
    const LONG w = image.Width();
    const LONG h = image.Height();
    switch (side) {
        case 0:
            return image.Row(i)[p];
        case 1:
            return image.Row(p)[i];
        case 2:
            return image.Row(i)[w - 1 - p];
        default:
            return image.Row(h - 1 - p)[i];
    }
}

// One window of the margin band: its scan lines, median and lid ceiling.
struct MarginWindow {
    int side;
    LONG first;
    LONG last;  // exclusive
    int median;
    int ceiling;
};

// Marks the lid windows of the ring going round from window `from` in steps
// of `step` (+1 or -1); see FindLidMargins.
void MarkLid(const std::vector<MarginWindow>& ring, std::size_t from, int step,
             std::vector<bool>& lid) {
    constexpr int kStep = 6;
    constexpr int kDrift = 2;
    const std::size_t n = ring.size();
    bool onLid = true;
    int level = ring[from].median;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t j = (from + n + (step > 0 ? k : n - k)) % n;
        const int median = ring[j].median;
        if (onLid && median > level + kStep) {
            onLid = false;
        } else if (!onLid && median <= level + kStep) {
            onLid = true;
        }
        if (onLid) {
            lid[j] = true;
            if (std::abs(median - level) <= kDrift) {
                level = median;
            }
        }
    }
}

}  // namespace

LidMargins FindLidMargins(const CDib& image) {
    LidMargins margins;
    const bool usable =
        image.BitCount() == 8 && image.Bits() != nullptr && image.Width() > 0 && image.Height() > 0;
    const LONG w = usable ? image.Width() : 0;
    const LONG h = usable ? image.Height() : 0;
    for (int side = 0; side < 4; ++side) {
        const LONG lines = side == 0 || side == 2 ? h : w;
        margins.lineCeiling[side].assign(static_cast<std::size_t>(lines), -1);
        margins.lineFrame[side].assign(static_cast<std::size_t>(lines), 0);
    }
    if (!usable) {
        return margins;
    }
    const int lowest = LidCeiling(image);
    margins.lowest = lowest;
    const LONG m = std::min(w, h);
    const SIZE band = BorderBandOf(SIZE{w, h}, kDefaultBorderBandRatio);

    // Frame strips: on each scan line, a run of pixels far above the lid
    // from the border that ends within reach.
    const int frameLevel = std::min(255, 2 * lowest + 32);
    const LONG reach = std::max<LONG>(1, m / 50);
    for (int side = 0; side < 4; ++side) {
        const LONG lines = side == 0 || side == 2 ? h : w;
        const LONG across = side == 0 || side == 2 ? w : h;
        std::vector<std::int16_t>& frames = margins.lineFrame[side];
        frames.assign(static_cast<std::size_t>(lines), 0);
        for (LONG i = 0; i < lines; ++i) {
            LONG run = 0;
            while (run < reach && run < across && MarginPixel(image, side, i, run) > frameLevel) {
                ++run;
            }
            frames[static_cast<std::size_t>(i)] =
                static_cast<std::int16_t>(run < reach && run < across ? run : 0);
        }
    }

    // The ring of windows: top, right, bottom (right to left), left (bottom
    // to top).
    std::vector<MarginWindow> ring;
    std::vector<int> values;
    for (const int side : {1, 2, 3, 0}) {
        const LONG lines = side == 0 || side == 2 ? h : w;
        const LONG across = side == 0 || side == 2 ? w : h;
        const LONG depth = side == 0 || side == 2 ? band.cx : band.cy;
        // At least 32 pixels a window, so that a speck does not move it.
        const LONG width = std::max({LONG{4}, m / 150, (32 + depth - 1) / depth});
        const bool backwards = side == 3 || side == 0;
        std::vector<MarginWindow> windows;
        for (LONG first = 0; first < lines; first += width) {
            const LONG last = std::min(lines, first + width);
            values.clear();
            for (LONG i = first; i < last; ++i) {
                const LONG from = margins.lineFrame[side][static_cast<std::size_t>(i)];
                for (LONG p = from; p < std::min(across, from + depth); ++p) {
                    values.push_back(MarginPixel(image, side, i, p));
                }
            }
            const auto rank = [&values](std::size_t r) {
                std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(r),
                                 values.end());
                return values[r];
            };
            const int median = rank(values.size() / 2);
            const int q1 = rank(values.size() / 4);
            windows.push_back(
                MarginWindow{side, first, last, median, CeilingOfQuartiles(q1, median)});
        }
        if (backwards) {
            std::reverse(windows.begin(), windows.end());
        }
        ring.insert(ring.end(), windows.begin(), windows.end());
    }
    std::size_t darkest = 0;
    for (std::size_t j = 1; j < ring.size(); ++j) {
        darkest = ring[j].median < ring[darkest].median ? j : darkest;
    }
    std::vector<bool> lid(ring.size(), false);
    MarkLid(ring, darkest, 1, lid);
    MarkLid(ring, darkest, -1, lid);
    int lowestLevel = 255;
    int highestLevel = 0;
    for (std::size_t j = 0; j < ring.size(); ++j) {
        if (lid[j]) {
            lowestLevel = std::min(lowestLevel, ring[j].median);
            highestLevel = std::max(highestLevel, ring[j].median);
        }
    }
    margins.drift = std::max(0, highestLevel - lowestLevel);

    for (std::size_t j = 0; j < ring.size(); ++j) {
        const MarginWindow& window = ring[j];
        if (!lid[j]) {
            continue;
        }
        const auto ceiling = static_cast<std::int16_t>(std::max(window.ceiling, lowest));
        for (LONG i = window.first; i < window.last; ++i) {
            margins.lineCeiling[window.side][i] = ceiling;
        }
    }
    return margins;
}

HRESULT GetStripMaximum(const CDib& image, const RECT& rect, BYTE& maximum) {
    if (image.BitCount() != 8 || image.Bits() == nullptr) {
        return E_INVALIDARG;
    }
    if (rect.right <= rect.left || rect.bottom <= rect.top) {
        maximum = 0;
        return S_OK;
    }
    if (rect.left < 0 || rect.top < 0 || rect.right > image.Width() ||
        rect.bottom > image.Height()) {
        return E_INVALIDARG;
    }
    BYTE best = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        const BYTE* row = image.Row(y);
        for (LONG x = rect.left; x < rect.right; ++x) {
            best = std::max(best, row[x]);
        }
    }
    maximum = best;
    return S_OK;
}
