#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cmdline/CommandLineParser.h"
#include "msg/Exception.h"
#include "msg/tests/LanguageScope.h"

namespace {

using Words = std::vector<std::string>;

// A parser whose idea of the existing files is a fixed set, so that folders
// named like options can be tried without creating them at the root.
class TestParser : public qv::CCommandLineParser {
  public:
    explicit TestParser(AppSettings& settings, std::set<std::string> existing = {})
        : CCommandLineParser(settings), m_existing(std::move(existing)) {}

  protected:
    bool NamesExistingPath(const std::string& path) const override {
        return m_existing.count(path) != 0;
    }

  private:
    std::set<std::string> m_existing;
};

// The folder relative paths are joined to (ToFullPathTest checks how it is
// found).
std::string Cwd() {
    return CCommandLineParserUtil::ToFullPath(".");
}

// Runs the arguments on settings; the rejection's id and message, or 0 and "".
std::pair<std::uint32_t, std::string> Rejection(const Words& arguments, AppSettings& settings) {
    TestParser parser(settings);
    try {
        parser.OnArguments(arguments);
    } catch (const my::CException& e) {
        return {e.id, e.message};
    }
    return {0, ""};
}

TEST(CommandLineParser, RejectionsAndTheirMessages) {
    LanguageScope english(Language::English);
    const struct {
        Words arguments;
        std::uint32_t id;
        const char* message;
    } cases[] = {
        {{"/HIDE"}, 58749, "Unknown command line option is specified\n\n/HIDE"},
        {{"a.png", "/bogus"}, 58749, "Unknown command line option is specified\n\n/bogus"},
        {{"/scan.png"}, 58749, "Unknown command line option is specified\n\n/scan.png"},
        {{"/end", "/reset"},
         40042,
         "Command line option /reset must be specified at first\n\n/reset"},
        {{"/empty"}, 58751, "Command line option /empty needs successive ':'\n\n/empty"},
        {{"/outdir"}, 58751, "Command line option /out needs successive ':'\n\n/outdir"},
        {{"/thread=2"}, 58751, "Command line option /thread needs successive ':'\n\n/thread=2"},
        {{"/rotate:"}, 58752, "Command line option /rotate needs non-empty value\n\n/rotate:"},
        {{"/rotate:AUTO"},
         58753,
         "Command line option /rotate 's value is unknown\n\n/rotate:AUTO"},
        {{"/cut:"}, 58752, "Command line option /cut needs non-empty value\n\n/cut:"},
        {{"/cut:llt"}, 58754, "Command line option has same char flags\n\n/cut:llt"},
        {{"/cut:AUTO"},
         58755,
         "Command line option has unknown char (must be of ltrb+)\n\n/cut:AUTO"},
        {{"/cut:ltr"}, 58756, "Command line option has unknown char combination\n\n/cut:ltr"},
        {{"/deep_cut:ON"},
         58753,
         "Command line option /deep_cut 's value is unknown\n\n/deep_cut:ON"},
    };
    for (const auto& c : cases) {
        AppSettings settings;
        EXPECT_EQ(Rejection(c.arguments, settings),
                  (std::pair<std::uint32_t, std::string>{c.id, c.message}))
            << c.arguments.back();
    }
    LanguageScope japanese(Language::Japanese);
    AppSettings settings;
    EXPECT_EQ(Rejection({"/thread:0"}, settings).second,
              "コマンドラインオプション /thread の値が不明です\n\n/thread:0");
}

TEST(CommandLineParser, RejectedValuesOfNumericOptions) {
    LanguageScope english(Language::English);
    const struct {
        const char* name;
        std::vector<const char*> values;
    } cases[] = {
        {"/size", {"OFF", "10,", ",10", "-1,5", "1 ,2", "1,2,3", "١,٢"}},
        {"/trim", {"Off", "0x10,1", "+1,2"}},
        {"/format", {"gif", "jpg,", "jpg,-1", "jpg,80,1", "jpgg", "tf", " png", "jpg,８０"}},
        {"/thread", {"", "0", "01", "-3", "+2", "2 "}},
    };
    for (const auto& c : cases) {
        for (const char* value : c.values) {
            const std::string word = std::string(c.name) + ":" + value;
            AppSettings settings;
            EXPECT_EQ(Rejection({word}, settings),
                      (std::pair<std::uint32_t, std::string>{
                          58753, "Command line option " + std::string(c.name) +
                                     " 's value is unknown\n\n" + word}));
        }
    }
}

TEST(CommandLineParser, StopsAtTheFirstBadWordKeepingEarlierOptions) {
    AppSettings settings;
    TestParser parser(settings);
    EXPECT_THROW(parser.OnArguments({"/format:bmp", "a.png", "/x", "/thread:4"}), my::CException);
    EXPECT_EQ(settings.SaveType, SaveTypeBmp);
    EXPECT_EQ(settings.ThreadCount, 1);
}

// Each accepted word against the fields it sets, from a record holding
// EdgeType 77, SpaceType 77, SaveType 99, JpegQuality 33, ThreadCount 5.
TEST(CommandLineParser, AcceptedValues) {
    using Fields = std::array<long long, 5>;  // edge, space, save, quality, threads
    const auto parsed = [](const std::string& word) {
        AppSettings s;
        s.AutoTrim.EdgeType = s.AutoTrim.SpaceType = 77;
        s.SaveType = 99;
        s.JpegQuality = 33;
        s.ThreadCount = 5;
        TestParser(s).OnArguments({word});
        return Fields{s.AutoTrim.EdgeType, s.AutoTrim.SpaceType, s.SaveType, s.JpegQuality,
                      s.ThreadCount};
    };
    const std::pair<const char*, Fields> cases[] = {
        {"/rotate:none", {0, 77, 99, 33, 5}},
        {"/rotate:auto", {1, 77, 99, 33, 5}},
        {"/rotate:l", {2, 77, 99, 33, 5}},
        {"/rotate:rl", {7, 77, 99, 33, 5}},
        {"/rotate:bt", {9, 77, 99, 33, 5}},
        {"/cut:auto", {77, 0, 99, 33, 5}},
        {"/cut:ltrb", {77, 1, 99, 33, 5}},
        {"/cut:btlr", {77, 1, 99, 33, 5}},  // letters in any order
        {"/cut:br", {77, 2, 99, 33, 5}},
        {"/cut:rl", {77, 6, 99, 33, 5}},
        {"/cut:b", {77, 11, 99, 33, 5}},
        {"/cut:btr", {77, 13, 99, 33, 5}},
        {"/cut:+btl", {77, 14, 99, 33, 5}},
        {"/cut:tb+l", {77, 14, 99, 33, 5}},
        {"/cut:b+rt", {77, 15, 99, 33, 5}},
        {"/format:Jpg", {77, 77, 2, 33, 5}},  // no quality: kept
        {"/format:JPEG,90", {77, 77, 2, 90, 5}},
        {"/format:jpg,0", {77, 77, 2, 0, 5}},
        {"/format:jpg,007", {77, 77, 2, 7, 5}},
        {"/format:jpg,101", {77, 77, 2, 101, 5}},  // range checked later, not here
        {"/format:jpg,99999999999", {77, 77, 2, 2147483647, 5}},
        {"/format:BMP", {77, 77, 0, 33, 5}},
        {"/format:PnG", {77, 77, 1, 33, 5}},
        {"/format:tif", {77, 77, 3, 33, 5}},
        {"/format:TIFF", {77, 77, 3, 33, 5}},
        {"/thread:1", {77, 77, 99, 33, 1}},
        {"/thread:99", {77, 77, 99, 33, 99}},
        {"/thread:100", {77, 77, 99, 33, 99}},  // capped
        {"/thread:99999999999999999999", {77, 77, 99, 33, 99}},
    };
    for (const auto& [word, fields] : cases) {
        EXPECT_EQ(parsed(word), fields) << word;
    }
}

TEST(CommandLineParser, SizeTrimAndDeepCut) {
    constexpr DWORD kOther = 0x80;  // a meaningless bit, kept as it is
    AppSettings settings;
    auto& p = settings.AutoTrim;
    p.Flags = kOther;
    TestParser parser(settings);

    parser.OnArguments({"/size:640,480", "/trim:0,0", "/deep_cut:on"});
    EXPECT_EQ(p.Output, (SIZE{640, 480}));
    EXPECT_EQ(p.Trim, (SIZE{0, 0}));
    EXPECT_EQ(p.Flags, kOther | AutoTrimParams::FlagOutputSize |
                           AutoTrimParams::FlagAdditionalTrim | AutoTrimParams::FlagDeepCut);

    // "off" clears the flag and keeps the size; the later word wins.
    parser.OnArguments({"/size:99999999999,7", "/trim:12,34", "/size:off", "/deep_cut:off"});
    EXPECT_EQ(p.Output, (SIZE{2147483647, 7}));
    EXPECT_EQ(p.Trim, (SIZE{12, 34}));
    EXPECT_EQ(p.Flags, kOther | AutoTrimParams::FlagAdditionalTrim);

    parser.OnArguments({"/trim:off"});
    EXPECT_EQ(p.Trim, (SIZE{12, 34}));
    EXPECT_EQ(p.Flags, kOther);
}

TEST(CommandLineParser, FlagsAreClearedOnEveryRun) {
    AppSettings settings;
    TestParser parser(settings);
    parser.OnArguments({"/end"});
    EXPECT_EQ((std::vector<bool>{parser.Hide(), parser.End(), parser.Yes()}),
              (std::vector<bool>{false, true, false}));
    parser.OnArguments({"/hide", "/yes", "a.png"});
    EXPECT_EQ((std::vector<bool>{parser.Hide(), parser.End(), parser.Yes()}),
              (std::vector<bool>{true, true, true}));
    EXPECT_EQ(parser.Files().size(), 1u);
    parser.OnArguments({});
    EXPECT_EQ((std::vector<bool>{parser.Hide(), parser.End(), parser.Yes()}),
              (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(parser.Files().empty());
}

TEST(CommandLineParser, HistoriesOfEmptyAndOut) {
    AppSettings settings;
    settings.EmptyPath = {"/old/bed.png"};
    TestParser parser(settings);
    parser.OnArguments(
        {"/empty:/scans/bed1.png", "/empty:bed2.png", "/out:my out", "/out:", "/out:/abs"});
    EXPECT_EQ(settings.EmptyPath,
              (HistoryList{Cwd() + "/bed2.png", "/scans/bed1.png", "/old/bed.png"}));
    // The subfolder name is kept as written.
    EXPECT_EQ(settings.SubFolder, (HistoryList{"/abs", "", "my out", "trim"}));

    // An empty value selects no empty image.
    parser.OnArguments({"/empty:"});
    EXPECT_EQ(settings.EmptyImagePath(), "");
    EXPECT_EQ(settings.EmptyPath.size(), 4u);
}

TEST(CommandLineParser, ResetFirstThenOverrides) {
    AppSettings settings;
    settings.EmptyPath = {"/bed.png"};
    settings.SubFolder = {"out", "trim", "old"};
    settings.SaveType = SaveTypeTiff;
    settings.JpegQuality = 5;
    settings.ThreadCount = 7;
    settings.Window = {true, {1, 2, 3, 4}};
    settings.AutoTrim.Flags = 0xFF;

    TestParser(settings).OnArguments({"/reset", "/format:bmp", "x.png"});
    const AppSettings defaults;
    EXPECT_EQ(settings.EmptyPath, (HistoryList{"", "/bed.png"}));
    EXPECT_EQ(settings.SubFolder, (HistoryList{"trim", "out", "old"}));
    EXPECT_EQ(settings.SaveType, SaveTypeBmp);
    EXPECT_EQ(settings.JpegQuality, defaults.JpegQuality);
    EXPECT_EQ(settings.ThreadCount, defaults.ThreadCount);
    EXPECT_EQ(settings.Window, (WindowPlacement{true, {1, 2, 3, 4}}));  // not reset
    EXPECT_EQ(settings.AutoTrim.Flags, defaults.AutoTrim.Flags);
}

TEST(CommandLineParser, PosixPathRule) {
    LanguageScope english(Language::English);
    AppSettings settings;
    TestParser parser(settings, {"/hide", "/outdir", "/スキャン.png"});
    parser.OnArguments({
        "/home/me/scan.png",        // a second '/' before any ':'
        "/outputs/p1.png",          //
        "/home/me/a:b.png",         // ':' after the second '/'
        "//hide",                   //
        "/hide",                    // existing folder named like an option
        "/outdir",                  // existing, so no ':' is needed
        "/スキャン.png",            // existing Japanese name at the root
        "/home/me/写真 1.png",      //
        "写真/ページ.png",          // relative: made absolute
        "-hide",                    // not an option
        R"(a\b.png)",               // backslash is part of the name
        "/empty:/home/me/bed.png",  // an option: no '/' before its ':'
        "a.png",                    //
        "a.png",                    // duplicates are kept
    });
    const std::string cwd = Cwd();
    EXPECT_EQ(parser.Files(),
              (Words{"/home/me/scan.png", "/outputs/p1.png", "/home/me/a:b.png", "/hide", "/hide",
                     "/outdir", "/スキャン.png", "/home/me/写真 1.png", cwd + "/写真/ページ.png",
                     cwd + "/-hide", cwd + R"(/a\b.png)", cwd + "/a.png", cwd + "/a.png"}));
    EXPECT_FALSE(parser.Hide());
    EXPECT_EQ(settings.EmptyImagePath(), "/home/me/bed.png");

    // Without the folder, the same words are options again.
    EXPECT_EQ(Rejection({"/outdir"}, settings).first, 58751u);
    EXPECT_EQ(Rejection({"/スキャン.png"}, settings).first, 58749u);
    EXPECT_EQ(Rejection({"/dir:/x.png"}, settings).first, 58749u);
}

TEST(CommandLineParser, RealFileSystemAndArgv) {
    // The root folder /tmp exists on every POSIX system.
    AppSettings settings;
    qv::CCommandLineParser parser(settings);
    const char* argv[] = {"quorvel", "/end", "/tmp", "/tmp/"};
    parser.ParseArgv(4, argv);
    EXPECT_TRUE(parser.End());
    EXPECT_EQ(parser.Files(), (Words{"/tmp", "/tmp/"}));

    parser.Parse(R"(quorvel /yes "my scan.png")");
    EXPECT_TRUE(parser.Yes());
    EXPECT_EQ(parser.Files(), (Words{Cwd() + "/my scan.png"}));
}

// Changes into a fresh folder reached through a symbolic link and back.
class ToFullPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_oldCwd = std::filesystem::current_path();
        const char* oldPwd = std::getenv("PWD");
        m_oldPwd = oldPwd != nullptr ? oldPwd : "";
        char pattern[] = "/tmp/qv_cmdline_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        std::filesystem::create_directory(m_root / "real");
        std::filesystem::create_directory_symlink(m_root / "real", m_root / "link");
    }
    void TearDown() override {
        std::filesystem::current_path(m_oldCwd);
        setenv("PWD", m_oldPwd.c_str(), 1);
        std::filesystem::remove_all(m_root);
    }
    std::filesystem::path m_oldCwd;
    std::string m_oldPwd;
    std::filesystem::path m_root;
};

TEST_F(ToFullPathTest, RelativeToTheLogicalCurrentDirectory) {
    const std::string link = (m_root / "link").string();
    const std::string real = (m_root / "real").string();
    std::filesystem::current_path(link);
    setenv("PWD", link.c_str(), 1);
    const std::string longName(5000, 'n');
    const struct {
        std::string path;
        std::string full;
    } cases[] = {
        {"", ""},
        {"x.png", link + "/x.png"},
        {"./a//b/./c.png", link + "/a/b/c.png"},
        {"dir/", link + "/dir/"},
        {"../x.png", link + "/../x.png"},  // not folded: link/.. is not m_root
        {"/a//b/./c", "/a/b/c"},
        {"/a/../b", "/a/../b"},
        {"/" + longName + "/x", "/" + longName + "/x"},
        {longName, link + "/" + longName},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CCommandLineParserUtil::ToFullPath(c.path), c.full) << c.path.substr(0, 20);
    }

    // A stale or relative $PWD is not trusted: the physical folder is used.
    for (const char* pwd : {"/tmp", "link"}) {
        setenv("PWD", pwd, 1);
        EXPECT_EQ(CCommandLineParserUtil::ToFullPath("x.png"),
                  std::filesystem::canonical(real).string() + "/x.png")
            << pwd;
    }
}

TEST_F(ToFullPathTest, UnreadableCurrentDirectoryKeepsThePath) {
    const auto gone = m_root / "gone";
    std::filesystem::create_directory(gone);
    std::filesystem::current_path(gone);
    std::filesystem::remove(gone);
    unsetenv("PWD");
    EXPECT_EQ(CCommandLineParserUtil::ToFullPath("x.png"), "x.png");
    EXPECT_EQ(CCommandLineParserUtil::ToFullPath("/abs/x.png"), "/abs/x.png");
}

}  // namespace
