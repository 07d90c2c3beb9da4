#include "image/MedianFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

// An 8-bit grey image from top-down row-major values.
DibPtr Grey(LONG w, LONG h, const std::vector<int>& values) {
    return PaintedImage(w, h, 8, [&](LONG x, LONG y) { return values[y * w + x]; });
}

// The plain filter: sort the window's pixels inside the image, take count / 2
// (the upper middle where the window is clipped to an even count).
std::vector<BYTE> ReferenceMedian(const CDib& dib, int n) {
    const int half = n / 2;
    const int w = dib.Width();
    const int h = dib.Height();
    std::vector<BYTE> result;
    std::vector<BYTE> window;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            window.clear();
            for (int r = y - half; r < y - half + n; ++r) {
                for (int c = x - half; c < x - half + n; ++c) {
                    if (r >= 0 && r < h && c >= 0 && c < w) {
                        window.push_back(dib.Row(r)[c]);
                    }
                }
            }
            std::sort(window.begin(), window.end());
            result.push_back(window[window.size() / 2]);
        }
    }
    return result;
}

TEST(MedianFilter, OutputIsNewGreyImageAndMayReplaceItsInput) {
    DibPtr in = Grey(5, 3, std::vector<int>(15, 9));
    in->Header()->biXPelsPerMeter = 11811;
    DibPtr out;
    ASSERT_EQ(MedianFilter(out, *in, 3, nullptr), S_OK);
    EXPECT_EQ(out->Size(), (SIZE{5, 3}));
    EXPECT_EQ(out->Header()->biXPelsPerMeter, 0);
    EXPECT_TRUE(CDib::IsGreyPalette(out->Header()));
    EXPECT_EQ(out->Row(0)[5], 0);  // row padding written

    DibPtr chain = Grey(3, 3, {0, 0, 0, 0, 255, 0, 0, 0, 0});
    ASSERT_EQ(MedianFilter(chain, *chain, 3, nullptr), S_OK);
    EXPECT_EQ(GreyPixels(*chain), std::vector<BYTE>(9, 0));
}

TEST(MedianFilter, RefusesWrongDepthAndWindow) {
    DibPtr grey = Grey(4, 4, std::vector<int>(16, 1));
    DibPtr keep(new CDib);
    DibPtr out = keep;
    EXPECT_EQ(MedianFilter(out, *grey, 0, nullptr), E_INVALIDARG);
    CDib colour;
    ASSERT_TRUE(colour.Create(4, 4, 32, 0, BI_RGB) && colour.AllocateBits());
    EXPECT_EQ(MedianFilter(out, colour, 3, nullptr), E_INVALIDARG);
    CDib noBits;
    ASSERT_TRUE(noBits.Create(4, 4, 8, 0, BI_RGB));
    EXPECT_EQ(MedianFilter(out, noBits, 3, nullptr), E_INVALIDARG);
    EXPECT_EQ(out, keep);
}

TEST(MedianFilter, AStopAbortsWithEmptyOutput) {
    DibPtr in = Grey(6, 10, std::vector<int>(60, 5));
    StopAfter third(2);
    DibPtr out(new CDib);
    EXPECT_EQ(MedianFilter(out, *in, 3, &third), E_ABORT);
    EXPECT_FALSE(out);
}

TEST(MedianFilter, MatchesSortingReferenceOnRandomImages) {
    const std::vector<std::pair<LONG, LONG>> sizes = {{1, 1},  {1, 7},   {7, 1}, {4, 3},
                                                      {3, 17}, {37, 29}, {70, 4}};
    std::mt19937 rng(2024);
    for (const auto& [w, h] : sizes) {
        // Full range, and few levels so that ties are everywhere.
        for (int levels : {256, 3}) {
            std::uniform_int_distribution<int> value(0, levels - 1);
            std::vector<int> values(static_cast<std::size_t>(w * h));
            for (int& v : values) {
                v = levels == 256 ? value(rng) : value(rng) * 100;
            }
            DibPtr in = Grey(w, h, values);
            for (int n : {1, 2, 3, 4, 5}) {
                DibPtr out;
                ASSERT_EQ(MedianFilter(out, *in, n, nullptr), S_OK);
                EXPECT_EQ(GreyPixels(*out), ReferenceMedian(*in, n))
                    << w << "x" << h << " n=" << n << " levels=" << levels;
            }
        }
    }
}

TEST(ShrinkForSideDetection, ShorterSideBecomes300) {
    const struct {
        LONG w, h, outW, outH;
    } cases[] = {{3508, 2480, 424, 300}, {150, 40, 1125, 300}, {301, 299, 302, 300}};
    for (const auto& c : cases) {
        DibPtr in = Grey(c.w, c.h, std::vector<int>(static_cast<std::size_t>(c.w * c.h), 90));
        DibPtr out;
        ASSERT_EQ(ShrinkForSideDetection(out, *in), S_OK);
        EXPECT_EQ(out->Width(), c.outW) << c.w << "x" << c.h;
        EXPECT_EQ(out->Height(), c.outH) << c.w << "x" << c.h;
        EXPECT_EQ(out->BitCount(), 8);
        EXPECT_EQ(out->Row(c.outH / 2)[c.outW / 2], 90);
    }
    CDib empty;
    DibPtr out;
    EXPECT_EQ(ShrinkForSideDetection(out, empty), E_INVALIDARG);
}

}  // namespace
