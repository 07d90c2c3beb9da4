#include "trim/TrimRect.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "tests/support/TestImages.h"
#include "trim/AutoTrimParams.h"

namespace {

constexpr DWORD kDeep = AutoTrimParams::FlagDeepCut;
constexpr DWORD kOutput = AutoTrimParams::FlagOutputSize;
constexpr DWORD kTrim = AutoTrimParams::FlagAdditionalTrim;
constexpr CutFlags kAllCut{true, true, true, true};

EdgeLine Line(Side side, double slope, double intercept) {
    EdgeLine line;
    line.side = side;
    line.slope = slope;
    line.intercept = intercept;
    return line;
}

// Corners whose edge positions are exactly the given values either way.
TrimCorners Box(double left, double top, double right, double bottom) {
    return {PointD{left, top}, PointD{right, top}, PointD{right, bottom}, PointD{left, bottom}};
}

TEST(IntersectEdgeLines, BorderLinesMeetOnePixelOutside) {
    const DibPtr img = BlankImage(30, 20, 8);
    const ManuscriptLines lines{BorderEdgeLine(*img, SideLeft), BorderEdgeLine(*img, SideTop),
                                BorderEdgeLine(*img, SideRight), BorderEdgeLine(*img, SideBottom)};
    const TrimCorners c = ManuscriptCorners(lines);
    const TrimCorners expected = Box(-1, -1, 30, 20);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c[i].x, expected[i].x) << i;
        EXPECT_EQ(c[i].y, expected[i].y) << i;
    }
}

TEST(IntersectEdgeLines, SlantedLinesInEitherOrder) {
    // x = 0.1·y + 10 and y = -0.05·x + 20 meet at x = 12 / 1.005.
    const EdgeLine left = Line(SideLeft, 0.1, 10.0);
    const EdgeLine top = Line(SideTop, -0.05, 20.0);
    const PointD p = IntersectEdgeLines(left, top);
    EXPECT_DOUBLE_EQ(p.x, 12.0 / 1.005);
    EXPECT_DOUBLE_EQ(p.y, p.x * -0.05 + 20.0);
    EXPECT_EQ(IntersectEdgeLines(top, left).x, p.x);
    EXPECT_EQ(IntersectEdgeLines(top, left).y, p.y);
}

TEST(ComputeTrimRect, DeepCutKeepsInsideAndOtherwiseAround) {
    // A skewed quadrilateral: the inner bounds come from the inner corners.
    const TrimCorners quad{PointD{100.2, 50.5}, PointD{899.7, 48.1}, PointD{903.4, 1200.0},
                           PointD{97.9, 1203.6}};
    const TrimRect deep = ComputeTrimRect(quad, kDeep, kAllCut, SIZE{0, 0}, SIZE{0, 0});
    EXPECT_EQ(deep.rect, (RECT{101, 51, 900, 1201}));
    EXPECT_EQ(deep.edges[SideLeft], 100.2);
    const TrimRect around = ComputeTrimRect(quad, 0, kAllCut, SIZE{0, 0}, SIZE{0, 0});
    EXPECT_EQ(around.rect, (RECT{97, 48, 905, 1205}));
    EXPECT_EQ(around.edges[SideRight], 903.4);
    // Whole-number positions: deep cut keeps the pixel on the line.
    EXPECT_EQ(ComputeTrimRect(Box(10, 20, 30, 40), kDeep, kAllCut, {}, {}).rect,
              (RECT{10, 20, 31, 41}));
}

TEST(ComputeTrimRect, OutputAndTrimGiveExactSizes) {
    const TrimCorners c = Box(100.2, 50.7, 896.3, 1100.2);
    TrimRect r = ComputeTrimRect(c, kDeep | kOutput, kAllCut, SIZE{800, 1000}, SIZE{20, 0});
    EXPECT_EQ(r.rect.right - r.rect.left, 800);
    EXPECT_EQ(r.rect.bottom - r.rect.top, 1000);
    // Output and trimming: the output size less the trimming.
    r = ComputeTrimRect(c, kDeep | kOutput | kTrim, kAllCut, SIZE{1000, 1000}, SIZE{20, 0});
    EXPECT_EQ(r.rect.right - r.rect.left, 980);
    EXPECT_EQ(r.rect.bottom - r.rect.top, 1000);
    // Output with a zero side is ignored.
    r = ComputeTrimRect(c, kDeep | kOutput, kAllCut, SIZE{800, 0}, SIZE{0, 0});
    EXPECT_EQ(r.rect, (RECT{101, 51, 897, 1101}));
    // Trimming 20 off a 700 span: 10 each side; 700 or more: nothing.
    const TrimCorners c700 = Box(100.0, 0.0, 799.0, 99.0);
    r = ComputeTrimRect(c700, kDeep | kTrim, kAllCut, {}, SIZE{20, 0});
    EXPECT_EQ(r.rect, (RECT{110, 0, 790, 100}));
    EXPECT_FALSE(r.trimSkipped);
    r = ComputeTrimRect(c700, kDeep | kTrim, kAllCut, {}, SIZE{700, 100});
    EXPECT_EQ(r.rect, (RECT{100, 0, 800, 100}));
    EXPECT_TRUE(r.trimSkipped);
    // Output size with neither left nor right cut leaves the width; so does
    // trimming, which is then no trimming left out.
    const CutFlags topBottom{false, true, false, true};
    r = ComputeTrimRect(c700, kDeep | kOutput, topBottom, SIZE{300, 50}, {});
    EXPECT_EQ(r.rect, (RECT{100, 25, 800, 75}));
    r = ComputeTrimRect(c700, kDeep | kTrim, topBottom, {}, SIZE{700, 0});
    EXPECT_FALSE(r.trimSkipped);
}

// An odd pixel goes where the manuscript reaches further (dLow = edgeLow's
// distance beyond low, dHigh beyond high); only cut sides move.
// A 200 × 300 foreground, lid 0, with a page of 200 over columns 40 to 159
// and rows 50 to 249 unless blank.
DibPtr Foreground(bool blank) {
    return PaintedImage(200, 300, 8, [blank](LONG x, LONG y) {
        return !blank && x >= 40 && x < 160 && y >= 50 && y < 250 ? 200 : 0;
    });
}

// A fitted vertical line x = at with a point on every `every`-th row from
// `from` to `to`, or a horizontal one likewise.
EdgeLine Fitted(Side side, double at, std::int32_t votes, LONG from = 50, LONG to = 250,
                LONG every = 1) {
    EdgeLine line = Line(side, 0.0, at);
    line.votes = votes;
    for (LONG t = from; t < to; t += every) {
        const LONG a = static_cast<LONG>(at);
        line.points.push_back(side == SideLeft || side == SideRight ? POINT{a, t} : POINT{t, a});
    }
    return line;
}

TEST(CheckManuscriptLines, RefusesLinesThatAreNoPageEdge) {
    const DibPtr page = Foreground(false);
    const ManuscriptLines good{Fitted(SideLeft, 40, 200), Fitted(SideTop, 50, 120, 40, 160),
                               Fitted(SideRight, 159, 200), Fitted(SideBottom, 249, 120, 40, 160)};
    struct Case {
        const char* name;
        const DibPtr& foreground;
        Side side;
        EdgeLine line;
        Side refused;  // SideLeft .. SideBottom, or -1 for none
        LineRule rule;
    };
    const DibPtr blank = Foreground(true);
    // A dark band (columns 76 to 79) inside the page: lid-like outside a
    // line at 80, which has a third of the page outside it.
    const DibPtr banded = PaintedImage(200, 300, 8, [](LONG x, LONG y) {
        return x >= 40 && x < 160 && y >= 50 && y < 250 && (x < 76 || x >= 80) ? 200 : 0;
    });
    const Case cases[] = {
        {"page edges", page, SideLeft, Fitted(SideLeft, 40, 200), static_cast<Side>(-1),
         LineRule::None},
        {"inside the page", page, SideLeft, Fitted(SideLeft, 100, 200), SideLeft,
         LineRule::InsidePage},
        {"cutting the page away", page, SideRight, Fitted(SideRight, 30, 200), SideRight,
         LineRule::CutsPageAway},
        {"along a band with a third of the page outside", banded, SideLeft,
         Fitted(SideLeft, 80, 200), SideLeft, LineRule::CutsPageAway},
        {"too few votes", page, SideTop, Fitted(SideTop, 50, 9, 40, 160), SideTop,
         LineRule::TooFewPoints},
        {"sparse points", page, SideLeft, Fitted(SideLeft, 40, 200, 50, 250, 3), SideLeft,
         LineRule::TooFewPoints},
        // Nothing above the lid: of two crossing lines the weaker goes.
        {"crossing", blank, SideLeft, Fitted(SideLeft, 170, 250), SideRight,
         LineRule::CrossesOpposite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManuscriptLines lines = good;
        lines[c.side] = c.line;
        LineRules refused{};
        ASSERT_EQ(CheckManuscriptLines(lines, kAllCut, *c.foreground, &refused), S_OK);
        for (int side = 0; side < 4; ++side) {
            EXPECT_EQ(refused[side], side == c.refused ? c.rule : LineRule::None) << side;
            if (side == c.refused) {
                const EdgeLine border = BorderEdgeLine(*c.foreground, static_cast<Side>(side));
                EXPECT_EQ(lines[side].intercept, border.intercept);
                EXPECT_EQ(lines[side].votes, 0);
            }
        }
    }

    // Sides that are not cut keep their line; a colour image is refused.
    ManuscriptLines lines = good;
    lines[SideLeft] = Fitted(SideLeft, 100, 200);
    EXPECT_EQ(CheckManuscriptLines(lines, CutFlags{false, true, true, true}, *page, nullptr), S_OK);
    EXPECT_EQ(lines[SideLeft].intercept, 100);
    EXPECT_EQ(CheckManuscriptLines(lines, kAllCut, *BlankImage(200, 300, 32), nullptr),
              E_INVALIDARG);
    EXPECT_EQ(lines[SideLeft].intercept, 100);
}

TEST(FitSpan, OddPixelAndCutSides) {
    const struct {
        LONG low, high;
        bool cutLow, cutHigh;
        double edgeLow, edgeHigh;
        LONG size, wantLow, wantHigh;
    } cases[] = {
        {101, 898, true, true, 100.2, 897.3, 800, 99, 899},  // grow, dLow 0.8 > dHigh 0.3
        {10, 20, true, true, 9.5, 19.5, 13, 9, 22},          // grow, equal: odd pixel high
        {10, 20, true, true, 9.9, 19.9, 7, 12, 19},          // shrink, dLow < dHigh: off low
        {10, 20, true, true, 9.5, 19.5, 7, 11, 18},          // shrink, dLow >= dHigh: off high
        {10, 20, true, true, 0, 0, 14, 8, 22},               // even: shared
        {101, 898, true, false, 0, 0, 800, 98, 898},
        {101, 898, false, true, 0, 0, 700, 101, 801},
        {101, 898, false, false, 0, 0, 700, 101, 898},
    };
    for (const auto& c : cases) {
        LONG low = c.low, high = c.high;
        FitSpan(low, high, c.cutLow, c.cutHigh, c.edgeLow, c.edgeHigh, c.size);
        EXPECT_EQ(low, c.wantLow) << c.low << ".." << c.high << " to " << c.size;
        EXPECT_EQ(high, c.wantHigh) << c.low << ".." << c.high << " to " << c.size;
    }
}

TEST(PlaceRect, ShiftsInsideAndCutsOnlyWhatIsTooLarge) {
    EXPECT_EQ(PlaceRect(RECT{-50, 0, 2050, 100}, 2000, 1000), (RECT{0, 0, 2000, 100}));
    EXPECT_EQ(PlaceRect(RECT{1800, 990, 2100, 1010}, 2000, 1000), (RECT{1700, 980, 2000, 1000}));
    EXPECT_EQ(PlaceRect(RECT{10, -1, 20, 1001}, 2000, 1000), (RECT{10, 0, 20, 1000}));
    EXPECT_EQ(PlaceRect(RECT{10, 10, 20, 20}, 2000, 1000), (RECT{10, 10, 20, 20}));
}

TEST(CropImage, CopiesExactPixelsTopDown) {
    const DibPtr img = BlankImage(7, 5, 32);
    for (LONG y = 0; y < 5; ++y) {
        for (LONG x = 0; x < 28; ++x) {
            img->Row(y)[x] = static_cast<BYTE>(y * 40 + x);
        }
    }
    DibPtr out;
    ASSERT_EQ(CropImage(out, *img, RECT{2, 1, 5, 4}), S_OK);
    ASSERT_EQ(out->Size(), (SIZE{3, 3}));
    for (LONG y = 0; y < 3; ++y) {
        EXPECT_EQ(std::memcmp(out->Row(y), img->Row(y + 1) + 8, 12), 0) << y;
    }
    // The whole image, corners included.
    ASSERT_EQ(CropImage(out, *img, RECT{0, 0, 7, 5}), S_OK);
    EXPECT_EQ(std::memcmp(out->Bits(), img->Bits(), img->GetImageSize()), 0);
}

TEST(CropImage, RefusesOutsideEmptyOrWrongDepth) {
    const DibPtr img = BlankImage(7, 5, 32);
    const DibPtr keep = BlankImage(1, 1, 32);
    DibPtr out = keep;
    for (const RECT& r : {RECT{-1, 0, 3, 3}, RECT{0, -1, 3, 3}, RECT{0, 0, 8, 3}, RECT{0, 0, 3, 6},
                          RECT{3, 0, 3, 3}, RECT{0, 2, 3, 2}, RECT{4, 0, 3, 3}}) {
        EXPECT_EQ(CropImage(out, *img, r), E_INVALIDARG);
    }
    EXPECT_EQ(CropImage(out, *BlankImage(7, 5, 24), RECT{0, 0, 3, 3}), E_INVALIDARG);
    EXPECT_EQ(out, keep);
}

TEST(FitPreviewRect, AspectFitWithItsRoundingRules) {
    // 2000 × 3000 into 200 × 200: 133 wide, centred.
    EXPECT_EQ(FitPreviewRect(RECT{0, 0, 200, 200}, SIZE{2000, 3000}), (RECT{33, 0, 166, 200}));
    // 136 × 200: ratios differ by 0.0133 (not < 0.01), but 136 − 133 <= 4.
    EXPECT_EQ(FitPreviewRect(RECT{0, 0, 136, 200}, SIZE{2000, 3000}), (RECT{0, 0, 136, 200}));
    // 138 × 200: 5 pixels left over, so the fit stays at 133.
    EXPECT_EQ(FitPreviewRect(RECT{0, 0, 138, 200}, SIZE{2000, 3000}), (RECT{2, 0, 135, 200}));
    // Ratios within 0.01: the whole box, even if 5 pixels would be spare.
    EXPECT_EQ(FitPreviewRect(RECT{0, 0, 1000, 1000}, SIZE{1000, 1005}), (RECT{0, 0, 1000, 1000}));
    // A relatively taller box, offset.
    EXPECT_EQ(FitPreviewRect(RECT{10, 20, 210, 420}, SIZE{3000, 2000}), (RECT{10, 153, 210, 286}));
    // Degenerate inputs give the box.
    EXPECT_EQ(FitPreviewRect(RECT{0, 0, 0, 200}, SIZE{20, 30}), (RECT{0, 0, 0, 200}));
    EXPECT_EQ(FitPreviewRect(RECT{0, 0, 100, 200}, SIZE{0, 30}), (RECT{0, 0, 100, 200}));
}

}  // namespace
