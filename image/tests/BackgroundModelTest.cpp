#include "image/BackgroundModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Bgr {
    BYTE b, g, r;
};

// A 32-bit image from pixels listed top row first; alpha gets a value that
// would spoil any result it entered.
DibPtr Make32(LONG w, LONG h, const std::vector<Bgr>& pixels) {
    return PaintedImage(w, h, 32, [&](LONG x, LONG y) {
        const Bgr& p = pixels[std::size_t(y * w + x)];
        return p.b | p.g << 8 | p.r << 16 | std::uint32_t{BYTE(77 + x + y)} << 24;
    });
}

TEST(BackgroundSampleRects, OneBandPerSideInListOrder) {
    const SIZE size{10, 8}, band{2, 3};
    // Side values: 0 left, 1 top, 2 right, 3 bottom.
    EXPECT_EQ(BackgroundSampleRects(std::vector<int>{2, 0, 3, 1, 7, -1}, size, band),
              (std::vector<RECT>{{8, 0, 10, 8}, {0, 0, 2, 8}, {0, 5, 10, 8}, {0, 0, 10, 3}}));
    EXPECT_TRUE(BackgroundSampleRects(std::vector<int>{}, size, band).empty());
    RECT untouched{1, 2, 3, 4};
    EXPECT_FALSE(SideBandRect(untouched, static_cast<Side>(4), size, band));
    EXPECT_EQ(untouched, (RECT{1, 2, 3, 4}));
}

// A page over most of the right border leaves the lid's model: its pieces of
// that strip fall out, and so does a piece half covered by it.
TEST(SelectLidSamples, LeavesOutWhereAPageCoversTheBorder) {
    const LONG w = 64, h = 64;
    std::vector<Bgr> pixels(std::size_t(w * h), Bgr{20, 22, 24});
    for (LONG y = 0; y < 42; ++y) {
        for (LONG x = 48; x < w; ++x) {
            pixels[std::size_t(y * w + x)] = Bgr{230, 235, 240};
        }
    }
    const DibPtr img = Make32(w, h, pixels);
    const std::vector<RECT> strips =
        BackgroundSampleRects(std::vector<int>{0, 1, 2, 3}, {w, h}, {2, 2});
    std::vector<RECT> pieces;
    ASSERT_EQ(SelectLidSamples(pieces, *img, strips), S_OK);
    // Strips of 64 pixels in 16 pieces of 4: the right strip keeps rows 44
    // to 63, the top strip its first 12 pieces.
    EXPECT_EQ(pieces.size(), 16u + 12u + 5u + 16u);
    for (const RECT& r : pieces) {
        EXPECT_FALSE(r.right > 48 && r.top < 42) << r.left << "," << r.top;
    }

    // Refused like the statistics, without touching the list.
    const std::vector<RECT> outside{{0, 0, 65, 2}};
    EXPECT_EQ(SelectLidSamples(pieces, *img, outside), E_INVALIDARG);
    CDib grey;
    ASSERT_TRUE(grey.Create(w, h, 8, 256, BI_RGB) && grey.AllocateBits());
    EXPECT_EQ(SelectLidSamples(pieces, grey, strips), E_INVALIDARG);
    EXPECT_EQ(pieces.size(), 49u);
}

TEST(BackgroundStatistics, CornerCountsOncePerBandAndOldValuesAreReplaced) {
    // Left band (column 0) and top band (row 0) meet at (0, 0): N = 6 with
    // the corner (blue 60) counted twice. Green 12 sits only in the top band;
    // red is constant; pixels outside both bands must not count.
    const DibPtr img = Make32(3, 3,
                              {{60, 0, 7},
                               {0, 0, 7},
                               {0, 12, 7},
                               {0, 0, 7},
                               {255, 255, 255},
                               {255, 255, 255},
                               {0, 0, 7},
                               {255, 255, 255},
                               {255, 255, 255}});
    std::vector<double> mean(5, 1.0), cov(2, 3.0);
    ASSERT_EQ(ComputeBackgroundStatistics(
                  mean, cov, *img, BackgroundSampleRects(std::vector<int>{0, 1}, {3, 3}, {1, 1})),
              S_OK);
    EXPECT_EQ(mean, (std::vector<double>{20, 2, 7}));
    // Sum of d0·d1: corner 2 × (40 × −2), three pixels (−20 × −2), (2, 0) −20 × 10.
    EXPECT_EQ(cov, (std::vector<double>{800, -40, 0, -40, 20, 0, 0, 0, 0}));

    // Rectangles count rows from the top: only the bottom row (stored first).
    ASSERT_EQ(ComputeBackgroundStatistics(mean, cov, *img, {RECT{0, 2, 1, 3}}), S_OK);
    EXPECT_EQ(mean, (std::vector<double>{0, 0, 7}));
}

TEST(BackgroundStatistics, RefusesBadInputsWithoutTouchingTheVectors) {
    const DibPtr img = Make32(3, 2, std::vector<Bgr>(6, Bgr{1, 2, 3}));
    CDib rgb24;
    ASSERT_TRUE(rgb24.Create(3, 2, 24, 0, BI_RGB) && rgb24.AllocateBits());
    const std::vector<double> before{4, 5};
    std::vector<double> mean = before, cov = before;
    const RECT whole{0, 0, 3, 2};
    EXPECT_EQ(ComputeBackgroundStatistics(mean, cov, rgb24, {whole}), E_INVALIDARG);
    // Starting left of the image (a band wider than the image), one row past
    // the bottom, inverted, no rectangle, and rectangles without a pixel.
    EXPECT_EQ(ComputeBackgroundStatistics(mean, cov, *img, {RECT{-1, 0, 3, 2}}), E_INVALIDARG);
    EXPECT_EQ(ComputeBackgroundStatistics(mean, cov, *img, {whole, RECT{0, 0, 3, 3}}),
              E_INVALIDARG);
    EXPECT_EQ(ComputeBackgroundStatistics(mean, cov, *img, {}), E_INVALIDARG);
    EXPECT_EQ(ComputeBackgroundStatistics(mean, cov, *img, {RECT{1, 1, 1, 2}}), E_INVALIDARG);
    EXPECT_EQ(mean, before);
    EXPECT_EQ(cov, before);
    // An empty rectangle beside a real one is simply no sample.
    EXPECT_EQ(ComputeBackgroundStatistics(mean, cov, *img, {RECT{1, 1, 1, 2}, whole}), S_OK);
}

TEST(InvertMatrix3, InvertsFromUpperTriangleAndRefusesSmallDeterminants) {
    // det = 4. The lower triangle holds junk that must not be read.
    std::vector<double> inv;
    ASSERT_EQ(InvertMatrix3(inv, {2, 1, 0, 99, 2, 1, -99, 42, 2}), S_OK);
    EXPECT_EQ(inv, (std::vector<double>{0.75, -0.5, 0.25, -0.5, 1, -0.5, 0.25, -0.5, 0.75}));

    const std::vector<double> before{1, 2, 3};
    inv = before;
    EXPECT_EQ(InvertMatrix3(inv, {1, 2, 3, 2, 4, 6, 3, 6, 9}), S_FALSE);           // rank 1
    EXPECT_EQ(InvertMatrix3(inv, {0.01, 0, 0, 0, 0.01, 0, 0, 0, 0.09}), S_FALSE);  // det 9e-6
    EXPECT_EQ(inv, before);
    EXPECT_EQ(InvertMatrix3(inv, {0.01, 0, 0, 0, 0.01, 0, 0, 0, 0.11}), S_OK);  // det 1.1e-5
    EXPECT_EQ(InvertMatrix3(inv, std::vector<double>(8, 1.0)), E_INVALIDARG);
}

TEST(DistanceImage, UniformBandScoresZeroOnBackgroundUnderTheFallback) {
    // The whole top row is the band, all (100, 110, 120): covariance zero,
    // fallback +infinity everywhere. Background pixels give 0 × infinity
    // (not a number) and store 0; a pixel off in every channel the same way
    // gives +infinity (255); mixed signs give infinity − infinity (0).
    const DibPtr img = Make32(3, 2,
                              {{100, 110, 120},
                               {100, 110, 120},
                               {100, 110, 120},
                               {100, 110, 121},
                               {101, 111, 121},
                               {101, 109, 121}});
    std::vector<double> mean, cov;
    ASSERT_EQ(ComputeBackgroundStatistics(
                  mean, cov, *img, BackgroundSampleRects(std::vector<int>{1}, {3, 2}, {1, 1})),
              S_OK);
    EXPECT_EQ(cov, std::vector<double>(9, 0.0));
    const std::vector<double> fallback = SingularCovarianceFallback(cov);
    EXPECT_EQ(fallback, std::vector<double>(9, kInf));
    EXPECT_EQ(SingularCovarianceFallback({25, 0, 0, 0, 0, 0, 0, 0, 0}),
              (std::vector<double>{1.0 / 25, kInf, kInf, kInf, kInf, kInf, kInf, kInf, kInf}));

    DibPtr out;
    ASSERT_EQ(ComputeDistanceImage(out, *img, mean, fallback, nullptr), S_OK);
    EXPECT_EQ(GreyPixels(*out), (std::vector<BYTE>{0, 0, 0, 0, 255, 0}));
}

TEST(DistanceImage, RefusesBadInputsAndAbortsOnStop) {
    const DibPtr img = Make32(2, 4, std::vector<Bgr>(8, Bgr{1, 2, 3}));
    CDib rgb24;
    ASSERT_TRUE(rgb24.Create(2, 4, 24, 0, BI_RGB) && rgb24.AllocateBits());
    const std::vector<double> mean{1, 2, 3}, inv(9, 1.0);
    const DibPtr sentinel(new CDib);
    DibPtr out = sentinel;
    EXPECT_EQ(ComputeDistanceImage(out, rgb24, mean, inv, nullptr), E_INVALIDARG);
    EXPECT_EQ(ComputeDistanceImage(out, *img, mean, std::vector<double>(8, 1.0), nullptr),
              E_INVALIDARG);
    EXPECT_EQ(out, sentinel);

    ASSERT_EQ(ComputeDistanceImage(out, *img, mean, inv, nullptr), S_OK);
    EXPECT_EQ(GreyPixels(*out), std::vector<BYTE>(8, 0));
    StopAfter second(1);
    EXPECT_EQ(ComputeDistanceImage(out, *img, mean, inv, &second), E_ABORT);
    EXPECT_FALSE(out);
}

// The quadratic form truncated to whole levels, clamped to 255 above and to
// 0 below (a form that is no covariance inverse can be negative).
TEST(DistanceImage, MatchesPlainReferenceOnRandomImages) {
    std::mt19937 rng(1789);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_real_distribution<double> coef(-0.05, 0.05);
    const LONG w = 29, h = 17;
    std::vector<Bgr> px(w * h);
    for (Bgr& p : px) {
        p = {BYTE(byte(rng)), BYTE(byte(rng)), BYTE(byte(rng))};
    }
    const DibPtr img = Make32(w, h, px);
    for (int trial = 0; trial < 2; ++trial) {
        // An asymmetric matrix shows that only indices 0, 3, 4, 6, 7, 8 count.
        std::vector<double> m(9);
        for (double& v : m) {
            v = coef(rng);
        }
        m[0] = std::fabs(m[0]) + 0.01;
        const std::vector<double> mean{byte(rng) + 0.25, byte(rng) + 0.5, double(byte(rng))};
        DibPtr out;
        ASSERT_EQ(ComputeDistanceImage(out, *img, mean, m, nullptr), S_OK);
        EXPECT_TRUE(CDib::IsGreyPalette(out->Header()));
        EXPECT_EQ(out->Row(0)[w], 0);  // row padding written
        for (LONG y = 0; y < h; ++y) {
            for (LONG x = 0; x < w; ++x) {
                const BYTE* p = img->Row(y) + 4 * x;
                const double d0 = p[0] - mean[0], d1 = p[1] - mean[1], d2 = p[2] - mean[2];
                const double q = m[0] * d0 * d0 + 2 * m[3] * d0 * d1 + 2 * m[6] * d0 * d2 +
                                 m[4] * d1 * d1 + 2 * m[7] * d1 * d2 + m[8] * d2 * d2;
                const BYTE expected = q > 255 ? 255 : (q >= 0 ? BYTE(std::trunc(q)) : 0);
                ASSERT_EQ(out->Row(y)[x], expected) << x << "," << y << " trial " << trial;
            }
        }
    }
}

}  // namespace
