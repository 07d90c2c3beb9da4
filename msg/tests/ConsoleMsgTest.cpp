#include "msg/ConsoleMsg.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <boost/make_shared.hpp>
#include <deque>
#include <filesystem>
#include <fstream>
#include <list>
#include <sstream>

#include "msg/Exception.h"
#include "msg/GlobalMsg.h"
#include "msg/TerminalText.h"
#include "msg/tests/LanguageScope.h"
#include "tests/support/TempDir.h"

namespace {

const char* const kYesNo = "Push the key for Y)es / N)o\n> ";

// A console sink on string streams fed from a list of keys; the key source
// fails once the list is used up.
class ConsoleFixture : public ::testing::Test {
  protected:
    int Show(const std::string& text, std::uint32_t type, std::deque<int> keys) {
        m_keys = std::move(keys);
        return m_sink.Show(text, type);
    }

    LanguageScope m_language{Language::English};
    std::ostringstream m_err;
    std::ostringstream m_out;
    std::deque<int> m_keys;
    int m_reads = 0;
    CConsoleMsg m_sink{m_err, m_out, [this] {
                           ++m_reads;
                           if (m_keys.empty()) {
                               return -1;
                           }
                           const int key = m_keys.front();
                           m_keys.pop_front();
                           return key;
                       }};
};

TEST_F(ConsoleFixture, YesNoRepromptsAfterOtherKeysAndEsc) {
    EXPECT_EQ(Show("Stop?", MB_YESNO | MB_ICONWARNING, {'x', 27, '\n', 'y'}), IDYES);
    EXPECT_EQ(m_err.str(), "Stop?\n");
    EXPECT_EQ(m_out.str(), std::string(kYesNo) + "x !\n" + kYesNo + "Esc !\n" + kYesNo +
                               "Enter !\n" + kYesNo + "y\n");

    // A non-ASCII key is echoed as UTF-8.
    LanguageScope japanese(Language::Japanese);
    m_out.str("");
    EXPECT_EQ(Show("確認", MB_YESNO, {U'は', 'Y'}), IDYES);
    const std::string prompt = "対応するキーを押してください。はい (Y)、いいえ (N)\n> ";
    EXPECT_EQ(m_out.str(), prompt + "は !\n" + prompt + "Y\n");
}

// Keys of every button set, and the negative answer each gives when the key
// source fails (at once, or after invalid keys).
TEST_F(ConsoleFixture, KeyTablesOfEveryButtonSet) {
    const struct {
        std::uint32_t type;
        std::deque<int> keys;
        int answer;
    } cases[] = {
        {MB_OKCANCEL, {'\n'}, IDOK},  // a line feed counts as Enter
        {MB_ABORTRETRYIGNORE, {27, 'R'}, IDRETRY},
        {MB_ABORTRETRYIGNORE, {}, IDABORT},
        {MB_YESNO, {'x', 'z'}, IDNO},
        {MB_CANCELTRYCONTINUE, {}, IDCANCEL},
    };
    for (const auto& c : cases) {
        const int before = m_reads;
        EXPECT_EQ(Show("q", c.type, c.keys), c.answer) << c.type << " " << c.keys.size();
        // A failed read ends the question: no key is asked for again.
        EXPECT_LE(m_reads - before, static_cast<int>(c.keys.size()) + 1);
    }
    m_out.str("");
    EXPECT_EQ(Show("q", MB_CANCELTRYCONTINUE, {'t'}), IDTRYAGAIN);
    EXPECT_EQ(m_out.str(), "Push the key for Esc) Cancel / T)ry again / C)ontinue\n> t\n");

    // An unknown button set is an internal error, asked before any key.
    const int before = m_reads;
    try {
        Show("text", 7, {13});
        FAIL() << "no exception";
    } catch (const my::CException& e) {
        EXPECT_EQ(e.id, 58575u);
        EXPECT_EQ(e.message, "Internal error\n\nCConsoleMsg Unknown MB_TYPE is specified");
    }
    EXPECT_EQ(m_reads, before);
}

TEST_F(ConsoleFixture, OverwriteListShowsTenPathsThenDots) {
    std::list<std::string> paths;
    std::string expected = "12 files will be overwritten. Are you sure to overwrite ?\n\n";
    for (int i = 0; i < 12; ++i) {
        paths.push_back("/p" + std::to_string(i) + ".png");
        expected += i < 10 ? paths.back() + "\n" : "";
    }
    qv::CGlobalMsg msg(m_sink);
    msg.SelectSink(true);
    m_keys = {13};
    EXPECT_TRUE(msg.ConfirmOverwriteFiles(paths));
    EXPECT_EQ(m_err.str(), expected + "...\n");

    // The vector form asks the same; exactly ten paths get no "..." line.
    m_err.str("");
    m_keys = {27};
    EXPECT_FALSE(msg.ConfirmOverwriteFiles(
        std::vector<std::string>(paths.begin(), std::next(paths.begin(), 10))));
    EXPECT_EQ(m_err.str(), "10" + expected.substr(2));
}

// Records what reaches it and answers with a fixed button.
class RecordingSink : public CMsg {
  public:
    explicit RecordingSink(int answer) : m_answer(answer) {}
    int ShowError(const CSimpleErr& err) override {
        errors.push_back(err);
        return IDOK;
    }
    int Show(const std::string& text, std::uint32_t type) override {
        texts.push_back(text);
        types.push_back(type);
        return m_answer;
    }
    std::vector<CSimpleErr> errors;
    std::vector<std::string> texts;
    std::vector<std::uint32_t> types;

  private:
    int m_answer;
};

TEST(GlobalMsg, SinkSelectionAndReplaceableBoxSink) {
    LanguageScope english(Language::English);
    std::ostringstream err;
    std::ostringstream out;
    qv::CGlobalMsg msg(CConsoleMsg(err, out, [] { return -1; }));
    auto box = boost::make_shared<RecordingSink>(IDOK);
    msg.SetMessageBoxSink(box);
    EXPECT_TRUE(msg.ConfirmDiscardChanges());
    EXPECT_FALSE(msg.ConfirmStopPrinting());  // IDOK is no IDYES
    EXPECT_EQ(box->types, (std::vector<std::uint32_t>{0x31u, 0x34u}));
    EXPECT_EQ(box->texts[0], "Recent your work may be lost. Are you sure ?");

    msg.SelectSink(true);
    EXPECT_FALSE(msg.ConfirmNewerConfig());  // no terminal: Cancel
    EXPECT_EQ(err.str().substr(0, 44), "The config file is of unknown newer version.");
    EXPECT_EQ(box->texts.size(), 2u);

    // Replacing the box sink while the console is current keeps the console;
    // a removed box sink is never used again.
    msg.SetMessageBoxSink(nullptr);
    msg.Show("still the console", MB_OK);
    EXPECT_NE(err.str().find("still the console\n"), std::string::npos);
    msg.SelectSink(false);
    msg.Show("to the stand-in", MB_OK);
    EXPECT_EQ(box->texts.size(), 2u);
    EXPECT_EQ(err.str().find("to the stand-in"), std::string::npos);
}

TEST(GlobalMsg, HeadlessBoxAnswersNegativelyAndCaptions) {
    std::ostringstream err;
    CHeadlessBoxMsg box(err);
    EXPECT_EQ(box.Show("one", MB_OK), IDOK);
    EXPECT_EQ(box.Show("two", MB_YESNO), IDNO);
    EXPECT_EQ(box.ShowError(CSimpleErr(1, "three")), IDOK);
    EXPECT_EQ(err.str(), "one\ntwo\nthree\n");
    EXPECT_EQ(MessageBoxCaptionId(MB_ICONERROR | MB_YESNO), 58368u);
    EXPECT_EQ(MessageBoxCaptionId(MB_OK), 58369u);
}

TEST(CMsgHelpers, ConfirmationsAndCreateFolder) {
    LanguageScope english(Language::English);
    RecordingSink refuse(IDCANCEL);
    EXPECT_FALSE(refuse.ConfirmContinueAfterConfigError("/home/u/q.reg", CSimpleErr(1, "bad")));
    EXPECT_NE(refuse.texts.back().find("\n\nConfig file: /home/u/q.reg\nbad\n\nDo you continue ?"),
              std::string::npos);

    const TempDir scratch;
    const std::filesystem::path dir = scratch.Path();
    const std::string nested = (dir / "a" / "b").string();
    EXPECT_FALSE(refuse.CreateFolderConfirmed(nested));
    EXPECT_FALSE(std::filesystem::exists(nested));
    EXPECT_EQ(refuse.texts.back(),
              "Specified folder path is not exists. Are you sure to create ?\n\n" + nested);

    RecordingSink accept(IDOK);
    EXPECT_TRUE(accept.CreateFolderConfirmed(nested));
    EXPECT_TRUE(std::filesystem::is_directory(nested));

    // A regular file in the way: the failure is shown, not thrown.
    const std::string file = (dir / "file").string();
    std::ofstream(file) << "x";
    const std::string blocked = file + "/sub";
    EXPECT_FALSE(accept.CreateFolderConfirmed(blocked));
    ASSERT_EQ(accept.errors.size(), 1u);
    const CSimpleErr& err = accept.errors[0];
    EXPECT_EQ(err.id, 58804u);
    EXPECT_EQ(err.message.rfind("Failed to create folder - ", 0), 0u);
    EXPECT_EQ(err.message.substr(err.message.size() - blocked.size() - 2), "\n\n" + blocked);

    // Overwriting asks only for existing paths.
    EXPECT_TRUE(refuse.ConfirmOverwriteIfExists((dir / "missing.png").string()));
    EXPECT_EQ(refuse.texts.size(), 2u);
    EXPECT_FALSE(refuse.ConfirmOverwriteIfExists(file));
    EXPECT_EQ(refuse.texts.back(), "Same named file exists. Are you sure to overwrite ?");
}

// What a terminal would obey is written out; text, Japanese included, stays.
TEST(TerminalText, EscapesEveryControlCharacter) {
    struct Case {
        std::string text;
        LineBreaks lineBreaks;
        std::string shown;
    };
    for (const Case& c : {
             Case{"a\tb\rc\x7f\x01.png", LineBreaks::Escape, "a\\x09b\\x0dc\\x7f\\x01.png"},
             Case{"l1\nl2", LineBreaks::Escape, "l1\\x0al2"},
             Case{"l1\nl2\x1b[1m", LineBreaks::Keep, "l1\nl2\\x1b[1m"},
             Case{"\xc2\x85\xc2\x9f\xc2\xa0", LineBreaks::Escape, "\\u0085\\u009f\xc2\xa0"},
             Case{"\x9b\xff\xe6\x97", LineBreaks::Escape, "\\x9b\\xff\\xe6\\x97"},
             Case{"原稿 1\\x.png", LineBreaks::Escape, "原稿 1\\x.png"},
         }) {
        EXPECT_EQ(EscapeForTerminal(c.text, c.lineBreaks), c.shown) << c.shown;
    }
}

}  // namespace
