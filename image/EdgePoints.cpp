#include "image/EdgePoints.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace {

// The walk of one scan line after its first 2n - 1 pixels: fed the step of
// every further position until it reports the end of the line's rise.
struct Walk {
    int best = 0;
    LONG bestPos = 0;
    bool found = false;

    // False when the walk stops at this position.
    bool Feed(int g, LONG p, double k) {
        if (static_cast<double>(g) >= k) {
            found = true;
        } else if (!found) {
            return true;
        }
        if (g < 1) {
            return false;
        }
        if (g > best) {
            best = g;
            bestPos = p;
        }
        return true;
    }

    LONG Position(int n) const { return std::max<LONG>(0, bestPos + 1 - n); }
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

// Rows, walked from one end (step +1 from column 0, or -1 from column
// w - 1). Returns the edge position or -1.
LONG WalkRow(const BYTE* base, std::ptrdiff_t step, LONG length, int n, double k, int opening) {
    Walk walk;
    LONG p = 2 * n - 1;
    if (n == 1) {
        // Nothing happens before the line opens: skip to the first opening
        // difference, a block at a time with a branch-free test.
        constexpr LONG kBlock = 32;
        for (; p + kBlock <= length; p += kBlock) {
            int opens = 0;
            for (LONG j = 0; j < kBlock; ++j) {
                opens |= base[(p + j) * step] - base[(p + j - 1) * step] >= opening;
            }
            if (opens != 0) {
                break;
            }
        }
        while (p < length && base[p * step] - base[(p - 1) * step] < opening) {
            ++p;
        }
        if (p == length) {
            return -1;
        }
    }
    for (; p < length; ++p) {
        const BYTE* at = base + p * step;
        const int g = StepOf(n, [at, step](int j) { return static_cast<int>(at[-j * step]); });
        if (!walk.Feed(g, p, k)) {
            break;
        }
    }
    return walk.found ? walk.Position(n) : -1;
}

// Columns, walked in strips of neighbouring columns: within a strip the
// walk goes down the rows, so every row is read as one short contiguous run
// instead of one cache line per pixel. While no column of the strip has
// opened, a row is first tested for any opening difference without
// branches; margins that never open cost one such test per row.
// rowAt(p) gives the image row at position p.
template <typename RowAt>
void WalkColumns(LONG w, LONG h, int n, double k, int opening, RowAt rowAt,
                 std::vector<Walk>& walks) {
    constexpr LONG kStrip = 64;
    constexpr LONG kPrefetchRows = 8;
    std::vector<const BYTE*> rows(static_cast<std::size_t>(2 * n));
    bool done[kStrip];
    for (LONG x0 = 0; x0 < w; x0 += kStrip) {
        const LONG x1 = std::min(w, x0 + kStrip);
        std::fill(done, done + kStrip, false);
        LONG running = x1 - x0;  // columns whose walk goes on
        LONG open = 0;           // of those, the ones that have opened
        for (LONG p = 2 * n - 1; p < h && running > 0; ++p) {
            for (int j = 0; j < 2 * n; ++j) {
                rows[j] = rowAt(p - j);
            }
            const BYTE* newest = rows[0];
            const BYTE* previous = rows[1];
#if defined(__GNUC__)
            // Rows are a stride apart, too far for the hardware to guess.
            if (p + kPrefetchRows < h) {
                const BYTE* ahead = rowAt(p + kPrefetchRows);
                __builtin_prefetch(ahead + x0);
                __builtin_prefetch(ahead + x1 - 1);
            }
#endif
            if (n == 1 && open == 0) {
                int opens = 0;
                for (LONG x = x0; x < x1; ++x) {
                    opens |= newest[x] - previous[x] >= opening;
                }
                if (opens == 0) {
                    continue;
                }
            }
            for (LONG x = x0; x < x1; ++x) {
                if (done[x - x0]) {
                    continue;
                }
                Walk& walk = walks[x];
                const bool wasOpen = walk.found;
                const int g =
                    n == 1 ? (newest[x] - previous[x]) / 2
                           : StepOf(n, [&rows, x](int j) { return static_cast<int>(rows[j][x]); });
                if (!walk.Feed(g, p, k)) {
                    done[x - x0] = true;
                    --running;
                    open -= wasOpen ? 1 : 0;
                } else if (!wasOpen && walk.found) {
                    ++open;
                }
            }
        }
    }
}

}  // namespace

HRESULT ExtractEdgePoints(PointList& points, const CDib& image, int side, int n, double k) {
    if (image.BitCount() != 8 || image.Bits() == nullptr || side < 0 || side > 3 || n < 1) {
        return E_INVALIDARG;
    }
    const LONG w = image.Width();
    const LONG h = image.Height();
    if (image.Header()->biCompression != BI_RGB || w <= 0 || h <= 0 || image.Stride() == 0) {
        return S_OK;
    }
    const int opening = OpeningDifference(k);
    const std::size_t before = points.size();

    try {
        if (side == 0 || side == 2) {
            points.reserve(before + static_cast<std::size_t>(h));
            for (LONG y = 0; y < h; ++y) {
                const BYTE* row = image.Row(y);
                if (side == 0) {
                    const LONG p = WalkRow(row, 1, w, n, k, opening);
                    if (p >= 0) {
                        points.push_back({p, y});
                    }
                } else {
                    const LONG p = WalkRow(row + (w - 1), -1, w, n, k, opening);
                    if (p >= 0) {
                        points.push_back({w - p - 1, y});
                    }
                }
            }
            return S_OK;
        }

        std::vector<Walk> walks(static_cast<std::size_t>(w));
        if (side == 1) {
            WalkColumns(
                w, h, n, k, opening, [&image](LONG p) { return image.Row(p); }, walks);
        } else {
            WalkColumns(
                w, h, n, k, opening, [&image, h](LONG p) { return image.Row(h - 1 - p); }, walks);
        }
        points.reserve(before + static_cast<std::size_t>(w));
        for (LONG x = 0; x < w; ++x) {
            if (walks[x].found) {
                const LONG p = walks[x].Position(n);
                points.push_back({x, side == 1 ? p : h - p - 1});
            }
        }
    } catch (const std::bad_alloc&) {
        points.resize(before);
        return E_OUTOFMEMORY;
    }
    return S_OK;
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
