#include "image/DifferenceImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

struct Bgra {
    BYTE b, g, r, a;
};

// A 32-bit image from pixels listed top row first.
DibPtr Make32(LONG w, LONG h, const std::vector<Bgra>& pixels) {
    return PaintedImage(w, h, 32, [&](LONG x, LONG y) {
        const Bgra& p = pixels[std::size_t(y * w + x)];
        return p.b | p.g << 8 | p.r << 16 | std::uint32_t{p.a} << 24;
    });
}

// The measures written out in double, as plainly as possible.
BYTE ReferenceGrey(const BYTE* a, const BYTE* b, int measure) {
    const double dB = double(a[0]) - b[0], dG = double(a[1]) - b[1], dR = double(a[2]) - b[2];
    const double values[7] = {std::sqrt(dR * dR + dG * dG + dB * dB),
                              std::sqrt(dR * dR + dG * dG),
                              std::sqrt(dG * dG + dB * dB),
                              std::sqrt(dB * dB + dR * dR),
                              std::sqrt(dR * dR),
                              std::fabs(dG),
                              std::fabs(dB)};
    const double v = values[measure];
    return v > 255 ? 255 : v < 0 ? 0 : BYTE(std::trunc(v));
}

TEST(DifferenceImage, UnequalSizesCompareTheCommonTopLeftArea) {
    // 3 × 2 against 2 × 3: the output is 2 × 2 and rows are matched from the
    // top of each image, although they are stored bottom-up at different
    // offsets.
    const DibPtr scan = Make32(
        3, 2,
        {{10, 0, 0, 0}, {20, 0, 0, 0}, {99, 0, 0, 0}, {30, 0, 0, 0}, {40, 0, 0, 0}, {99, 0, 0, 0}});
    const DibPtr empty = Make32(
        2, 3,
        {{1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}, {4, 0, 0, 0}, {200, 0, 0, 0}, {200, 0, 0, 0}});
    DibPtr out;
    ASSERT_EQ(ComputeDifferenceImage(out, *scan, *empty, MeasureBlue, nullptr), S_OK);
    EXPECT_EQ(out->Width(), 2);
    EXPECT_EQ(out->Height(), 2);
    EXPECT_EQ(GreyPixels(*out), (std::vector<BYTE>{9, 18, 27, 36}));
}

TEST(DifferenceImage, RefusesBadInputAndStopsOnRequest) {
    const DibPtr a = Make32(3, 5, std::vector<Bgra>(15, Bgra{1, 2, 3, 4}));
    CDib rgb24, noBits;
    ASSERT_TRUE(rgb24.Create(3, 5, 24, 0, BI_RGB) && rgb24.AllocateBits());
    ASSERT_TRUE(noBits.Create(3, 5, 32, 0, BI_RGB));
    const DibPtr sentinel(new CDib);
    DibPtr out = sentinel;
    EXPECT_EQ(ComputeDifferenceImage(out, *a, *a, 7, nullptr), E_INVALIDARG);
    EXPECT_EQ(ComputeDifferenceImage(out, rgb24, *a, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(ComputeDifferenceImage(out, *a, noBits, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(ComputeDifferenceImage(out, *Make32(0, 2, {}), *a, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(out, sentinel);

    StopAfter third(2);
    EXPECT_EQ(ComputeDifferenceImage(out, *a, *a, 0, &third), E_ABORT);
    EXPECT_FALSE(out);
}

TEST(DifferenceImage, FastGreyEqualsDoubleSqrtForEveryPossibleSum) {
    for (std::int32_t s = 0; s <= 3 * 255 * 255; ++s) {
        const double v = std::sqrt(double(s));
        const BYTE expected = v > 255 ? 255 : BYTE(std::trunc(v));
        ASSERT_EQ(GreyFromSquaredDistance(s), expected) << s;
    }
}

// Every measure against the plain one; alpha differs at random and must not
// count, and distances beyond 255 clamp.
TEST(DifferenceImage, MatchesPlainReferenceOnRandomImages) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    const LONG w = 37, h = 23;  // loop tails and row padding
    std::vector<Bgra> pa(w * h), pb(w * h);
    for (std::size_t i = 0; i < pa.size(); ++i) {
        pa[i] = {BYTE(byte(rng)), BYTE(byte(rng)), BYTE(byte(rng)), BYTE(byte(rng))};
        // Mostly near the other colour, as on a real scanner bed.
        pb[i] = i % 3
                    ? Bgra{BYTE(std::clamp(pa[i].b + byte(rng) % 21 - 10, 0, 255)),
                           BYTE(std::clamp(pa[i].g + byte(rng) % 21 - 10, 0, 255)),
                           BYTE(std::clamp(pa[i].r + byte(rng) % 21 - 10, 0, 255)), BYTE(byte(rng))}
                    : Bgra{BYTE(byte(rng)), BYTE(byte(rng)), BYTE(byte(rng)), BYTE(byte(rng))};
    }
    const DibPtr a = Make32(w, h, pa), b = Make32(w, h, pb);
    for (int measure = 0; measure <= 6; ++measure) {
        DibPtr out;
        ASSERT_EQ(ComputeDifferenceImage(out, *a, *b, measure, nullptr), S_OK);
        EXPECT_TRUE(CDib::IsGreyPalette(out->Header()));
        EXPECT_EQ(out->Row(0)[w], 0);  // row padding written
        for (LONG y = 0; y < h; ++y) {
            for (LONG x = 0; x < w; ++x) {
                ASSERT_EQ(out->Row(y)[x],
                          ReferenceGrey(a->Row(y) + 4 * x, b->Row(y) + 4 * x, measure))
                    << "measure " << measure << " at " << x << "," << y;
            }
        }
    }
}

}  // namespace
