#include "image/EdgePoints.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <initializer_list>
#include <random>
#include <vector>

namespace {

// An 8-bit grey image from rows of grey levels, top row first.
DibPtr MakeGrey(std::initializer_list<std::vector<BYTE>> rows) {
    DibPtr dib(new CDib);
    const LONG h = static_cast<LONG>(rows.size());
    const LONG w = static_cast<LONG>(rows.begin()->size());
    EXPECT_TRUE(dib->Create(w, h, 8, 256, BI_RGB));
    EXPECT_TRUE(dib->AllocateBits());
    LONG y = 0;
    for (const std::vector<BYTE>& row : rows) {
        for (LONG x = 0; x < w; ++x) {
            dib->Row(y)[x] = row[x];
        }
        ++y;
    }
    return dib;
}

PointList Extract(const CDib& image, int side, double k = 2.0, int n = 1) {
    PointList points;
    EXPECT_EQ(ExtractEdgePoints(points, image, side, n, k), S_OK);
    return points;
}

TEST(EdgePointsTest, LeftSideWalkExamples) {
    const DibPtr image = MakeGrey({
        {0, 0, 0, 100, 100},  // opens at 3, stops at 4: x = 3
        {0, 10, 20, 30, 40},  // every step 5: first one, x = 1
        {0, 0, 3, 3, 3},      // step 1 is below k: no point
        {200, 200, 0, 0, 0},  // only falling steps: no point
        {0, 40, 41, 100, 0},  // opens at 1, step 0 ends the walk: x = 1
        {0, 20, 80, 90, 90},  // rise 10, 30, 5: steepest at 2
        {0, 6, 6, 200, 200},  // step 3 opens, step 0 ends before the big rise
    });
    const PointList expected{{3, 0}, {1, 1}, {1, 4}, {2, 5}, {1, 6}};
    EXPECT_EQ(Extract(*image, 0), expected);
}

TEST(EdgePointsTest, RightSideMirrorsLeft) {
    // 0, 0, 0, 100, 100 read from the right: position 3, x = w - 4 = 1.
    const DibPtr image = MakeGrey({{100, 100, 0, 0, 0}, {0, 0, 0, 0, 0}, {9, 0, 0, 0, 0}});
    const PointList expected{{1, 0}, {0, 2}};
    EXPECT_EQ(Extract(*image, 2), expected);
}

TEST(EdgePointsTest, TopAndBottomWalkColumns) {
    // 3 wide, 4 high; columns read downwards for the top side and upwards
    // for the bottom side, at most one point per column, x in order.
    const DibPtr image = MakeGrey({
        {0, 0, 90},
        {0, 80, 90},
        {60, 80, 0},
        {60, 80, 0},
    });
    const PointList top{{0, 2}, {1, 1}};
    EXPECT_EQ(Extract(*image, 1), top);
    const PointList bottom{{2, 1}};
    EXPECT_EQ(Extract(*image, 3), bottom);

    // A bright column bottom half: every column opens from the top.
    const DibPtr ramp = MakeGrey({{0, 0, 0}, {0, 0, 0}, {50, 50, 50}, {50, 50, 50}});
    const PointList ordered{{0, 2}, {1, 2}, {2, 2}};
    EXPECT_EQ(Extract(*ramp, 1), ordered);
}

// Plain reference walk over value(side, line, position), with the ring of
// 2n values written out.
PointList ReferenceEdgePoints(const CDib& image, int side, int n, double k) {
    const LONG w = image.Width();
    const LONG h = image.Height();
    const bool rows = side == 0 || side == 2;
    const LONG lines = rows ? h : w;
    const LONG length = rows ? w : h;
    PointList points;
    for (LONG i = 0; i < lines; ++i) {
        std::deque<int> ring;
        bool found = false;
        int best = 0;
        LONG bestPos = 0;
        for (LONG p = 0; p < length; ++p) {
            const LONG x = side == 0 ? p : side == 2 ? w - 1 - p : i;
            const LONG y = side == 1 ? p : side == 3 ? h - 1 - p : i;
            ring.push_back(image.Row(y)[x]);
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
            if (g >= k) {
                found = true;
            }
            if (!found) {
                continue;
            }
            if (g < 1) {
                break;
            }
            if (g > best) {
                best = g;
                bestPos = p;
            }
        }
        if (found) {
            const LONG pos = std::max<LONG>(0, bestPos + 1 - n);
            switch (side) {
                case 0:
                    points.push_back({pos, i});
                    break;
                case 1:
                    points.push_back({i, pos});
                    break;
                case 2:
                    points.push_back({w - pos - 1, i});
                    break;
                default:
                    points.push_back({i, h - pos - 1});
                    break;
            }
        }
    }
    return points;
}

// Dark margins with noise, bright interiors with ramps and dips, so that
// lines open early, late, on noise and never, on every side.
DibPtr MakeNoisyPage(std::mt19937& rng, SIZE size) {
    std::uniform_int_distribution<int> noise(0, 9);
    std::uniform_int_distribution<int> coin(0, 15);
    DibPtr image(new CDib);
    EXPECT_TRUE(image->Create(size.cx, size.cy, 8, 256, BI_RGB));
    EXPECT_TRUE(image->AllocateBits());
    for (LONG y = 0; y < size.cy; ++y) {
        for (LONG x = 0; x < size.cx; ++x) {
            const bool inside = x > size.cx / 5 + y % 7 && y > size.cy / 6 + x % 5 &&
                                x < size.cx - 4 && y < size.cy - 3;
            int v = noise(rng) + (inside ? 120 + 2 * (x % 30) : 0);
            if (coin(rng) == 0) {
                v = 255 - v;
            }
            image->Row(y)[x] = static_cast<BYTE>(v);
        }
    }
    return image;
}

// Rises of every steepness, several per line in both directions: each pixel
// continues its row's or column's staircase (alternating by pixel) with a
// flat, gentle, steep or falling step, so one line holds rises that serve
// low levels and later ones that serve high levels.
DibPtr MakeStaircases(std::mt19937& rng, SIZE size) {
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> gentle(2, 7);
    std::uniform_int_distribution<int> steep(8, 40);
    DibPtr image(new CDib);
    EXPECT_TRUE(image->Create(size.cx, size.cy, 8, 256, BI_RGB));
    EXPECT_TRUE(image->AllocateBits());
    for (LONG y = 0; y < size.cy; ++y) {
        for (LONG x = 0; x < size.cx; ++x) {
            const bool alongRow = (x + y) % 2 == 0;
            int v =
                alongRow ? (x > 0 ? image->Row(y)[x - 1] : 0) : (y > 0 ? image->Row(y - 1)[x] : 0);
            const int what = kind(rng);
            v += what < 3 ? 0 : what < 6 ? gentle(rng) : what < 8 ? steep(rng) : -steep(rng);
            image->Row(y)[x] = static_cast<BYTE>(std::clamp(v, 0, 255));
        }
    }
    return image;
}

TEST(EdgePointsTest, MatchesPlainWalkOnRandomImages) {
    std::mt19937 rng(1309);
    for (const SIZE size : {SIZE{150, 90}, SIZE{64, 130}, SIZE{7, 5}, SIZE{1, 1}}) {
        for (const DibPtr& image : {MakeNoisyPage(rng, size), MakeStaircases(rng, size)}) {
            for (int side = 0; side < 4; ++side) {
                for (const int n : {1, 2, 3}) {
                    for (const double k : {2.0, 3.5, 9.0, 0.0, -1.0, 0.5, 200.0}) {
                        PointList points;
                        ASSERT_EQ(ExtractEdgePoints(points, *image, side, n, k), S_OK);
                        EXPECT_EQ(points, ReferenceEdgePoints(*image, side, n, k))
                            << size.cx << "x" << size.cy << " side " << side << " n " << n << " k "
                            << k;
                    }
                }
            }
        }
    }
}

TEST(EdgePointsTest, SeveralLevelsMatchOneLevelAtATime) {
    // The pipeline's levels 2 to 9, and a mixed set: unordered, repeated,
    // at or below 0, fractional, beyond any step and NaN.
    const std::vector<double> pipeline{2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<double> mixed{9, 2, 5.5, 2, -3, 0, 130, std::nan(""), 1, 0.5, 4, 127, -0.5};
    std::mt19937 rng(2024);
    for (const SIZE size : {SIZE{200, 70}, SIZE{33, 150}, SIZE{2, 3}}) {
        for (const DibPtr& image : {MakeNoisyPage(rng, size), MakeStaircases(rng, size)}) {
            for (int side = 0; side < 4; ++side) {
                for (const int n : {1, 2}) {
                    for (const std::vector<double>* levels : {&pipeline, &mixed}) {
                        std::vector<PointList> lists{{{5, 5}}};
                        ASSERT_EQ(ExtractEdgePointsLevels(lists, *image, side, n, *levels), S_OK);
                        ASSERT_EQ(lists.size(), levels->size());
                        for (std::size_t i = 0; i < levels->size(); ++i) {
                            EXPECT_EQ(lists[i], ReferenceEdgePoints(*image, side, n, (*levels)[i]))
                                << size.cx << "x" << size.cy << " side " << side << " n " << n
                                << " level " << (*levels)[i];
                        }
                    }
                }
            }
        }
    }
}

TEST(EdgePointsTest, SeveralLevelsEdgeCases) {
    // A rise of steepest step 10 at x = 3, then one of steepest step 40 at
    // x = 8: levels up to 10 stop at the first, the rest at the second.
    const DibPtr image = MakeGrey({{0, 0, 4, 24, 30, 30, 30, 30, 110, 112, 112}});
    std::vector<PointList> lists;
    const std::vector<double> levels{11, 10, 2, 40, 41};
    ASSERT_EQ(ExtractEdgePointsLevels(lists, *image, 0, 1, levels), S_OK);
    const std::vector<PointList> expected{{{8, 0}}, {{3, 0}}, {{3, 0}}, {{8, 0}}, {}};
    EXPECT_EQ(lists, expected);

    ASSERT_EQ(ExtractEdgePointsLevels(lists, *image, 0, 1, {}), S_OK);
    EXPECT_TRUE(lists.empty());

    lists.assign(2, PointList{{1, 1}});
    CDib colour;
    ASSERT_TRUE(colour.Create(2, 2, 32, 0, BI_RGB));
    ASSERT_TRUE(colour.AllocateBits());
    EXPECT_EQ(ExtractEdgePointsLevels(lists, colour, 0, 1, levels), E_INVALIDARG);
    EXPECT_TRUE(lists.empty());
    EXPECT_EQ(ExtractEdgePointsLevels(lists, *image, 4, 1, levels), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePointsLevels(lists, *image, 0, 0, levels), E_INVALIDARG);
}

TEST(EdgePointsTest, RefusesWrongInputWithoutAppending) {
    CDib colour;
    ASSERT_TRUE(colour.Create(2, 2, 32, 0, BI_RGB));
    ASSERT_TRUE(colour.AllocateBits());
    const DibPtr grey = MakeGrey({{0, 100}});
    PointList points{{1, 1}};
    EXPECT_EQ(ExtractEdgePoints(points, colour, 0, 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePoints(points, *grey, -1, 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePoints(points, *grey, 4, 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(ExtractEdgePoints(points, *grey, 0, 0, 2.0), E_INVALIDARG);
    CDib noBits;
    ASSERT_TRUE(noBits.Create(2, 2, 8, 256, BI_RGB));
    EXPECT_EQ(ExtractEdgePoints(points, noBits, 0, 1, 2.0), E_INVALIDARG);
    EXPECT_EQ(points.size(), 1u);

    BYTE maximum = 77;
    EXPECT_EQ(GetStripMaximum(colour, RECT{0, 0, 1, 1}, maximum), E_INVALIDARG);
    EXPECT_EQ(maximum, 77);
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
    EXPECT_EQ(GetStripMaximum(*image, RECT{0, 0, 4, 3}, maximum), S_OK);
    EXPECT_EQ(maximum, 250);
    EXPECT_EQ(GetStripMaximum(*image, RECT{3, 2, 4, 3}, maximum), S_OK);  // bottom-right corner
    EXPECT_EQ(maximum, 6);

    maximum = 55;
    EXPECT_EQ(GetStripMaximum(*image, RECT{2, 1, 2, 3}, maximum), S_OK);
    EXPECT_EQ(maximum, 0);
    maximum = 55;
    EXPECT_EQ(GetStripMaximum(*image, RECT{50, 50, 10, 10}, maximum), S_OK);
    EXPECT_EQ(maximum, 0);

    // A rectangle reaching outside the image is refused instead of read.
    maximum = 55;
    EXPECT_EQ(GetStripMaximum(*image, RECT{0, 0, 5, 3}, maximum), E_INVALIDARG);
    EXPECT_EQ(GetStripMaximum(*image, RECT{-1, 0, 2, 3}, maximum), E_INVALIDARG);
    EXPECT_EQ(GetStripMaximum(*image, RECT{0, 2, 2, 4}, maximum), E_INVALIDARG);
    EXPECT_EQ(maximum, 55);
}

}  // namespace
