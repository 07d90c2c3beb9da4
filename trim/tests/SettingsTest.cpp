#include <gtest/gtest.h>

#include <string>

#include "trim/AppSettings.h"
#include "trim/AutoTrimParams.h"

namespace {

constexpr Side L = SideLeft, T = SideTop, R = SideRight, B = SideBottom;

AutoTrimParams WithSpaceType(DWORD spaceType) {
    AutoTrimParams p;
    p.SpaceType = spaceType;
    return p;
}

TEST(AutoTrimParams, TrimSidesAlternateByParity) {
    const SideList ltb{L, T, B}, rtb{R, T, B};
    for (std::int32_t position : {0, -2, 1000000, 1, -1, 2147483647}) {
        const bool even = position % 2 == 0;
        EXPECT_EQ(WithSpaceType(14).TrimSides(position), even ? ltb : rtb) << position;
        EXPECT_EQ(WithSpaceType(15).TrimSides(position), even ? rtb : ltb) << position;
    }
}

TEST(AutoTrimParams, BorderBand) {
    const AutoTrimParams p;
    EXPECT_EQ(p.BorderBand(499, 3000), (SIZE{1, 6}));
    EXPECT_EQ(p.BorderBand(1000, 1000), (SIZE{2, 2}));
    EXPECT_EQ(p.BorderBand(1499, 1500), (SIZE{2, 3}));
    EXPECT_EQ(p.BorderBand(0, -5000), (SIZE{1, 1}));
    AutoTrimParams huge;
    huge.BorderBandRatio = 1e12;
    EXPECT_EQ(huge.BorderBand(5, 1), (SIZE{2147483647, 2147483647}));
}

TEST(RotateEdgeTable, KeywordsAreExact) {
    const char* keywords[] = {"none", "auto", "l", "r", "t", "b", "lr", "rl", "tb", "bt"};
    for (std::uint32_t value = 0; value < RotateEdgeCount; ++value) {
        RotateEdge found = RotateEdgeNone;
        EXPECT_TRUE(RotateEdgeFromKeyword(keywords[value], found)) << keywords[value];
        EXPECT_EQ(found, value);
    }
    for (const char* bad : {"", "AUTO", "ll", "auto ", "lrtb"}) {
        RotateEdge found = RotateEdgeBottomTop;
        EXPECT_FALSE(RotateEdgeFromKeyword(bad, found)) << bad;
        EXPECT_EQ(found, RotateEdgeBottomTop) << "untouched on failure";
    }
}

TEST(TrimEdgesTable, LetterSets) {
    const struct {
        const char* text;
        TrimEdgesParse result;
        std::uint32_t value;
    } cases[] = {
        {"auto", TrimEdgesParse::Ok, 0},
        {"br", TrimEdgesParse::Ok, 2},
        {"bt", TrimEdgesParse::Ok, 7},
        {"btl", TrimEdgesParse::Ok, 12},
        {"ltb+", TrimEdgesParse::Ok, 14},
        {"+btl", TrimEdgesParse::Ok, 14},
        {"b+rt", TrimEdgesParse::Ok, 15},
        {"", TrimEdgesParse::Empty, 0},
        {"xx", TrimEdgesParse::RepeatedLetter, 0},  // repeats are checked first
        {"ltx", TrimEdgesParse::UnknownLetter, 0},
        {"LTRB", TrimEdgesParse::UnknownLetter, 0},
        {"l\xC3\xA9\xC3\xA8", TrimEdgesParse::UnknownLetter, 0},  // "léè": different characters
        {"ltrb+", TrimEdgesParse::NoMatch, 0},
    };
    for (const auto& c : cases) {
        TrimEdges value = TrimEdgesBottom;
        EXPECT_EQ(TrimEdgesFromLetters(c.text, value), c.result) << c.text;
        EXPECT_EQ(value, c.result == TrimEdgesParse::Ok ? c.value : TrimEdgesBottom) << c.text;
    }
}

TEST(AppSettings, HistoryRuleAndThreadClamp) {
    HistoryList list{"a", "b", "c"};
    AppSettings::AddToHistory(list, "b");
    EXPECT_EQ(list, (HistoryList{"b", "a", "c"}));
    AppSettings::AddToHistory(list, "B");
    EXPECT_EQ(list, (HistoryList{"B", "b", "a", "c"}));
    AppSettings::AddToHistory(list, list[2]);  // refers into the list itself
    EXPECT_EQ(list, (HistoryList{"a", "B", "b", "c"}));
    AppSettings::AddToHistory(list, "");
    EXPECT_EQ(list.size(), 5u);
    // Sixteen newest are kept.
    for (int i = 1; i <= 17; ++i) {
        AppSettings::AddToHistory(list, std::to_string(i));
    }
    ASSERT_EQ(list.size(), 16u);
    EXPECT_EQ(list.front(), "17");
    EXPECT_EQ(list.back(), "2");

    EXPECT_EQ(AppSettings::ClampThreadCount(0), 1);
    EXPECT_EQ(AppSettings::ClampThreadCount(99), 99);
    EXPECT_EQ(AppSettings::ClampThreadCount(250), 99);
}

TEST(AppSettings, ResetKeepsHistoriesAndWindow) {
    AppSettings s;
    s.EmptyPath = {"/bed.png", "/old.png"};
    s.SubFolder = {"out", "trim", "x"};
    s.SaveType = 3;
    s.TiffCompression = 5;
    s.SizeToOutputAdd = 7;
    s.Window = {true, {1, 2, 3, 4}};
    s.AutoTrim.Flags = 0xFF;
    s.AutoTrim.MedianCount = 0;
    s.ResetToDefaults();

    const AppSettings d;
    EXPECT_EQ(s.EmptyPath, (HistoryList{"", "/bed.png", "/old.png"}));
    EXPECT_EQ(s.EmptyImagePath(), "");
    EXPECT_EQ(s.SubFolder, (HistoryList{"trim", "out", "x"}));
    EXPECT_EQ(s.SaveType, d.SaveType);
    EXPECT_EQ(s.TiffCompression, d.TiffCompression);
    EXPECT_EQ(s.SizeToOutputAdd, d.SizeToOutputAdd);
    EXPECT_EQ(s.Window, (WindowPlacement{true, {1, 2, 3, 4}}));
    EXPECT_EQ(s.AutoTrim.Flags, d.AutoTrim.Flags);
    EXPECT_EQ(s.AutoTrim.MedianCount, d.AutoTrim.MedianCount);
}

// The format's /format value with its option, read back by the option's
// rule; a stored value no format or choice has is written as the default.
TEST(AppSettings, FormatOptionValueReadsBack) {
    struct Case {
        LONG saveType, quality, compression;
        const char* value;
    };
    const Case cases[] = {{SaveTypePng, 80, 8, "png"},          {SaveTypeBmp, 80, 8, "bmp"},
                          {SaveTypeJpeg, 35, 8, "jpg,35"},      {SaveTypeTiff, 80, 5, "tif,lzw"},
                          {SaveTypeTiff, 80, 7, "tif,deflate"}, {17, 80, 5, "png"}};
    for (const Case& c : cases) {
        AppSettings s;
        s.SaveType = c.saveType;
        s.JpegQuality = c.quality;
        s.TiffCompression = c.compression;
        EXPECT_EQ(s.FormatOptionValue(), c.value);
        AppSettings back;
        ASSERT_TRUE(back.ApplyFormatOption(c.value)) << c.value;
        EXPECT_EQ(back.FormatOptionValue(), c.value);
        EXPECT_EQ(back.Extension(), s.Extension());
    }
}

}  // namespace
