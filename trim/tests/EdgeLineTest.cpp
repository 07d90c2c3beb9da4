#include "trim/EdgeLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

constexpr double kHalfPi = 1.570796;
constexpr SIZE kBand{2, 2};

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// An 8-bit foreground of w × h: background 10, a bright (200) page of
// pw × ph centred in the image and turned clockwise on screen by `degrees`
// about its centre. Pixel (x, y) is page when its centre lies in the page.
DibPtr MakePage(LONG w, LONG h, double pw, double ph, double degrees) {
    const double c = std::cos(Radians(degrees));
    const double s = std::sin(Radians(degrees));
    return PaintedImage(w, h, 8, [&](LONG x, LONG y) {
        const double dx = x + 0.5 - w / 2.0;
        const double dy = y + 0.5 - h / 2.0;
        return std::abs(c * dx + s * dy) <= pw / 2 && std::abs(-s * dx + c * dy) <= ph / 2 ? 200
                                                                                           : 10;
    });
}

// All background (10): no pixel centre of an even-sized image is the centre.
DibPtr MakeDark(LONG w, LONG h) {
    return MakePage(w, h, 0, 0, 0);
}

// Plain reference: the whole accumulator, then the first largest counter.
HoughPeak ReferenceHough(const PointList& points, double thetaMin, double thetaMax, int steps,
                         int rhoMax, int rhoWindow) {
    const double dTheta = (thetaMax - thetaMin) / steps;
    const int width = 2 * rhoMax + 1;
    std::vector<std::int32_t> acc(static_cast<std::size_t>(steps) * width, 0);
    double theta = thetaMin;
    for (int i = 0; i < steps; ++i, theta += dTheta) {
        for (const POINT& p : points) {
            const int r =
                static_cast<int>(std::trunc(p.x * std::cos(theta) + p.y * std::sin(theta) + 0.5));
            if (r >= -rhoMax && r <= rhoMax) {
                ++acc[static_cast<std::size_t>(i) * width + r + rhoMax];
            }
        }
    }
    std::size_t best = 0;
    for (std::size_t c = 1; c < acc.size(); ++c) {
        if (acc[c] > acc[best]) {
            best = c;
        }
    }
    HoughPeak peak;
    const int row = static_cast<int>(best / width);
    peak.theta = row * dTheta + thetaMin;
    peak.rho = static_cast<int>(best % width) - rhoMax;
    for (int r = -rhoMax; r <= rhoMax; ++r) {
        if (rhoWindow == 0 ? r == peak.rho : std::abs(r - peak.rho) <= rhoWindow) {
            peak.votes += acc[static_cast<std::size_t>(row) * width + r + rhoMax];
        }
    }
    return peak;
}

TEST(EdgeLineTest, HoughMatchesPlainAccumulator) {
    std::mt19937 rng(7016);
    std::uniform_int_distribution<LONG> coord(-40, 400);
    std::uniform_int_distribution<int> sizes(0, 300);
    std::uniform_int_distribution<int> windows(0, 3);
    for (int round = 0; round < 60; ++round) {
        PointList points(static_cast<std::size_t>(sizes(rng)));
        // Few distinct x values so that ties and near-ties are common.
        std::uniform_int_distribution<LONG> column(20, 20 + round % 7);
        for (POINT& p : points) {
            p = {round % 2 == 0 ? column(rng) : coord(rng), coord(rng)};
        }
        const bool vertical = round % 3 != 0;
        const double mid = vertical ? 0.0 : kHalfPi;
        const double a = 10 * 3.141592 / 180;
        const int rhoMax = round % 5 == 0 ? 30 : 450;
        const int window = windows(rng);
        const HoughPeak fast = HoughLine(points, mid - a, mid + a, 200, rhoMax, window);
        const HoughPeak plain = ReferenceHough(points, mid - a, mid + a, 200, rhoMax, window);
        EXPECT_EQ(fast.theta, plain.theta) << round;
        EXPECT_EQ(fast.rho, plain.rho) << round;
        EXPECT_EQ(fast.votes, plain.votes) << round;
    }
}

// Ties, the vote window, rhoMax and the rounding are held to the plain
// accumulator above; it never runs without angle steps.
TEST(EdgeLineTest, HoughWithoutStepsHasNoVotes) {
    const HoughPeak peak = HoughLine(PointList{{1, 1}}, 0.25, 0.5, 0, 10, 2);
    EXPECT_EQ(peak.theta, 0.25);
    EXPECT_EQ(peak.votes, 0);
}

TEST(EdgeLineTest, StraightPageGivesExactAxisAngles) {
    // Page edges at x = 100 and x = 799 (first bright pixels from each side).
    const DibPtr image = MakePage(900, 1200, 700, 1000, 0.0);
    EdgeLine left;
    ASSERT_EQ(FitEdgeLine(left, *image, SideLeft, 2.0, kBand, 10, 10), S_OK);
    EXPECT_EQ(left.theta, 0.0);
    EXPECT_EQ(left.rho, 100.0);
    EXPECT_EQ(left.votes, 1000);  // one per page row, all in one bin
    EdgeLine bottom;
    ASSERT_EQ(FitEdgeLine(bottom, *image, SideBottom, 2.0, kBand, 10, 10), S_OK);
    EXPECT_EQ(bottom.theta, kHalfPi);
    EXPECT_EQ(bottom.rho, 1099.0);
    const double angle = SkewAngleFromEdgeLines({left, bottom});
    EXPECT_EQ(angle, 0.0);
    EXPECT_FALSE(std::signbit(angle));
}

TEST(EdgeLineTest, FitWithoutPointsGivesBorderLine) {
    const DibPtr dark = MakeDark(40, 30);
    EdgeLine line;
    line.points = {{5, 5}};
    EXPECT_EQ(FitEdgeLine(line, *dark, SideRight, 3.0, kBand, 10, 10), S_FALSE);
    EXPECT_EQ(line.side, SideRight);
    EXPECT_EQ(line.rho, 40.0);
    EXPECT_EQ(line.votes, 0);
    EXPECT_TRUE(line.points.empty());

    // Points inside the border strip are dropped: a page reaching x = 1
    // on every row leaves nothing with a band of 2.
    DibPtr touching = MakePage(40, 30, 100, 100, 0);
    for (LONG y = 0; y < 30; ++y) {
        touching->Row(y)[0] = 10;
    }
    EXPECT_EQ(FitEdgeLine(line, *touching, SideLeft, 3.0, kBand, 10, 10), S_FALSE);
    EXPECT_EQ(FitEdgeLine(line, *touching, SideLeft, 3.0, SIZE{1, 1}, 10, 10), S_OK);
    EXPECT_EQ(line.points.size(), 30u);
    EXPECT_EQ(line.rho, 1.0);
}

TEST(EdgeLineTest, FitPassesExtractionErrors) {
    const DibPtr colour = BlankImage(8, 8, 32);
    EdgeLine line;
    EXPECT_EQ(FitEdgeLine(line, *colour, SideTop, 2.0, kBand, 10, 10), E_INVALIDARG);
    EXPECT_EQ(FitEdgeLineBestLevel(line, *colour, SideTop, kBand, 10, 10, nullptr), E_INVALIDARG);
    const DibPtr grey = MakeDark(8, 8);
    EXPECT_EQ(FitEdgeLine(line, *grey, static_cast<Side>(4), 2.0, kBand, 10, 10), E_INVALIDARG);
}

void ExpectSameLine(const EdgeLine& a, const EdgeLine& b, const char* what) {
    const auto key = [](const EdgeLine& l) {
        return std::tie(l.side, l.level, l.theta, l.rho, l.slope, l.intercept, l.votes, l.points);
    };
    EXPECT_TRUE(key(a) == key(b)) << what << " side " << b.side << ": level " << a.level << " vs "
                                  << b.level << ", votes " << a.votes << " vs " << b.votes;
}

TEST(EdgeLineTest, LevelSearchMatchesOneFitPerLevel) {
    // Margin specks of steps 0 to 8 open rows at the low levels only: the
    // levels find different point sets, some with equal votes (lower wins).
    DibPtr page = MakePage(240, 180, 150, 110, 2.5);
    std::mt19937 rng(7331);
    std::uniform_int_distribution<int> speck(11, 26);
    std::uniform_int_distribution<int> where(0, 239);
    for (int i = 0; i < 250; ++i) {
        const LONG x = where(rng);
        const LONG y = where(rng) % 180;
        if (page->Row(y)[x] == 10) {
            page->Row(y)[x] = static_cast<BYTE>(speck(rng));
        }
    }
    EdgeLineList reference;
    for (const Side side : {SideLeft, SideTop, SideRight, SideBottom}) {
        EdgeLine best;
        best.side = side;
        for (int k = 2; k <= 9; ++k) {
            EdgeLine fit;
            const HRESULT hr = FitEdgeLine(fit, *page, side, k, kBand, 10, 10);
            ASSERT_TRUE(SUCCEEDED(hr));
            if (fit.votes > best.votes) {
                best = fit;
            }
        }
        reference.push_back(best);
        if (best.votes == 0) {
            best = BorderEdgeLine(*page, side);
            best.votes = 0;
        }
        EdgeLine line;
        ASSERT_EQ(FitEdgeLineBestLevel(line, *page, side, kBand, 10, 10, nullptr), S_OK);
        ExpectSameLine(line, best, "best level");
    }
    EdgeLineList records;
    ASSERT_EQ(FitRotationEdgeLines(records, *page, {SideLeft, SideTop, SideRight, SideBottom},
                                   kBand, 10, 10, nullptr),
              S_OK);
    ASSERT_EQ(records.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        ExpectSameLine(records[i], reference[i], "rotation");
    }
}

TEST(EdgeLineTest, StopRequestsBetweenFits) {
    const DibPtr page = MakePage(120, 160, 80, 120, 2.0);
    EdgeLine line;
    StopAfter fifth(4);
    EXPECT_EQ(FitEdgeLineBestLevel(line, *page, SideLeft, kBand, 10, 10, &fifth), E_ABORT);
    EXPECT_EQ(fifth.Asked(), 5);

    EdgeLineList records;
    StopAfter tenth(9);  // during the second side
    EXPECT_EQ(FitRotationEdgeLines(records, *page, {SideLeft, SideTop}, kBand, 10, 10, &tenth),
              E_ABORT);
}

TEST(EdgeLineTest, SkewAngleFromFirstSideWithMostVotes) {
    const EdgeLine left{SideLeft, 0.0, -0.03, 0.0, 0.0, 0.0, 50, {}};
    EdgeLine top{SideTop, 0.0, kHalfPi + 0.02, 0.0, 0.0, 0.0, 50, {}};
    const EdgeLine none{SideBottom, 0.0, 0.7, 0.0, 0.0, 0.0, 0, {}};
    EXPECT_EQ(SkewAngleFromEdgeLines({left, top}), 0.03);
    EXPECT_EQ(SkewAngleFromEdgeLines({top, left}), -(top.theta - kHalfPi));
    top.votes = 51;
    EXPECT_EQ(SkewAngleFromEdgeLines({left, top}), -(top.theta - kHalfPi));
    EXPECT_EQ(SkewAngleFromEdgeLines({none, left}), 0.03);
    EXPECT_EQ(SkewAngleFromEdgeLines({}), 0.0);
    // A faint edge's line (level 1) decides only when no other line has votes.
    const EdgeLine faint{SideRight, 1.0, 0.05, 0.0, 0.0, 0.0, 90, {}};
    EXPECT_EQ(SkewAngleFromEdgeLines({faint, left}), 0.03);
    EXPECT_EQ(SkewAngleFromEdgeLines({none, faint}), -0.05);
}

TEST(EdgeLineTest, RotationStageRecords) {
    // A side without points keeps a fresh record and never decides.
    EdgeLineList records(2);  // replaced, not added to
    const DibPtr dark = MakeDark(60, 40);
    ASSERT_EQ(FitRotationEdgeLines(records, *dark, {SideTop}, kBand, 10, 10, nullptr), S_OK);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].side, SideTop);
    EXPECT_EQ(records[0].votes, 0);
    EXPECT_EQ(SkewAngleFromEdgeLines(records), 0.0);

    // No rotation sides: nothing is fitted.
    ASSERT_EQ(FitRotationEdgeLines(records, *dark, SideList{}, kBand, 10, 10, nullptr), S_OK);
    EXPECT_TRUE(records.empty());
}

}  // namespace
