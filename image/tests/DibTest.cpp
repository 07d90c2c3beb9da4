#include "image/Dib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

TEST(DibCreate, TableSizesFollowDepthAndCompression) {
    DibPtr grey = BlankImage(5, 3, 8);
    EXPECT_EQ(grey->ColorTable()[128].rgbReserved, 255);
    EXPECT_EQ(CDib::GetHeaderBlockSize(grey->Header()), 40u + 1024u);
    EXPECT_TRUE(CDib::IsGreyPalette(grey->Header()));

    CDib rgb24, mono, pal16, fields;
    ASSERT_TRUE(rgb24.Create(3, 3, 24, 0, BI_RGB));
    ASSERT_TRUE(mono.Create(3, 3, 1, 0, BI_RGB));
    ASSERT_TRUE(pal16.Create(3, 3, 8, 16, BI_RGB));
    ASSERT_TRUE(fields.Create(3, 2, 16, 0, BI_BITFIELDS));
    EXPECT_EQ(CDib::ColorTableEntries(rgb24.Header()), 0u);
    EXPECT_FALSE(CDib::IsGreyPalette(rgb24.Header()));
    EXPECT_EQ(CDib::ColorTableEntries(mono.Header()), 2u);
    EXPECT_EQ(mono.ColorTable()[1].rgbRed, 0);  // the ramp is for 256 entries only
    EXPECT_EQ(CDib::ColorTableEntries(pal16.Header()), 16u);
    EXPECT_EQ(CDib::ColorTableEntries(fields.Header()), 3u);
    EXPECT_EQ(fields.GetImageSize(), 16u);

    grey->ColorTable()[3] = RGBQUAD{1, 2, 3, 4};
    CDib copy;
    ASSERT_TRUE(copy.CreateLike(grey->Header()));
    EXPECT_EQ(copy.ColorTable()[3].rgbGreen, 2);
    EXPECT_FALSE(CDib::IsGreyPalette(copy.Header()));
}

TEST(DibCreate, StrideRoundsUpToFourBytes) {
    EXPECT_EQ(CDib::CalcStride(3, 24), 12u);
    EXPECT_EQ(CDib::CalcStride(33, 1), 8u);
    EXPECT_EQ(CDib::CalcStride(0, 32), 0u);
    EXPECT_EQ(BlankImage(5, 7, 8)->GetImageSize(), 56u);
}

TEST(DibCreate, VersionFiveHeaderCarriesProfile) {
    CDib src;
    ASSERT_TRUE(src.CreateHeader(sizeof(BITMAPV5HEADER), 4, 2, 32, 0, BI_RGB, 6));
    auto* v5 = reinterpret_cast<BITMAPV5HEADER*>(src.Header());
    EXPECT_EQ(v5->bV5CSType, PROFILE_EMBEDDED);
    EXPECT_EQ(v5->bV5ProfileData, 124u);
    EXPECT_EQ(v5->bV5ProfileSize, 6u);
    std::memcpy(reinterpret_cast<BYTE*>(v5) + 124, "abcdef", 6);
    EXPECT_EQ(CDib::GetHeaderBlockSize(src.Header()), 130u);

    CDib like, rgb;
    ASSERT_TRUE(like.CreateLike(src.Header()));
    EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(like.Header()) + 124, "abcdef", 6), 0);
    ASSERT_TRUE(rgb.CreateRgb24Like(SIZE{7, 9}, src.Header()));
    EXPECT_EQ(rgb.BitCount(), 24);
    EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(rgb.Header()) + 124, "abcdef", 6), 0);

    CDib plain;
    ASSERT_TRUE(plain.CreateHeader(sizeof(BITMAPV5HEADER), 1, 1, 32, 0, BI_RGB, 0));
    EXPECT_EQ(reinterpret_cast<BITMAPV5HEADER*>(plain.Header())->bV5CSType, LCS_sRGB);
}

TEST(DibCreate, ImpossibleSizesFailWithoutCrashing) {
    CDib huge;
    ASSERT_TRUE(huge.Create(0x7FFFFFFF, 0x7FFFFFFF, 32, 0, BI_RGB));
    EXPECT_FALSE(huge.AllocateBits());
    EXPECT_EQ(huge.Bits(), nullptr);
    CDib none;
    EXPECT_FALSE(none.AllocateBits());
    EXPECT_EQ(none.GetImageSize(), 0u);
}

TEST(DibRows, RowZeroIsTheTopRowStoredLast) {
    DibPtr dib = BlankImage(2, 3, 8);
    dib->ClearBits();
    dib->Row(0)[0] = 7;
    EXPECT_EQ(dib->Bits()[2 * 4], 7);  // stored row 2 of 3
}

TEST(DibPremultiply, ScalesColourByAlphaInsideTheClippedRect) {
    DibPtr dib = BlankImage(3, 2, 32);
    std::memset(dib->Bits(), 100, dib->GetImageSize());  // alpha 100 everywhere
    BYTE* p = dib->Row(0);
    const BYTE pixels[12] = {255, 100, 50, 128, 200, 200, 200, 0, 10, 20, 30, 255};
    std::memcpy(p, pixels, 12);
    dib->PremultiplyAlpha(RECT{0, 1, 1, 5});  // clipped to the bottom-left pixel
    EXPECT_EQ(dib->Row(1)[0], 39);
    EXPECT_EQ(dib->Row(1)[4], 100);
    EXPECT_EQ(p[0], 255);
    dib->PremultiplyAlpha(RECT{1, 1, 1, 5});  // empty
    EXPECT_EQ(dib->Row(1)[4], 100);
    dib->PremultiplyAlpha();
    EXPECT_EQ(std::vector<BYTE>(p, p + 12),
              (std::vector<BYTE>{128, 50, 25, 128, 0, 0, 0, 0, 10, 20, 30, 255}));

    DibPtr rgb = BlankImage(2, 2, 24);
    std::memset(rgb->Bits(), 99, rgb->GetImageSize());
    rgb->PremultiplyAlpha();
    EXPECT_EQ(rgb->Bits()[0], 99);
}

TEST(DibConvert, RemoveAlphaKeepsColourRowsAndRefusesOtherDepths) {
    DibPtr dib = BlankImage(3, 2, 32);
    for (LONG y = 0; y < 2; ++y) {
        for (int i = 0; i < 12; ++i) {
            dib->Row(y)[i] = static_cast<BYTE>(y * 50 + i);
        }
    }
    DibPtr out;
    ASSERT_EQ(RemoveAlpha(out, *dib), S_OK);
    EXPECT_EQ(out->BitCount(), 24);
    EXPECT_GT(out->Header()->biHeight, 0);
    for (LONG y = 0; y < 2; ++y) {
        const BYTE* r = out->Row(y);
        EXPECT_EQ(r[3], y * 50 + 4);
        EXPECT_EQ(r[8], y * 50 + 10);
    }
    DibPtr untouched(new CDib);
    CDib* before = untouched.get();
    EXPECT_EQ(RemoveAlpha(untouched, *out), E_INVALIDARG);
    EXPECT_EQ(untouched.get(), before);
}

TEST(DibResolution, DpiRoundsToPelsPerMeter) {
    EXPECT_EQ(DpiToPelsPerMeter(300), 11811);  // 11811.02 rounds down
    EXPECT_EQ(DpiToPelsPerMeter(96), 3780);    // 3779.53 rounds up
}

}  // namespace
