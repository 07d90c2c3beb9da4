#include "msg/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "msg/Exception.h"
#include "msg/StringTable.h"
#include "msg/Utf8.h"
#include "msg/tests/LanguageScope.h"

namespace {

std::string Fmt(std::string_view format, auto... args) {
    std::string out = "previous content";
    FormatText(out, format, args...);
    return out;
}

TEST(Format, PlaceholdersAndMismatchedArguments) {
    EXPECT_EQ(Fmt("a %s b %d c %%", "x", 42), "a x b 42 c %");
    EXPECT_EQ(Fmt("%d %d", std::uint32_t{4294967295u}, std::int64_t{-5}), "4294967295 -5");
    EXPECT_EQ(Fmt(""), "");
    // Other percent sequences stay literal.
    EXPECT_EQ(Fmt("%x %5d %ls 100%", 1), "%x %5d %ls 100%");
    EXPECT_EQ(Fmt("%%s %s", "a"), "%s a");
    // A number for %s prints in decimal, a string for %d prints as text.
    EXPECT_EQ(Fmt("%s|%d", 7, "str"), "7|str");
    // Missing arguments print nothing, surplus ones are ignored.
    EXPECT_EQ(Fmt("%s-%s-%d.", "a"), "a--.");
    EXPECT_EQ(Fmt("%d", 1, 2, "three"), "1");
    const char* nullText = nullptr;
    EXPECT_EQ(Fmt("<%s>", nullText), "<>");
}

TEST(Format, ResultIsCutToFormatLengthPlus1023CodePoints) {
    EXPECT_EQ(Fmt("%s", std::string(2000, 'a')), std::string(1025, 'a'));
    EXPECT_EQ(Fmt("%s", std::string(1025, 'b')), std::string(1025, 'b'));

    // Counted in code points, cut on a code-point boundary.
    std::string kana;
    for (int i = 0; i < 2000; ++i) {
        kana += "あ";
    }
    const std::string cut = Fmt("日本%s", kana);
    EXPECT_EQ(Utf8Length(cut), 4u + 1023u);
    EXPECT_EQ(cut.size(), (4u + 1023u) * 3u);
    EXPECT_EQ(SanitizeUtf8(cut, 5000), cut);  // still valid UTF-8
}

// Characters beyond U+FFFF take two UTF-16 units, whatever their lead byte
// (0xF0 starts most emoji, 0xF4 the last planes).
TEST(Utf8, Utf16LengthCountsSurrogatePairs) {
    const struct {
        std::string text;
        std::size_t units;
    } cases[] = {
        {"", 0},  {"abc", 3}, {"\xC3\xA9", 1},         {"写真", 2},
        {"😀", 2}, {"a😀b", 4}, {"\xF3\xA0\x80\x81", 2}, {"\xF4\x8F\xBF\xBF", 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16Length(c.text), c.units) << c.text;
    }
}

TEST(LoadResString, MissingIdThrowsOrReturnsEmptyAndBufferLimit) {
    LanguageScope english(Language::English);
    std::string out = "junk";
    EXPECT_FALSE(LoadResString(out, 12345, false));
    EXPECT_EQ(out, "");
    try {
        LoadResString(out, 12345, true);
        FAIL() << "no exception";
    } catch (const my::CException& e) {
        EXPECT_EQ(e.id, 58597u);
        EXPECT_EQ(e.code, 0x80070716u);
        EXPECT_EQ(e.message,
                  "Resource string is missing - The specified resource name cannot be found in "
                  "the image file.\n\nID: 12345");
    }
    EXPECT_TRUE(LoadResString(out, 58369, true));
    EXPECT_EQ(out, "Query");

    // Texts of 25599 UTF-16 units and more are too long for the loader.
    EXPECT_TRUE(ResStringFitsLoadBuffer(25598));
    EXPECT_FALSE(ResStringFitsLoadBuffer(25599));  // would need a 256000 buffer
}

}  // namespace
