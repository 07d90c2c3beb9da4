#include "image/Rotate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

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

// The kernels this processor runs; each can be forced.
std::vector<RotateKernel> Kernels() {
    std::vector<RotateKernel> kernels;
    for (const RotateKernel k : {RotateKernel::Plain, RotateKernel::Sse2, RotateKernel::Avx2}) {
        ForceRotateKernel(k);
        if (ActiveRotateKernel() == k) {
            kernels.push_back(k);
        }
    }
    ForceRotateKernel(RotateKernel::Auto);
    return kernels;
}

struct ForcedKernel {
    explicit ForcedKernel(RotateKernel kernel) { ForceRotateKernel(kernel); }
    ~ForcedKernel() { ForceRotateKernel(RotateKernel::Auto); }
};

TEST(RotateImage, AngleZeroCopiesGreyTableAndMakes24BitsOpaque) {
    for (WORD bits : {8, 32}) {
        const DibPtr in = RandomImage(7, 5, bits, 11);
        DibPtr out;
        ASSERT_EQ(RotateImage(out, *in, 0.0, nullptr), S_OK);
        ASSERT_EQ(out->Size(), (SIZE{7, 5}));
        ASSERT_EQ(out->BitCount(), bits);
        for (LONG y = 0; y < 5; ++y) {
            EXPECT_EQ(std::memcmp(in->Row(y), out->Row(y), CDib::CalcStride(7, bits)), 0) << y;
        }
    }

    // An inverted grey table (index i shows 255 - i) is applied: grey ramp out.
    const DibPtr inverted = BlankImage(6, 4, 8);
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(255 - i);
        inverted->ColorTable()[i] = RGBQUAD{v, v, v, 0};
    }
    inverted->Row(1)[2] = 10;
    DibPtr out;
    ASSERT_EQ(RotateImage(out, *inverted, 0.0, nullptr), S_OK);
    EXPECT_TRUE(CDib::IsGreyPalette(out->Header()));
    EXPECT_EQ(out->Row(1)[2], 245);
    EXPECT_EQ(out->Row(0)[0], 255);

    const DibPtr rgb = RandomImage(5, 3, 24, 9);
    ASSERT_EQ(RotateImage(out, *rgb, 0.0, nullptr), S_OK);
    ASSERT_EQ(out->BitCount(), 32);
    for (LONG y = 0; y < 3; ++y) {
        for (LONG x = 0; x < 5; ++x) {
            EXPECT_EQ(std::memcmp(out->Row(y) + 4 * x, rgb->Row(y) + 3 * x, 3), 0);
            EXPECT_EQ(out->Row(y)[4 * x + 3], 255);
        }
    }
}

// Sizes with every remainder of the four- and eight-pixel batches and one-
// and two-pixel sides (no interior at all), angles of both signs up to a
// half turn. The plain kernel against the reference, every other kernel
// byte for byte against the plain one.
TEST(RotateImage, MatchesPlainBicubicAndKeepsUncoveredPixels) {
    const SIZE sizes[] = {{1, 1}, {2, 3}, {9, 7}, {38, 23}, {18, 90}, {67, 41}};
    const std::vector<RotateKernel> kernels = Kernels();
    unsigned seed = 100;
    for (WORD bits : {8, 32}) {
        for (const SIZE size : sizes) {
            for (double angle : {0.03, -0.4, 1.7, 3.0}) {
                const LONG w = size.cx, h = size.cy;
                const DibPtr in = RandomImage(w, h, bits, ++seed);
                DibPtr out;
                for (const RotateKernel kernel : kernels) {
                    const ForcedKernel forced(kernel);
                    DibPtr fast;
                    ASSERT_EQ(RotateImage(kernel == RotateKernel::Plain ? out : fast, *in, angle,
                                          nullptr),
                              S_OK);
                    EXPECT_TRUE(!fast || SameImage(*fast, *out))
                        << "kernel " << int(kernel) << ", " << bits << " bits, " << w << " x " << h;
                }
                const int bytes = bits / 8;
                for (LONG y = 0; y < h; ++y) {
                    for (LONG x = 0; x < w; ++x) {
                        double sx, sy;
                        InverseMap(*in, angle, x, y, sx, sy);
                        // Distance inside the covered area; too close to its
                        // border to tell (rounding) is skipped.
                        const double depth =
                            std::min({sx + 0.5, w - 0.5 - sx, sy + 0.5, h - 0.5 - sy});
                        const bool inside = depth > 1e-6, outside = depth < -1e-6;
                        for (int c = 0; c < bytes; ++c) {
                            const int got = out->Row(y)[x * bytes + c];
                            if (outside) {
                                ASSERT_EQ(got, in->Row(y)[x * bytes + c]) << x << "," << y;
                            } else if (inside) {
                                ASSERT_NEAR(got, Reference(*in, bytes, c, sx, sy), 2.0)
                                    << bits << " bits, " << w << " x " << h << ", angle " << angle
                                    << " at " << x << "," << y << " channel " << c;
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(RotateImage, RefusesWhatItCannotRotateAndLeavesOutputAlone) {
    const DibPtr keep = BlankImage(2, 2, 8);
    DibPtr out = keep;
    const DibPtr colour = BlankImage(4, 4, 8);
    colour->ColorTable()[7].rgbRed = 1;
    CDib empty;
    EXPECT_EQ(RotateImage(out, *BlankImage(4, 4, 16), 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, *colour, 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, empty, 0.1, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImage(out, *BlankImage(4, 4, 32), std::nan(""), nullptr), E_INVALIDARG);
    EXPECT_EQ(out, keep);
}

TEST(RotateImageRect, EqualsRotateThenCropThenDropAlpha) {
    std::mt19937 rng(2024);
    const SIZE sizes[] = {{1, 1}, {7, 5}, {37, 23}, {61, 44}};
    const double angles[] = {0.0, 0.157, -0.6, 2.5};
    for (const SIZE size : sizes) {
        const DibPtr in = RandomImage(size.cx, size.cy, 32, rng());
        // The whole picture, one rectangle touching each border, a corner
        // pixel, and random ones (odd widths give 24-bit rows with padding).
        std::vector<RECT> rects = {{0, 0, size.cx, size.cy},
                                   {0, 0, (size.cx + 1) / 2, size.cy},
                                   {size.cx / 2, 0, size.cx, (size.cy + 1) / 2},
                                   {0, size.cy / 2, size.cx, size.cy},
                                   {size.cx - 1, size.cy - 1, size.cx, size.cy}};
        for (int i = 0; i < 3; ++i) {
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
                for (const RotateKernel kernel : Kernels()) {
                    const ForcedKernel forced(kernel);
                    DibPtr out32, out24;
                    ASSERT_EQ(RotateImageRect(out32, *in, angle, r, 32, nullptr), S_OK);
                    ASSERT_EQ(RotateImageRect(out24, *in, angle, r, 24, nullptr), S_OK);
                    SCOPED_TRACE(testing::Message()
                                 << "kernel " << int(kernel) << ", " << size.cx << " x " << size.cy
                                 << ", angle " << angle << ", rect " << r.left << "," << r.top
                                 << "-" << r.right << "," << r.bottom);
                    EXPECT_TRUE(SameImage(*out32, *cut));
                    EXPECT_TRUE(SameImage(*out24, *opaque));
                }
            }
        }
    }
}

TEST(RotateImageRect, RefusesBadInputAndLeavesOutputAlone) {
    const DibPtr keep = BlankImage(2, 2, 32);
    DibPtr out = keep;
    const DibPtr in = RandomImage(10, 8, 32, 4);
    const RECT whole{0, 0, 10, 8};
    EXPECT_EQ(RotateImageRect(out, *BlankImage(10, 8, 8), 0.1, whole, 24, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImageRect(out, CDib(), 0.1, whole, 24, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImageRect(out, *in, std::nan(""), whole, 24, nullptr), E_INVALIDARG);
    for (WORD bits : {8, 0}) {
        EXPECT_EQ(RotateImageRect(out, *in, 0.1, whole, bits, nullptr), E_INVALIDARG);
    }
    for (const RECT r : {RECT{-1, 0, 5, 5}, RECT{0, -1, 5, 5}, RECT{5, 0, 11, 8}, RECT{0, 0, 10, 9},
                         RECT{3, 3, 3, 6}, RECT{6, 2, 4, 5}}) {
        EXPECT_EQ(RotateImageRect(out, *in, 0.1, r, 24, nullptr), E_INVALIDARG)
            << r.left << "," << r.top << "-" << r.right << "," << r.bottom;
    }
    EXPECT_EQ(out, keep);
}

TEST(RotateImage, StopRequestAbortsAndOutputMayReplaceItsInput) {
    const DibPtr in = RandomImage(30, 30, 32, 1);
    DibPtr out;
    StopAfter stop(10);
    EXPECT_EQ(RotateImage(out, *in, 0.1, &stop), E_ABORT);
    EXPECT_FALSE(out);
    DibPtr img = in;
    StopAfter rectStop(5);
    EXPECT_EQ(RotateImageRect(img, *img, 0.1, RECT{2, 2, 20, 20}, 24, &rectStop), E_ABORT);
    EXPECT_EQ(img, in);

    const RECT rect{2, 3, 9, 30};
    DibPtr expected;
    ASSERT_EQ(RotateImageRect(expected, *in, 0.1, rect, 24, nullptr), S_OK);
    ASSERT_EQ(RotateImageRect(img, *img, 0.1, rect, 24, nullptr), S_OK);
    EXPECT_TRUE(SameImage(*img, *expected));
    img = in;
    StopAfter never(1000);
    ASSERT_EQ(RotateImage(expected, *in, 0.1, nullptr), S_OK);
    ASSERT_EQ(RotateImage(img, *img, 0.1, &never), S_OK);
    EXPECT_TRUE(SameImage(*img, *expected));
}

}  // namespace
