#include "image/PixelKind.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/TestImages.h"

namespace {

using K = PixelKind;

std::vector<BYTE> Le16(std::initializer_list<int> samples) {
    std::vector<BYTE> out;
    for (const int v : samples) {
        out.push_back(static_cast<BYTE>(v));
        out.push_back(static_cast<BYTE>(v >> 8));
    }
    return out;
}

// Two pixels of each conversion, literal: widening is exact, narrowing
// rounds to the nearest 8-bit level, alpha is dropped or made opaque.
TEST(PixelKind, RowConversions) {
    struct Case {
        K from;
        std::vector<BYTE> in;
        K to;
        std::vector<BYTE> out;
    };
    const Case cases[] = {
        {K::Bitonal, {0x80}, K::Grey8, {255, 0}},
        {K::Grey8, {0, 200}, K::Bgra32, {0, 0, 0, 255, 200, 200, 200, 255}},
        {K::Grey8, {1, 255}, K::Grey16, Le16({257, 65535})},
        {K::GreyAlpha8, {10, 20, 30, 40}, K::Bgra32, {10, 10, 10, 20, 30, 30, 30, 40}},
        {K::GreyAlpha8, {10, 20, 30, 40}, K::Grey8, {10, 30}},
        {K::Grey16, Le16({32767, 32768}), K::Grey8, {127, 128}},  // 127.498, 127.502
        {K::Bgra32, {1, 2, 3, 4, 5, 6, 7, 8}, K::Bgr24, {1, 2, 3, 5, 6, 7}},
        {K::Bgr48, Le16({0, 65535, 385, 65534, 1, 128}), K::Bgr24, {0, 255, 1, 255, 0, 0}},
        {K::Bgra64, Le16({1, 2, 3, 4, 5, 6, 7, 8}), K::Bgr48, Le16({1, 2, 3, 5, 6, 7})},
        {K::Bgr24,
         {9, 8, 7, 6, 5, 4},
         K::Bgra64,
         Le16({2313, 2056, 1799, 65535, 1542, 1285, 1028, 65535})},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> out(c.out.size() + 4, 0xEE);
        ASSERT_TRUE(ConvertRow(c.from, c.in.data(), c.to, out.data(), 2))
            << int(c.from) << " to " << int(c.to);
        EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + c.out.size()), c.out)
            << int(c.from) << " to " << int(c.to);
        EXPECT_EQ(out[c.out.size()], 0xEE) << "nothing written past the pixels";
    }
    BYTE out[16] = {};
    const BYTE in[16] = {};
    EXPECT_FALSE(ConvertRow(K::Bgr24, in, K::Grey8, out, 2)) << "colour is not made grey";
    EXPECT_FALSE(ConvertRow(K::Grey8, in, K::Bitonal, out, 2)) << "nor anything bitonal";
}

// The layouts a header can carry are told apart; others are no kind.
TEST(PixelKind, KindOfHeadersAndSizes) {
    for (int k = 0; k <= static_cast<int>(K::Bgra64); ++k) {
        EXPECT_EQ(KindOf(*NewDib(3, 2, static_cast<K>(k))), static_cast<K>(k));
    }
    const DibPtr inverted = BlankImage(2, 2, 1);  // entries 0 and 1 both black
    EXPECT_FALSE(KindOf(*inverted));
    const DibPtr notRamp = BlankImage(2, 2, 8);
    notRamp->ColorTable()[3] = RGBQUAD{4, 4, 4, 255};
    EXPECT_FALSE(KindOf(*notRamp));
    EXPECT_FALSE(KindOf(*BlankImage(2, 2, 16))) << "5-5-5 colour";
    EXPECT_FALSE(KindOf(CDib()));
    // A 600 dpi A4 page: 16-bit colour takes 6 bytes a pixel, 1 bit an
    // eighth of a byte rounded up to whole 4-byte rows.
    EXPECT_EQ(DecodedImageBytes(4960, 7016, K::Bgr48), 4960ull * 6 * 7016);
    EXPECT_EQ(DecodedImageBytes(4960, 7016, K::Bitonal), 620ull * 7016);
    EXPECT_EQ(DecodedImageBytes(13, 1, K::Bitonal), 4u);
}

// What a format holding only some kinds writes, and whether that loses
// anything.
TEST(PixelKind, KindToWriteFallsBackWithoutLosingWhatItCanKeep) {
    const PixelKindSet jpeg = {K::Grey8, K::Bgr24};
    const PixelKindSet bmp = {K::Bitonal, K::Grey8, K::Bgr24, K::Bgra32};
    EXPECT_EQ(KindToWrite(K::Bitonal, jpeg), K::Grey8);
    EXPECT_FALSE(LosesSamples(K::Bitonal, K::Grey8));
    EXPECT_EQ(KindToWrite(K::GreyAlpha16, bmp), K::Bgra32);
    EXPECT_TRUE(LosesSamples(K::GreyAlpha16, K::Bgra32));
    EXPECT_FALSE(LosesSamples(K::GreyAlpha8, K::Bgra32));
    EXPECT_EQ(KindToWrite(K::Bgra64, jpeg), K::Bgr24);
    EXPECT_TRUE(LosesSamples(K::Bgra32, K::Bgr24));
    EXPECT_EQ(KindToWrite(K::Bgra64, PixelKindSet{K::Bgr48, K::Bgra32}), K::Bgra32)
        << "alpha before 16 bits";
    EXPECT_FALSE(KindToWrite(K::Bgr24, PixelKindSet{K::Grey8}));
}

}  // namespace
