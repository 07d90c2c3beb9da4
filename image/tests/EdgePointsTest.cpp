#include "image/EdgePoints.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <initializer_list>
#include <random>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

// An 8-bit grey image from rows of grey levels, top row first.
DibPtr MakeGrey(std::initializer_list<std::vector<BYTE>> list) {
    const std::vector<std::vector<BYTE>> rows(list);
    return PaintedImage(static_cast<LONG>(rows[0].size()), static_cast<LONG>(rows.size()), 8,
                        [&](LONG x, LONG y) { return rows[y][x]; });
}

PointList Extract(const CDib& image, Side side) {
    PointList points;
    EXPECT_EQ(ExtractEdgePoints(points, image, side, 1, 2.0), S_OK);
    return points;
}

TEST(EdgePointsTest, WalkExamplesOnEverySide) {
    const DibPtr left = MakeGrey({
        {0, 0, 0, 100, 100},  // opens at 3, stops at 4: x = 3
        {0, 10, 20, 30, 40},  // every step 5: first one, x = 1
        {0, 0, 3, 3, 3},      // step 1 is below k: no point
        {200, 200, 0, 0, 0},  // only falling steps: no point
        {0, 40, 41, 100, 0},  // opens at 1, step 0 ends the walk: x = 1
        {0, 20, 80, 90, 90},  // rise 10, 30, 5: steepest at 2
    });
    EXPECT_EQ(Extract(*left, SideLeft), (PointList{{3, 0}, {1, 1}, {1, 4}, {2, 5}}));

    // 0, 0, 0, 100, 100 read from the right: position 3, x = w - 4 = 1.
    const DibPtr right = MakeGrey({{100, 100, 0, 0, 0}, {0, 0, 0, 0, 0}, {9, 0, 0, 0, 0}});
    EXPECT_EQ(Extract(*right, SideRight), (PointList{{1, 0}, {0, 2}}));

    // Columns read downwards for the top side, upwards for the bottom side.
    const DibPtr columns = MakeGrey({
        {0, 0, 90},
        {0, 80, 90},
        {60, 80, 0},
        {60, 80, 0},
    });
    EXPECT_EQ(Extract(*columns, SideTop), (PointList{{0, 2}, {1, 1}}));
    EXPECT_EQ(Extract(*columns, SideBottom), (PointList{{2, 1}}));
}

// Lines that do not run from the lid into the page give no point; a rise
// that is not the page's is passed over. 120 × 100, lid 0, so the lid
// ceiling is 3 and the reaches are 2 pixels before and after the edge.
TEST(EdgePointsTest, OnlyRisesFromTheLidIntoThePageCount) {
    const DibPtr image = PaintedImage(120, 100, 8, [](LONG x, LONG y) {
        switch (y) {
            case 10:  // lid, then the page
                return x >= 20 ? 100 : 0;
            case 20:  // starts inside the page, a hole, the page again
                return x < 10 || x >= 20 ? 100 : 0;
            case 30:  // a rise too gentle to open, a faint page, text on it
                return x < 10 ? 0 : x < 20 ? 2 * (x - 10) : x < 60 ? 20 : 120;
            case 40:  // a speck on the lid, then the page
                return x == 10 || x >= 30 ? 100 : 0;
        }
        return 0;
    });
    EXPECT_EQ(LidCeiling(*image), 3);
    EXPECT_EQ(Extract(*image, SideLeft), (PointList{{20, 10}, {30, 40}}));

    // The ceiling comes from the side where the lid shows best, and a lid
    // strip that spreads lifts it: the top row reads 10 (first quartile) and
    // 20 (median), so 20 + 3 × 10.
    for (LONG y = 0; y < 100; ++y) {
        for (LONG x = 0; x < 120; ++x) {
            image->Row(y)[x] = y == 0 ? (x < 30 ? 0 : x < 60 ? 10 : 20) : 200;
        }
    }
    EXPECT_EQ(LidCeiling(*image), 50);
}

// The lid along the margins, 400 × 300 (one-pixel bands, windows of 32
// lines): a lid lit unevenly, 2 at the left to 14 at the right; a dark frame
// 4 pixels deep along the top; a page covering the right border's rows 100
// to 199.
TEST(EdgePointsTest, LidMarginsFollowTheLidAroundTheImage) {
    const DibPtr image = PaintedImage(400, 300, 8, [](LONG x, LONG y) {
        if (y < 4) {
            return 255;
        }
        if (x > 300 && y >= 100 && y < 200) {
            return 200;
        }
        return static_cast<int>(2 + 12 * x / 399);
    });
    const LidMargins margins = FindLidMargins(*image);
    EXPECT_EQ(margins.lowest, 5);  // the left border: 2 + 3
    EXPECT_EQ(margins.drift, 12);
    for (LONG x = 0; x < 400; x += 57) {
        EXPECT_EQ(margins.lineFrame[SideTop][x], 4) << x;
        EXPECT_EQ(margins.lineFrame[SideBottom][x], 0) << x;
    }
    // Each border keeps its own lid; the page's rows show none.
    EXPECT_EQ(margins.CeilingAt(SideLeft, 150), 5);
    EXPECT_EQ(margins.CeilingAt(SideRight, 40), 17);
    for (const LONG y : {128, 150, 191}) {
        EXPECT_EQ(margins.lineCeiling[SideRight][y], -1) << y;
        EXPECT_EQ(margins.CeilingAt(SideRight, y), 5) << y;
    }
    // Away from the border the lid may read up to 12 higher, but not near
    // a quarter of a faint page's level.
    EXPECT_EQ(margins.InnerCeiling(5, 255), 17);
    EXPECT_EQ(margins.InnerCeiling(5, 40), 10);
    EXPECT_EQ(margins.InnerCeiling(5, 8), 5);
}

// Plain reference walk with the ring of 2n values written out: a rise opens
// at a step >= k and ends at a step < 1; a rise that does not run from the
// lid into the page is passed over and the walk goes on.
PointList ReferenceEdgePoints(const CDib& image, int side, int n, double k) {
    const LONG w = image.Width();
    const LONG h = image.Height();
    const bool rows = side == 0 || side == 2;
    const LONG length = rows ? w : h;
    const LidMargins margins = FindLidMargins(image);
    const LONG m = std::min(w, h);
    PointList points;
    for (LONG i = 0; i < (rows ? h : w); ++i) {
        const int ceiling = margins.CeilingAt(static_cast<Side>(side), i);
        const LONG start = margins.lineFrame[side][i];
        const auto at = [&](LONG p) {
            const LONG x = side == 0 ? p : side == 2 ? w - 1 - p : i;
            const LONG y = side == 1 ? p : side == 3 ? h - 1 - p : i;
            return static_cast<int>(image.Row(y)[x]);
        };
        const auto fromLidIntoPage = [&](LONG pos) {
            // The lid before: up to the inner ceiling beside the page's
            // median level after.
            std::vector<int> page;
            for (LONG p = pos; p < std::min(length, pos + std::max<LONG>(1, m / 50)); ++p) {
                page.push_back(at(p));
            }
            std::sort(page.begin(), page.end());
            const int lid = margins.InnerCeiling(ceiling, page[page.size() / 2]);
            bool lidBefore = false;
            for (LONG p = std::max<LONG>(0, pos - std::max<LONG>(2 * n, m / 100)); p < pos; ++p) {
                lidBefore = lidBefore || at(p) <= lid;
            }
            return lidBefore && page.front() > ceiling;
        };
        std::deque<int> ring;
        bool found = false;
        int best = 0;
        LONG bestPos = 0;
        LONG point = -1;
        const bool opens = start < length && at(start) <= ceiling;
        for (LONG p = 0; p < length && point < 0 && opens; ++p) {
            ring.push_back(at(p));
            if (static_cast<int>(ring.size()) > 2 * n) {
                ring.pop_front();
            }
            if (static_cast<int>(ring.size()) < 2 * n) {
                continue;
            }
            int older = 0;
            int newer = 0;
            for (int j = 0; j < n; ++j) {
                older += ring[j];
                newer += ring[n + j];
            }
            const int g = (newer - older) / (2 * n);
            found = found || g >= k;
            if (!found) {
                continue;
            }
            if (g >= 1) {
                if (g > best) {
                    best = g;
                    bestPos = p;
                }
                if (p + 1 < length) {
                    continue;
                }
            }
            // The rise ends here (or with the line).
            const LONG pos = std::max<LONG>(0, bestPos + 1 - n);
            if (fromLidIntoPage(pos)) {
                point = pos;
            }
            found = false;
            best = 0;
            bestPos = 0;
        }
        if (point >= 0) {
            const POINT sidePoints[4] = {
                {point, i}, {i, point}, {w - point - 1, i}, {i, h - point - 1}};
            points.push_back(sidePoints[side]);
        }
    }
    return points;
}

// Noisy dark margins around a bright ramped interior with flipped pixels, or
// staircases with flat, gentle, steep and falling steps along rows and
// columns, so that one line holds rises for low and for high levels.
DibPtr MakeRandomImage(std::mt19937& rng, SIZE size, bool staircase) {
    std::uniform_int_distribution<int> noise(0, 9);
    std::uniform_int_distribution<int> gentle(2, 7);
    std::uniform_int_distribution<int> steep(8, 40);
    DibPtr image(new CDib);
    EXPECT_TRUE(image->Create(size.cx, size.cy, 8, 256, BI_RGB));
    EXPECT_TRUE(image->AllocateBits());
    for (LONG y = 0; y < size.cy; ++y) {
        for (LONG x = 0; x < size.cx; ++x) {
            int v;
            if (staircase) {
                const bool alongRow = (x + y) % 2 == 0;
                v = alongRow ? (x > 0 ? image->Row(y)[x - 1] : 0)
                             : (y > 0 ? image->Row(y - 1)[x] : 0);
                const int what = noise(rng);
                v += what < 3 ? 0 : what < 6 ? gentle(rng) : what < 8 ? steep(rng) : -steep(rng);
            } else {
                const bool inside = x > size.cx / 5 + y % 7 && y > size.cy / 6 + x % 5 &&
                                    x < size.cx - 4 && y < size.cy - 3;
                v = noise(rng) + (inside ? 120 + 2 * (x % 30) : 0);
                v = noise(rng) == 0 && noise(rng) < 5 ? 255 - v : v;
            }
            image->Row(y)[x] = static_cast<BYTE>(std::clamp(v, 0, 255));
        }
    }
    return image;
}

// One level at a time and all levels in one walk, against the plain walk;
// each level stops at its own rise. The mixed levels are unordered,
// repeated, at or below 0, fractional, beyond any step and NaN. No level
// gives no list.
TEST(EdgePointsTest, MatchesPlainWalkForOneAndSeveralLevels) {
    const std::vector<double> pipeline{2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<double> mixed{9, 2, 5.5, 2, -3, 0, 130, std::nan(""), 0.5, 200, -0.5};
    std::mt19937 rng(1309);
    for (const SIZE size : {SIZE{150, 90}, SIZE{33, 130}, SIZE{2, 3}, SIZE{1, 1}}) {
        for (const bool staircase : {false, true}) {
            const DibPtr image = MakeRandomImage(rng, size, staircase);
            for (const Side side : {SideLeft, SideTop, SideRight, SideBottom}) {
                for (const int n : {1, 2, 3}) {
                    for (const std::vector<double>* levels : {&pipeline, &mixed}) {
                        std::vector<PointList> lists{{{5, 5}}};
                        ASSERT_EQ(ExtractEdgePointsLevels(lists, *image, side, n, *levels), S_OK);
                        ASSERT_EQ(lists.size(), levels->size());
                        for (std::size_t i = 0; i < levels->size(); ++i) {
                            const PointList expected =
                                ReferenceEdgePoints(*image, side, n, (*levels)[i]);
                            PointList single;
                            ASSERT_EQ(ExtractEdgePoints(single, *image, side, n, (*levels)[i]),
                                      S_OK);
                            EXPECT_EQ(single, expected) << size.cx << "x" << size.cy << " side "
                                                        << side << " n " << n << " level " << i;
                            EXPECT_EQ(lists[i], expected) << size.cx << "x" << size.cy << " side "
                                                          << side << " n " << n << " level " << i;
                        }
                    }
                }
            }
        }
    }
    std::vector<PointList> none{{{5, 5}}};
    ASSERT_EQ(ExtractEdgePointsLevels(none, *MakeGrey({{0, 100}}), SideLeft, 1, {}), S_OK);
    EXPECT_TRUE(none.empty());
}

TEST(EdgePointsTest, RefusesWrongInputWithoutAppending) {
    CDib colour;
    ASSERT_TRUE(colour.Create(2, 2, 32, 0, BI_RGB) && colour.AllocateBits());
    CDib noBits;
    ASSERT_TRUE(noBits.Create(2, 2, 8, 256, BI_RGB));
    const DibPtr grey = MakeGrey({{0, 100}});
    PointList points{{1, 1}};
    EXPECT_EQ(ExtractEdgePoints(points, colour, SideLeft, 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePoints(points, *grey, static_cast<Side>(-1), 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePoints(points, *grey, SideLeft, 0, 2.0), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePoints(points, noBits, SideLeft, 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(points.size(), 1u);

    const std::vector<double> two{2};
    std::vector<PointList> lists(2, PointList{{1, 1}});
    EXPECT_EQ(ExtractEdgePointsLevels(lists, colour, SideLeft, 1, two), E_INVALIDARG);
    EXPECT_TRUE(lists.empty());
    EXPECT_EQ(ExtractEdgePointsLevels(lists, *grey, static_cast<Side>(4), 1, two), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePointsLevels(lists, *grey, SideLeft, 0, two), E_INVALIDARG);
}

TEST(EdgePointsTest, StripMaximum) {
    const DibPtr image = MakeGrey({
        {1, 2, 250, 4},
        {7, 3, 5, 6},
        {9, 9, 5, 6},
    });
    BYTE maximum = 55;
    EXPECT_EQ(GetStripMaximum(*image, RECT{0, 1, 2, 3}, maximum), S_OK);  // 7, 3, 9, 9
    EXPECT_EQ(maximum, 9);
    EXPECT_EQ(GetStripMaximum(*image, RECT{3, 2, 4, 3}, maximum), S_OK);  // bottom-right corner
    EXPECT_EQ(maximum, 6);
    EXPECT_EQ(GetStripMaximum(*image, RECT{2, 1, 2, 3}, maximum), S_OK);  // empty
    EXPECT_EQ(maximum, 0);

    // A rectangle reaching outside the image, or a colour image, is refused.
    maximum = 55;
    EXPECT_EQ(GetStripMaximum(*image, RECT{0, 0, 5, 3}, maximum), E_INVALIDARG);
    EXPECT_EQ(GetStripMaximum(*image, RECT{-1, 0, 2, 3}, maximum), E_INVALIDARG);
    EXPECT_EQ(GetStripMaximum(*image, RECT{0, 2, 2, 4}, maximum), E_INVALIDARG);
    CDib colour;
    ASSERT_TRUE(colour.Create(2, 2, 32, 0, BI_RGB) && colour.AllocateBits());
    EXPECT_EQ(GetStripMaximum(colour, RECT{0, 0, 1, 1}, maximum), E_INVALIDARG);
    EXPECT_EQ(maximum, 55);
}

}  // namespace
