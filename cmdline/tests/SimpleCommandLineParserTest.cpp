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
        {"", {}},
        {" \t ", {}},
        // Quotes are dropped and do not end the word.
        {R"(/empty:"C:\My Scans\bed.png" x)", {R"(/empty:C:\My Scans\bed.png)", "x"}},
        {R"("a b"c)", {"a bc"}},
        // Empty words never occur.
        {R"(a "" b '')", {"a", "b"}},
        // Only the opening quote character closes the run.
        {R"("it's here")", {"it's here"}},
        {R"('say "hi" now')", {R"(say "hi" now)"}},
        // An unterminated run takes the rest of the text, separators included.
        {R"(a "b  c)", {"a", "b  c"}},
        {"'", {}},
        // Backslash is an ordinary character: it neither escapes a quote nor
        // a separator.
        {R"(a\"b c")", {R"(a\b c)"}},
        {R"(C:\dir\ x)", {R"(C:\dir\)", "x"}},
        // Multi-byte UTF-8 passes through.
        {R"("写真 1.png" 'ページ' 表紙)", {"写真 1.png", "ページ", "表紙"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CSimpleCommandLineParser::SplitWords(c.text), c.words) << c.text;
    }
}

class RecordingParser : public CSimpleCommandLineParser {
  public:
    void OnArguments(const Words& arguments) override {
        ++calls;
        received = arguments;
    }
    int calls = 0;
    Words received;
};

TEST(SimpleCommandLineParser, ParseStoresTextAndPassesArgumentsWithoutProgram) {
    RecordingParser parser;
    parser.Parse(R"("C:\Program Files\q.exe" /hide 'a b.png')");
    EXPECT_EQ(parser.CommandLine(), R"("C:\Program Files\q.exe" /hide 'a b.png')");
    EXPECT_EQ(parser.received, (Words{"/hide", "a b.png"}));

    parser.Parse("");
    EXPECT_EQ(parser.CommandLine(), "");
    EXPECT_EQ(parser.received, Words{});
    EXPECT_EQ(parser.calls, 2);
}

}  // namespace
