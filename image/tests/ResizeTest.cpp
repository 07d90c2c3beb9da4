#include "image/Resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

std::vector<int> Bytes(const CDib& dib) {
    std::vector<int> v;
    const LONG rowBytes = dib.Width() * dib.BitCount() / 8;
    for (LONG y = 0; y < dib.Height(); ++y) {
        v.insert(v.end(), dib.Row(y), dib.Row(y) + rowBytes);
    }
    return v;
}

std::vector<int> RandomLevels(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int> v(count);
    for (int& p : v) {
        p = static_cast<int>(rng() & 255);
    }
    return v;
}

DibPtr Resized(const CDib& src, LONG w, LONG h) {
    DibPtr out;
    EXPECT_EQ(Resize(out, RECT{0, 0, w, h}, src, RECT{0, 0, src.Width(), src.Height()}), S_OK);
    return out;
}

TEST(Resize, GreySourceGivesGreyRampAndOthersGive32Bits) {
    DibPtr grey = PaintedImage(248, 350, 8, [](LONG x, LONG y) { return (x + y) & 255; });
    grey->Header()->biXPelsPerMeter = 11811;
    DibPtr g = Resized(*grey, 30, 42);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->BitCount(), 8);
    EXPECT_EQ(g->Size(), (SIZE{30, 42}));
    EXPECT_EQ(g->Header()->biXPelsPerMeter, 0);
    EXPECT_TRUE(CDib::IsGreyPalette(g->Header()));

    DibPtr rgb = BlankImage(5, 4, 24);
    std::memset(rgb->Bits(), 0x40, rgb->GetImageSize());
    DibPtr r = Resized(*rgb, 2, 1);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->BitCount(), 32);
    EXPECT_EQ(Bytes(*r), (std::vector<int>{64, 64, 64, 255, 64, 64, 64, 255}));

    DibPtr palette = BlankImage(2, 2, 8);
    palette->ColorTable()[3] = RGBQUAD{10, 20, 30, 0};
    std::memset(palette->Bits(), 3, palette->GetImageSize());
    DibPtr p = Resized(*palette, 1, 1);
    ASSERT_TRUE(p);
    EXPECT_EQ(Bytes(*p), (std::vector<int>{10, 20, 30, 255}));
}

TEST(Resize, HalvingAveragesEachTwoByTwoBlock) {
    const std::vector<int> v = RandomLevels(16 * 12, 7);
    const auto at = [&](LONG x, LONG y) { return v[static_cast<std::size_t>(y * 16 + x)]; };
    DibPtr grey = PaintedImage(16, 12, 8, at);
    DibPtr colour = PaintedImage(16, 12, 32, [&](LONG x, LONG y) {
        return static_cast<unsigned>(at(x, y)) * 0x01010101u ^ 0x00FF0000u;
    });
    DibPtr g = Resized(*grey, 8, 6);
    DibPtr c = Resized(*colour, 8, 6);
    ASSERT_TRUE(g && c);
    for (LONG y = 0; y < 6; ++y) {
        for (LONG x = 0; x < 8; ++x) {
            const int a = at(2 * x, 2 * y), b = at(2 * x + 1, 2 * y);
            const int d = at(2 * x, 2 * y + 1), e = at(2 * x + 1, 2 * y + 1);
            EXPECT_EQ(g->Row(y)[x], (a + b + d + e + 2) / 4) << x << "," << y;
            // Red is the inverted value: its mean rounds the other way on ties.
            EXPECT_EQ(c->Row(y)[4 * x + 2], (4 * 255 - (a + b + d + e) + 2) / 4);
            EXPECT_EQ(c->Row(y)[4 * x + 3], (a + b + d + e + 2) / 4);
        }
    }
}

TEST(Resize, ShrunkCheckerboardIsMidGreyEverywhere) {
    // Any box of side s over a one-pixel checkerboard averages 127.5 within
    // 127.5 / s²: for 1000 → 121 (s ≈ 8.26) within 2 grey levels. Point
    // sampling would give 0 or 255.
    DibPtr board = PaintedImage(1000, 1000, 8, [](LONG x, LONG y) { return ((x + y) & 1) * 255; });
    DibPtr g = Resized(*board, 121, 121);
    ASSERT_TRUE(g);
    for (int p : Bytes(*g)) {
        ASSERT_GE(p, 125);
        ASSERT_LE(p, 130);
    }
}

// A source rectangle acts as a crop, and grey results are the green channel
// of the colour result, at shrinking, enlarging and equal sizes.
TEST(Resize, SourceRectangleIsACropAndGreyMatchesColour) {
    const std::vector<int> v = RandomLevels(53 * 37, 3);
    const auto at = [&](LONG x, LONG y) { return v[static_cast<std::size_t>(y * 53 + x)]; };
    DibPtr grey = PaintedImage(53, 37, 8, at);
    DibPtr colour =
        PaintedImage(53, 37, 32, [&](LONG x, LONG y) { return at(x, y) * 0x01010101u; });
    const RECT src{5, 7, 33, 26};
    DibPtr crop =
        PaintedImage(28, 19, 32, [&](LONG x, LONG y) { return at(x + 5, y + 7) * 0x01010101u; });
    for (const RECT dst : {RECT{0, 0, 11, 9}, RECT{0, 0, 60, 41}, RECT{0, 0, 28, 19}}) {
        DibPtr a, b, g;
        ASSERT_EQ(Resize(a, dst, *colour, src), S_OK);
        ASSERT_EQ(Resize(b, dst, *crop, RECT{0, 0, 28, 19}), S_OK);
        EXPECT_EQ(Bytes(*a), Bytes(*b)) << dst.right;
        ASSERT_EQ(Resize(g, dst, *grey, src), S_OK);
        const std::vector<int> colour = Bytes(*a);
        std::vector<int> green;
        for (std::size_t i = 1; i < colour.size(); i += 4) {
            green.push_back(colour[i]);
        }
        EXPECT_EQ(Bytes(*g), green) << dst.right;
    }
    // At the same size the crop is copied unchanged.
    DibPtr same;
    ASSERT_EQ(Resize(same, RECT{0, 0, 28, 19}, *colour, src), S_OK);
    EXPECT_EQ(Bytes(*same), Bytes(*crop));
}

TEST(Resize, EnlargingFollowsPixelCentres) {
    // A linear ramp stays linear: output x samples source x (x + 0.5) / 2 − 0.5.
    DibPtr ramp = PaintedImage(26, 3, 8, [](LONG x, LONG) { return 10 * x; });
    DibPtr g = Resized(*ramp, 52, 6);
    ASSERT_TRUE(g);
    for (LONG x = 4; x < 48; ++x) {
        const double expected = 10.0 * ((x + 0.5) / 2.0 - 0.5);
        EXPECT_NEAR(g->Row(2)[x], expected, 0.5) << x;
    }
    // Edge samples repeat; overshoot next to a step is clamped.
    DibPtr step = PaintedImage(4, 1, 8, [](LONG x, LONG) { return x < 2 ? 0 : 255; });
    DibPtr s = Resized(*step, 16, 1);
    ASSERT_TRUE(s);
    const std::vector<int> bytes = Bytes(*s);
    EXPECT_EQ(bytes.front(), 0);
    EXPECT_EQ(bytes.back(), 255);
    EXPECT_TRUE(std::is_sorted(bytes.begin(), bytes.end()));
}

TEST(Resize, ColourTablesAreLookedUp) {
    // An inverted grey table is still grey: the result holds the table's values.
    DibPtr inverted = BlankImage(6, 4, 8);
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(255 - i);
        inverted->ColorTable()[i] = RGBQUAD{v, v, v, 255};
    }
    std::memset(inverted->Bits(), 10, inverted->GetImageSize());
    DibPtr g = Resized(*inverted, 3, 2);
    EXPECT_EQ(Bytes(*g), std::vector<int>(6, 245));

    // One bit per pixel, most significant bit first.
    DibPtr mono = BlankImage(10, 1, 1);
    mono->ColorTable()[1] = RGBQUAD{255, 255, 255, 0};
    mono->Row(0)[0] = 0xA5;  // 1010 0101
    mono->Row(0)[1] = 0x80;  // 10
    DibPtr m = Resized(*mono, 10, 1);
    ASSERT_TRUE(m);
    EXPECT_EQ(Bytes(*m), (std::vector<int>{255, 0, 255, 0, 0, 255, 0, 255, 255, 0}));
}

TEST(Resize, DestinationOffsetClipsAndLeavesTheRestBlack) {
    DibPtr grey = PaintedImage(10, 10, 8, [](LONG, LONG) { return 200; });
    DibPtr out;
    ASSERT_EQ(Resize(out, RECT{3, 2, 13, 12}, *grey, RECT{0, 0, 10, 10}), S_OK);
    ASSERT_EQ(out->Width(), 10);
    for (LONG y = 0; y < 10; ++y) {
        for (LONG x = 0; x < 10; ++x) {
            EXPECT_EQ(out->Row(y)[x], x >= 3 && y >= 2 ? 200 : 0) << x << "," << y;
        }
    }
}

TEST(Resize, ReportsBadInputAndLeavesOutputAlone) {
    DibPtr grey = BlankImage(8, 8, 8);
    DibPtr keep(new CDib);
    DibPtr out = keep;
    const RECT all{0, 0, 8, 8};
    EXPECT_EQ(Resize(out, all, CDib{}, all), E_INVALIDARG);
    EXPECT_EQ(Resize(out, RECT{0, 0, 0, 5}, *grey, all), E_INVALIDARG);
    EXPECT_EQ(Resize(out, all, *grey, RECT{4, 0, 2, 8}), E_INVALIDARG);
    EXPECT_EQ(Resize(out, all, *grey, RECT{0, 0, 9, 8}), E_INVALIDARG);
    EXPECT_EQ(Resize(out, all, *BlankImage(8, 8, 16), all), E_NOTIMPL);
    DibPtr colour = BlankImage(8, 8, 32);
    EXPECT_EQ(Resize(out, RECT{0, 0, 0x7FFFFFFF, 0x7FFFFFFF}, *colour, all),
              HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(out, keep);

    // Resizing the image the output pointer holds.
    DibPtr self = PaintedImage(4, 4, 8, [](LONG, LONG) { return 50; });
    ASSERT_EQ(Resize(self, RECT{0, 0, 2, 2}, *self, RECT{0, 0, 4, 4}), S_OK);
    EXPECT_EQ(Bytes(*self), std::vector<int>(4, 50));
}

}  // namespace
