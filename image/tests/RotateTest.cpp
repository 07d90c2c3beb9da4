#include "image/Rotate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

DibPtr Make(LONG w, LONG h, WORD bits) {
    DibPtr dib(new CDib);
    EXPECT_TRUE(dib->Create(w, h, bits, 0, BI_RGB));
    EXPECT_TRUE(dib->AllocateBits());
    dib->ClearBits();
    return dib;
}

DibPtr MakeRandom(LONG w, LONG h, WORD bits, unsigned seed) {
    DibPtr dib = Make(w, h, bits);
    std::mt19937 rng(seed);
    const int bytes = bits / 8;
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w * bytes; ++x) {
            dib->Row(y)[x] = static_cast<BYTE>(rng() & 255);
        }
    }
    return dib;
}

bool SameRow(const CDib& a, const CDib& b, LONG y) {
    return std::memcmp(a.Row(y), b.Row(y), CDib::CalcStride(a.Width(), a.BitCount())) == 0;
}

// Where the centre of output pixel (x, y) comes from, in pixel index units.
void InverseMap(const CDib& img, double angle, LONG x, LONG y, double& sx, double& sy) {
    const double cx = img.Width() / 2.0, cy = img.Height() / 2.0;
    const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
    sx = cx + dx * std::cos(angle) + dy * std::sin(angle) - 0.5;
    sy = cy - dx * std::sin(angle) + dy * std::cos(angle) - 0.5;
}

// Plain Catmull-Rom with border repetition, in doubles.
double Reference(const CDib& img, int bytes, int channel, double sx, double sy) {
    auto kernel = [](double d) {
        d = std::fabs(d);
        if (d < 1)
            return (1.5 * d - 2.5) * d * d + 1;
        if (d < 2)
            return ((-0.5 * d + 2.5) * d - 4) * d + 2;
        return 0.0;
    };
    const int ix = static_cast<int>(std::floor(sx)), iy = static_cast<int>(std::floor(sy));
    double sum = 0;
    for (int r = -1; r <= 2; ++r) {
        const int yy = std::clamp(iy + r, 0, static_cast<int>(img.Height()) - 1);
        for (int k = -1; k <= 2; ++k) {
            const int xx = std::clamp(ix + k, 0, static_cast<int>(img.Width()) - 1);
            sum +=
                kernel(sx - (ix + k)) * kernel(sy - (iy + r)) * img.Row(yy)[xx * bytes + channel];
        }
    }
    return std::clamp(sum, 0.0, 255.0);
}

// The rotation in plain fixed point, one pixel at a time with clamped taps:
// the arithmetic RotateImage promises (32.32 positions, 1/256 phases,
// 11-bit Catmull-Rom weights, column sums scaled down by 2^5 before the row
// pass), so that the vectorised paths can be checked to the last bit.
DibPtr ReferenceRotation(const CDib& img, double angle) {
    const int bytes = img.BitCount() / 8;
    const LONG w = img.Width(), h = img.Height();
    std::array<std::array<std::int32_t, 4>, 256> weights{};
    for (int p = 0; p < 256; ++p) {
        const double t = p / 256.0;
        int sum = 0;
        for (int k = 0; k < 4; ++k) {
            const double d = std::fabs(t - (k - 1));
            const double v = d < 1 ? (1.5 * d - 2.5) * d * d + 1
                                   : (d < 2 ? ((-0.5 * d + 2.5) * d - 4) * d + 2 : 0.0);
            weights[p][k] = static_cast<std::int32_t>(std::lround(v * 2048));
            sum += weights[p][k];
        }
        weights[p][t < 0.5 ? 1 : 2] += 2048 - sum;
    }
    const std::int64_t one = std::int64_t{1} << 32;
    const auto fixed = [one](double v) { return static_cast<std::int64_t>(std::llround(v * one)); };
    const double c = std::cos(angle), s = std::sin(angle), cx = w / 2.0, cy = h / 2.0;
    const double dx0 = 0.5 - cx;
    DibPtr out(new CDib);
    EXPECT_TRUE(out->Create(w, h, img.BitCount(), 0, BI_RGB) && out->AllocateBits());
    out->ClearBits();
    for (LONG y = 0; y < h; ++y) {
        const double dy = y + 0.5 - cy;
        const std::int64_t fx0 = fixed(cx + dx0 * c + dy * s - 0.5);
        const std::int64_t fy0 = fixed(cy - dx0 * s + dy * c - 0.5);
        for (LONG x = 0; x < w; ++x) {
            const std::int64_t fx = fx0 + x * fixed(c), fy = fy0 + x * fixed(-s);
            BYTE* dst = out->Row(y) + x * bytes;
            if (fx < -one / 2 || fx >= w * one - one / 2 || fy < -one / 2 ||
                fy >= h * one - one / 2) {
                std::memcpy(dst, img.Row(y) + x * bytes, bytes);
                continue;
            }
            const std::int64_t sx = fx + (one >> 9), sy = fy + (one >> 9);
            const auto& wx = weights[(sx >> 24) & 255];
            const auto& wy = weights[(sy >> 24) & 255];
            for (int ch = 0; ch < bytes; ++ch) {
                std::int32_t acc = 0;
                for (int k = 0; k < 4; ++k) {
                    const LONG col =
                        static_cast<LONG>(std::clamp<std::int64_t>((sx >> 32) - 1 + k, 0, w - 1));
                    std::int32_t v = 0;
                    for (int r = 0; r < 4; ++r) {
                        const LONG row = static_cast<LONG>(
                            std::clamp<std::int64_t>((sy >> 32) - 1 + r, 0, h - 1));
                        v += wy[r] * img.Row(row)[col * bytes + ch];
                    }
                    acc += wx[k] * (v >> 5);
                }
                dst[ch] = static_cast<BYTE>(std::clamp((acc + (1 << 16)) >> 17, 0, 255));
            }
        }
    }
    return out;
}

// Cuts `rect` out of a 32-bit image (rows counted from the top) into a new
// 32-bit image: the crop step of the trim pipeline.
DibPtr CutOut(const CDib& img, const RECT& rect) {
    DibPtr out(new CDib);
    const LONG w = rect.right - rect.left, h = rect.bottom - rect.top;
    EXPECT_TRUE(out->Create(w, h, 32, 0, BI_RGB) && out->AllocateBits());
    for (LONG y = 0; y < h; ++y) {
        std::memcpy(out->Row(y), img.Row(rect.top + y) + 4 * rect.left, 4 * std::size_t(w));
    }
    return out;
}

bool SameImage(const CDib& a, const CDib& b) {
    const std::size_t header = CDib::GetHeaderBlockSize(a.Header());
    return header == CDib::GetHeaderBlockSize(b.Header()) &&
           std::memcmp(a.Header(), b.Header(), header) == 0 &&
           a.GetImageSize() == b.GetImageSize() &&
           std::memcmp(a.Bits(), b.Bits(), a.GetImageSize()) == 0;
}

class StopAfter : public CTerminable {
  public:
    explicit StopAfter(int n) : m_left(n) {}
    bool IsTerminated() const override { return m_left-- <= 0; }

  private:
    mutable int m_left;
};

TEST(RotateImage, AngleZeroCopiesExactly) {
    for (WORD bits : {8, 32}) {
        const DibPtr in = MakeRandom(7, 5, bits, 11);
        DibPtr out;
        ASSERT_EQ(RotateImage(out, *in, 0.0, nullptr), S_OK);
        ASSERT_EQ(out->Width(), 7);
        ASSERT_EQ(out->Height(), 5);
        ASSERT_EQ(out->BitCount(), bits);
        for (LONG y = 0; y < 5; ++y) {
            EXPECT_TRUE(SameRow(*in, *out, y)) << bits << " bits, row " << y;
        }
    }
}

TEST(RotateImage, PositiveAngleTurnsClockwiseOnScreen) {
    // A bright 2 × 2 spot 10 pixels right of the centre of a 40 × 40 image.
    const DibPtr in = Make(40, 40, 8);
    for (LONG y = 19; y <= 20; ++y) {
        in->Row(y)[29] = in->Row(y)[30] = 255;
    }
    DibPtr out;
    ASSERT_EQ(RotateImage(out, *in, 0.2, nullptr), S_OK);
    // Spot centre (30, 20) goes to (20 + 10 cos 0.2, 20 + 10 sin 0.2) = (29.8, 22.0).
    LONG bestX = 0, bestY = 0;
    int sumBest = -1;
    for (LONG y = 1; y < 40; ++y) {
        for (LONG x = 1; x < 40; ++x) {
            const int s =
                out->Row(y)[x] + out->Row(y - 1)[x] + out->Row(y)[x - 1] + out->Row(y - 1)[x - 1];
            if (s > sumBest) {
                sumBest = s, bestX = x, bestY = y;
            }
        }
    }
    EXPECT_EQ(bestX, 30);
    EXPECT_EQ(bestY, 22);
    // And the other way round for a negative angle.
    ASSERT_EQ(RotateImage(out, *in, -0.2, nullptr), S_OK);
    EXPECT_GT(out->Row(17)[29] + out->Row(17)[30], 300);
    EXPECT_LT(out->Row(22)[29] + out->Row(22)[30], 50);
}

TEST(RotateImage, MatchesPlainBicubicAndKeepsUncoveredPixels) {
    for (WORD bits : {8, 32}) {
        for (double angle : {0.13, -0.4, 1.7}) {
            const DibPtr in = MakeRandom(37, 23, bits, 5);
            DibPtr out;
            ASSERT_EQ(RotateImage(out, *in, angle, nullptr), S_OK);
            const int bytes = bits / 8;
            int uncovered = 0;
            for (LONG y = 0; y < 23; ++y) {
                for (LONG x = 0; x < 37; ++x) {
                    double sx, sy;
                    InverseMap(*in, angle, x, y, sx, sy);
                    const double margin = 1e-6;
                    const bool inside = sx >= -0.5 + margin && sx < 36.5 - margin &&
                                        sy >= -0.5 + margin && sy < 22.5 - margin;
                    const bool outside = sx < -0.5 - margin || sx >= 36.5 + margin ||
                                         sy < -0.5 - margin || sy >= 22.5 + margin;
                    for (int c = 0; c < bytes; ++c) {
                        const int got = out->Row(y)[x * bytes + c];
                        if (outside) {
                            ASSERT_EQ(got, in->Row(y)[x * bytes + c]) << x << "," << y;
                        } else if (inside) {
                            ASSERT_NEAR(got, Reference(*in, bytes, c, sx, sy), 2.0)
                                << bits << " bits, angle " << angle << " at " << x << "," << y
                                << " channel " << c;
                        }
                    }
                    uncovered += outside;
                }
            }
            EXPECT_GT(uncovered, 4);
        }
    }
}

TEST(RotateImage, VectorPathsEqualThePlainFixedPointRotation) {
    // Sizes with every remainder of the four-pixel batches, one- and
    // two-pixel sides (no interior at all), angles of both signs up to a
    // half turn.
    const SIZE sizes[] = {{1, 1}, {2, 3}, {5, 7}, {37, 23}, {64, 48}, {131, 17}, {18, 90}};
    unsigned seed = 100;
    for (WORD bits : {8, 32}) {
        for (const SIZE size : sizes) {
            for (double angle : {0.03, -0.157, 0.5, -1.2, 3.0}) {
                const DibPtr in = MakeRandom(size.cx, size.cy, bits, ++seed);
                DibPtr out;
                ASSERT_EQ(RotateImage(out, *in, angle, nullptr), S_OK);
                const DibPtr expected = ReferenceRotation(*in, angle);
                for (LONG y = 0; y < size.cy; ++y) {
                    ASSERT_TRUE(SameRow(*out, *expected, y))
                        << bits << " bits, " << size.cx << " x " << size.cy << ", angle " << angle
                        << ", row " << y;
                }
            }
        }
    }
}

TEST(RotateImage, CornerWedgesShowTheInputOnAPage) {
    const DibPtr in = MakeRandom(200, 300, 32, 3);
    DibPtr out;
    ASSERT_EQ(RotateImage(out, *in, 0.05, nullptr), S_OK);
    // Top left corner is uncovered, the middle is interpolated.
    EXPECT_EQ(std::memcmp(out->Row(0), in->Row(0), 4 * 5), 0);
    EXPECT_EQ(std::memcmp(out->Row(299) + 4 * 195, in->Row(299) + 4 * 195, 4 * 5), 0);
    EXPECT_NE(std::memcmp(out->Row(150) + 400, in->Row(150) + 400, 40), 0);
}

TEST(RotateImage, ForthAndBackRestoresASmoothPicture) {
    const LONG w = 120, h = 90;
    const DibPtr in = Make(w, h, 32);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w; ++x) {
            BYTE* p = in->Row(y) + 4 * x;
            p[0] = static_cast<BYTE>(128 + 100 * std::sin(x * 0.15) * std::cos(y * 0.11));
            p[1] = static_cast<BYTE>(x * 2);
            p[2] = static_cast<BYTE>(y * 2);
            p[3] = 255;
        }
    }
    DibPtr there, back;
    ASSERT_EQ(RotateImage(there, *in, 0.03, nullptr), S_OK);
    ASSERT_EQ(RotateImage(back, *there, -0.03, nullptr), S_OK);
    int worst = 0;
    for (LONG y = 20; y < h - 20; ++y) {
        for (LONG x = 20; x < w - 20; ++x) {
            for (int c = 0; c < 4; ++c) {
                worst = std::max(worst, std::abs(back->Row(y)[4 * x + c] - in->Row(y)[4 * x + c]));
            }
        }
    }
    EXPECT_LE(worst, 2);
}

TEST(RotateImage, GreyStaysGreyWithRampAndTableApplied) {
    // An inverted grey table: index i shows grey 255 - i.
    const DibPtr in = Make(6, 4, 8);
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(255 - i);
        in->ColorTable()[i] = RGBQUAD{v, v, v, 0};
    }
    in->Row(1)[2] = 10;
    DibPtr out;
    ASSERT_EQ(RotateImage(out, *in, 0.0, nullptr), S_OK);
    ASSERT_EQ(out->BitCount(), 8);
    EXPECT_TRUE(CDib::IsGreyPalette(out->Header()));
    EXPECT_EQ(out->ColorTable()[200].rgbGreen, 200);
    EXPECT_EQ(out->Row(1)[2], 245);
    EXPECT_EQ(out->Row(0)[0], 255);
}

TEST(RotateImage, TwentyFourBitsBecomeOpaqueThirtyTwo) {
    const DibPtr in = MakeRandom(5, 3, 24, 9);
    DibPtr out;
    ASSERT_EQ(RotateImage(out, *in, 0.0, nullptr), S_OK);
    ASSERT_EQ(out->BitCount(), 32);
    for (LONG y = 0; y < 3; ++y) {
        for (LONG x = 0; x < 5; ++x) {
            EXPECT_EQ(std::memcmp(out->Row(y) + 4 * x, in->Row(y) + 3 * x, 3), 0);
            EXPECT_EQ(out->Row(y)[4 * x + 3], 255);
        }
    }
}

TEST(RotateImage, RefusesWhatItCannotRotateAndLeavesOutputAlone) {
    const DibPtr keep = Make(2, 2, 8);
    DibPtr out = keep;
    const DibPtr colour = Make(4, 4, 8);
    colour->ColorTable()[7].rgbRed = 1;
    CDib empty;
    EXPECT_EQ(RotateImage(out, *Make(4, 4, 16), 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, *colour, 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, empty, 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, *Make(0, 4, 32), 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, *Make(4, 4, 32), std::nan(""), nullptr), E_INVALIDARG);
    EXPECT_EQ(out, keep);
}

TEST(RotateImage, StopRequestAbortsWithOutputUntouched) {
    const DibPtr in = MakeRandom(30, 30, 32, 1);
    DibPtr out;
    StopAfter stop(10);
    EXPECT_EQ(RotateImage(out, *in, 0.1, &stop), E_ABORT);
    EXPECT_FALSE(out);
    StopAfter never(1000);
    EXPECT_EQ(RotateImage(out, *in, 0.1, &never), S_OK);
    EXPECT_TRUE(out);
}

TEST(RotateImage, OutputMayReplaceItsInput) {
    DibPtr img = MakeRandom(9, 9, 8, 2);
    const DibPtr copy = img;
    ASSERT_EQ(RotateImage(img, *img, 0.0, nullptr), S_OK);
    EXPECT_NE(img, copy);
    for (LONG y = 0; y < 9; ++y) {
        EXPECT_TRUE(SameRow(*img, *copy, y));
    }
}

TEST(RotateImageRect, EqualsRotateThenCropThenDropAlpha) {
    std::mt19937 rng(2024);
    const SIZE sizes[] = {{1, 1}, {7, 5}, {37, 23}, {61, 44}};
    const double angles[] = {0.0, 0.157, -0.157, 0.03, -0.6, 2.5};
    for (const SIZE size : sizes) {
        const DibPtr in = MakeRandom(size.cx, size.cy, 32, rng());
        // The whole picture, one rectangle touching each border, a corner
        // pixel, and random ones (odd widths give 24-bit rows with padding).
        std::vector<RECT> rects = {{0, 0, size.cx, size.cy},
                                   {0, 0, (size.cx + 1) / 2, size.cy},
                                   {size.cx / 2, 0, size.cx, (size.cy + 1) / 2},
                                   {0, size.cy / 2, size.cx, size.cy},
                                   {size.cx - 1, size.cy - 1, size.cx, size.cy}};
        for (int i = 0; i < 6; ++i) {
            const LONG l = rng() % size.cx, t = rng() % size.cy;
            rects.push_back(RECT{l, t, l + 1 + LONG(rng() % (size.cx - l)),
                                 t + 1 + LONG(rng() % (size.cy - t))});
        }
        for (const double angle : angles) {
            DibPtr rotated;
            ASSERT_EQ(RotateImage(rotated, *in, angle, nullptr), S_OK);
            for (const RECT& r : rects) {
                const DibPtr cut = CutOut(*rotated, r);
                DibPtr opaque;
                ASSERT_EQ(RemoveAlpha(opaque, *cut), S_OK);
                DibPtr out32, out24;
                ASSERT_EQ(RotateImageRect(out32, *in, angle, r, 32, nullptr), S_OK);
                ASSERT_EQ(RotateImageRect(out24, *in, angle, r, 24, nullptr), S_OK);
                EXPECT_TRUE(SameImage(*out32, *cut))
                    << size.cx << " x " << size.cy << ", angle " << angle << ", rect " << r.left
                    << "," << r.top << "-" << r.right << "," << r.bottom;
                EXPECT_TRUE(SameImage(*out24, *opaque))
                    << size.cx << " x " << size.cy << ", angle " << angle << ", rect " << r.left
                    << "," << r.top << "-" << r.right << "," << r.bottom;
            }
        }
    }
}

TEST(RotateImageRect, RefusesBadInputAndLeavesOutputAlone) {
    const DibPtr keep = Make(2, 2, 32);
    DibPtr out = keep;
    const DibPtr in = MakeRandom(10, 8, 32, 4);
    const RECT whole{0, 0, 10, 8};
    EXPECT_EQ(RotateImageRect(out, *Make(10, 8, 8), 0.1, whole, 24, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImageRect(out, *Make(10, 8, 24), 0.1, whole, 24, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImageRect(out, CDib(), 0.1, whole, 24, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImageRect(out, *in, std::nan(""), whole, 24, nullptr), E_INVALIDARG);
    for (WORD bits : {8, 16, 0}) {
        EXPECT_EQ(RotateImageRect(out, *in, 0.1, whole, bits, nullptr), E_INVALIDARG);
    }
    for (const RECT r : {RECT{-1, 0, 5, 5}, RECT{0, -1, 5, 5}, RECT{5, 0, 11, 8}, RECT{0, 0, 10, 9},
                         RECT{3, 3, 3, 6}, RECT{3, 6, 5, 6}, RECT{6, 2, 4, 5}}) {
        EXPECT_EQ(RotateImageRect(out, *in, 0.1, r, 24, nullptr), E_INVALIDARG)
            << r.left << "," << r.top << "-" << r.right << "," << r.bottom;
    }
    EXPECT_EQ(out, keep);
}

TEST(RotateImageRect, StopRequestAbortsAndOutputMayReplaceItsInput) {
    DibPtr img = MakeRandom(30, 30, 32, 8);
    const DibPtr copy = img;
    StopAfter stop(5);
    EXPECT_EQ(RotateImageRect(img, *img, 0.1, RECT{2, 2, 20, 20}, 24, &stop), E_ABORT);
    EXPECT_EQ(img, copy);
    ASSERT_EQ(RotateImageRect(img, *img, 0.0, RECT{2, 3, 9, 30}, 24, nullptr), S_OK);
    ASSERT_EQ(img->BitCount(), 24);
    ASSERT_EQ(img->Size(), (SIZE{7, 27}));
    for (LONG y = 0; y < 27; ++y) {
        for (LONG x = 0; x < 7; ++x) {
            EXPECT_EQ(std::memcmp(img->Row(y) + 3 * x, copy->Row(y + 3) + 4 * (x + 2), 3), 0);
        }
    }
}

}  // namespace
