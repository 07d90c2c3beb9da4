#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/SimpleCommandLineParser.h"

namespace {

using Words = std::vector<std::string>;

TEST(SplitWords, QuotesSeparatorsAndBackslashes) {
    const struct {
        const char* text;
        Words words;
    } cases[] = {
        {"prog\t a  b ", {"prog", "a", "b"}},
        {" \t ", {}},
        // Quotes are dropped and do not end the word.
        {R"(/empty:"C:\My Scans\bed.png" x)", {R"(/empty:C:\My Scans\bed.png)", "x"}},
        // Empty words never occur.
        {R"(a "" b '')", {"a", "b"}},
        // Only the opening quote character closes the run.
        {R"('say "hi" now')", {R"(say "hi" now)"}},
        // An unterminated run takes the rest of the text, separators included.
        {R"(a "b  c)", {"a", "b  c"}},
        // Backslash escapes neither a quote nor a separator.
        {R"(a\"b c")", {R"(a\b c)"}},
        {R"(C:\dir\ x)", {R"(C:\dir\)", "x"}},
        {R"("写真 1.png" 表紙)", {"写真 1.png", "表紙"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CSimpleCommandLineParser::SplitWords(c.text), c.words) << c.text;
    }
}

}  // namespace
