#include "image/Rotate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <span>
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

// The plane of sample c: blue, green, red, alpha are planes 0 to 3, grey
// and alpha planes 0 and 3.
int PlaneOf(const PixelKindInfo& info, int c) {
    return !info.colour && c == 1 ? 3 : c;
}

// An image of `kind` whose samples are its planes' grey levels (times 257
// for 16-bit samples).
DibPtr FromPlanes(PixelKind kind, const std::vector<DibPtr>& planes,
                  std::span<const BYTE> profile) {
    const PixelKindInfo& info = InfoOf(kind);
    const LONG w = planes[0]->Width(), h = planes[0]->Height();
    const DibPtr dib = NewDib(w, h, kind, profile);
    for (LONG y = 0; y < h; ++y) {
        for (LONG x = 0; x < w; ++x) {
            for (int c = 0; c < info.channels; ++c) {
                const BYTE v = planes[PlaneOf(info, c)]->Row(y)[x];
                if (info.sampleBits == 8) {
                    dib->Row(y)[info.channels * x + c] = v;
                } else {
                    const std::uint16_t wide = static_cast<std::uint16_t>(v * 257);
                    std::memcpy(dib->Row(y) + 2 * (info.channels * x + c), &wide, 2);
                }
            }
        }
    }
    ClearRowPadding(*dib);
    return dib;
}

int SampleAt(const CDib& dib, PixelKind kind, LONG x, LONG y, int c) {
    const PixelKindInfo& info = InfoOf(kind);
    if (info.sampleBits == 8) {
        return dib.Row(y)[info.channels * x + c];
    }
    std::uint16_t v;
    std::memcpy(&v, dib.Row(y) + 2 * (info.channels * x + c), 2);
    return v;
}

// Every kind but Bitonal, cut from the rotated picture, equals each of its
// sample planes rotated on its own as 8-bit grey (RotateImage, whose plain
// kernel the reference above checks) and cut: 8-bit samples exactly, with
// every kernel; 16-bit ones (planes times 257) to within the 8-bit
// result's rounding. Without alpha the alpha plane is left out. The output
// keeps the profile and has zero row padding.
TEST(RotateImageRect, EveryKindEqualsItsPlanesRotatedAndCut) {
    std::mt19937 rng(2024);
    const SIZE sizes[] = {{1, 1}, {7, 5}, {37, 23}, {61, 44}};
    const double angles[] = {0.0, 0.157, -0.6, 2.5};
    const std::vector<BYTE> profile(150, 7);
    for (const SIZE size : sizes) {
        std::vector<DibPtr> planes;
        for (int c = 0; c < 4; ++c) {
            planes.push_back(RandomImage(size.cx, size.cy, 8, rng()));
        }
        // The whole picture, one rectangle touching each border, a corner
        // pixel, and random ones (odd widths give rows with padding).
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
            std::vector<DibPtr> rotated(4);
            for (int c = 0; c < 4; ++c) {
                ASSERT_EQ(RotateImage(rotated[c], *planes[c], angle, nullptr), S_OK);
            }
            for (int k = 1; k <= static_cast<int>(PixelKind::Bgra64); ++k) {
                const auto kind = static_cast<PixelKind>(k);
                const DibPtr in = FromPlanes(kind, planes, profile);
                for (const RotateKernel kernel : Kernels()) {
                    const ForcedKernel forced(kernel);
                    for (const RECT& r : rects) {
                        for (const bool keepAlpha : {true, false}) {
                            SCOPED_TRACE(testing::Message()
                                         << "kind " << k << ", kernel " << int(kernel) << ", "
                                         << size.cx << " x " << size.cy << ", angle " << angle
                                         << ", rect " << r.left << "," << r.top << "-" << r.right
                                         << "," << r.bottom << (keepAlpha ? "" : ", no alpha"));
                            DibPtr out;
                            ASSERT_EQ(RotateImageRect(out, *in, angle, r, keepAlpha, nullptr),
                                      S_OK);
                            const PixelKind outKind = keepAlpha ? kind : WithoutAlpha(kind);
                            ASSERT_EQ(KindOf(*out), outKind);
                            ASSERT_EQ(out->Size(), (SIZE{r.right - r.left, r.bottom - r.top}));
                            ASSERT_TRUE(std::equal(profile.begin(), profile.end(),
                                                   out->Profile().begin(), out->Profile().end()));
                            const DibPtr padded =
                                NewDib(out->Width(), out->Height(), outKind, profile);
                            std::memcpy(padded->Bits(), out->Bits(), out->GetImageSize());
                            ClearRowPadding(*padded);
                            ASSERT_TRUE(SameImage(*padded, *out)) << "row padding";
                            const PixelKindInfo& info = InfoOf(outKind);
                            const bool wide = info.sampleBits == 16;
                            for (LONG y = 0; y < out->Height(); ++y) {
                                for (LONG x = 0; x < out->Width(); ++x) {
                                    for (int c = 0; c < info.channels; ++c) {
                                        const int want =
                                            rotated[PlaneOf(info, c)]->Row(r.top + y)[r.left + x];
                                        const int got = SampleAt(*out, outKind, x, y, c);
                                        if (wide) {
                                            ASSERT_LE(std::abs(got - 257 * want), 134)
                                                << x << "," << y << " sample " << c;
                                        } else {
                                            ASSERT_EQ(got, want)
                                                << x << "," << y << " sample " << c;
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}

// A bitonal page at angle 0 keeps its exact bits, from any bit offset; at
// other angles each pixel is its 0/255 grey rotation thresholded at
// kBitonalThreshold.
TEST(RotateImageRect, BitonalKeepsItsBitsOrIsThresholded) {
    const DibPtr in = RandomKindImage(45, 19, PixelKind::Bitonal, 5);
    const DibPtr grey = NewDib(45, 19, PixelKind::Grey8);
    for (LONG y = 0; y < 19; ++y) {
        ASSERT_TRUE(ConvertRow(PixelKind::Bitonal, in->Row(y), PixelKind::Grey8, grey->Row(y), 45));
    }
    const auto bit = [](const CDib& dib, LONG x, LONG y) {
        return (dib.Row(y)[x / 8] >> (7 - x % 8)) & 1;
    };
    for (const double angle : {0.0, 0.05, -0.3}) {
        DibPtr rotated;
        ASSERT_EQ(RotateImage(rotated, *grey, angle, nullptr), S_OK);
        for (LONG left = 0; left <= 9; ++left) {
            const RECT r{left, 2, 45 - left / 2, 19};
            DibPtr out;
            ASSERT_EQ(RotateImageRect(out, *in, angle, r, true, nullptr), S_OK);
            ASSERT_EQ(KindOf(*out), PixelKind::Bitonal);
            for (LONG y = 0; y < out->Height(); ++y) {
                for (LONG x = 0; x < out->Width(); ++x) {
                    const int want = angle == 0.0
                                         ? bit(*in, r.left + x, r.top + y)
                                         : rotated->Row(r.top + y)[r.left + x] >= kBitonalThreshold;
                    ASSERT_EQ(bit(*out, x, y), want) << angle << " at " << x << "," << y;
                }
                const std::size_t used = (out->Width() + 7) / 8;
                for (std::size_t i = used * 8; i < out->Stride() * 8; ++i) {
                    ASSERT_EQ(bit(*out, static_cast<LONG>(i), y), 0) << "padding";
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
    const DibPtr colour = BlankImage(10, 8, 8);
    colour->ColorTable()[7].rgbRed = 1;
    for (const DibPtr& noKind : {colour, BlankImage(10, 8, 16), BlankImage(10, 8, 4)}) {
        EXPECT_EQ(RotateImageRect(out, *noKind, 0.1, whole, false, nullptr), E_INVALIDARG);
    }
    EXPECT_EQ(RotateImageRect(out, CDib(), 0.1, whole, false, nullptr), E_INVALIDARG);
    EXPECT_EQ(RotateImageRect(out, *in, std::nan(""), whole, false, nullptr), E_INVALIDARG);
    for (const RECT r : {RECT{-1, 0, 5, 5}, RECT{0, -1, 5, 5}, RECT{5, 0, 11, 8}, RECT{0, 0, 10, 9},
                         RECT{3, 3, 3, 6}, RECT{6, 2, 4, 5}}) {
        EXPECT_EQ(RotateImageRect(out, *in, 0.1, r, false, nullptr), E_INVALIDARG)
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
    EXPECT_EQ(RotateImageRect(img, *img, 0.1, RECT{2, 2, 20, 20}, false, &rectStop), E_ABORT);
    EXPECT_EQ(img, in);

    const RECT rect{2, 3, 9, 30};
    DibPtr expected;
    ASSERT_EQ(RotateImageRect(expected, *in, 0.1, rect, false, nullptr), S_OK);
    ASSERT_EQ(RotateImageRect(img, *img, 0.1, rect, false, nullptr), S_OK);
    EXPECT_TRUE(SameImage(*img, *expected));
    img = in;
    StopAfter never(1000);
    ASSERT_EQ(RotateImage(expected, *in, 0.1, nullptr), S_OK);
    ASSERT_EQ(RotateImage(img, *img, 0.1, &never), S_OK);
    EXPECT_TRUE(SameImage(*img, *expected));
}

}  // namespace
