#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cmdline/CommandLineParser.h"
#include "msg/Exception.h"
#include "msg/tests/LanguageScope.h"
#include "tests/support/TempDir.h"

namespace {

using Words = std::vector<std::string>;

// Knows a fixed set of existing paths, so folders named like options need
// not be created at the root; a list under /fake/ reads as
// "<list>:<separator>" (nul or line).
class TestParser : public qv::CCommandLineParser {
  public:
    explicit TestParser(AppSettings& settings, std::set<std::string> existing = {})
        : CCommandLineParser(settings), m_existing(std::move(existing)) {}

  protected:
    bool NamesExistingPath(const std::string& path) const override {
        return m_existing.count(path) != 0;
    }
    void AddListedFiles(const std::string& list, bool nul, CPathList& files) override {
        if (list.starts_with("/fake/")) {
            files.Add(list + (nul ? ":nul" : ":line"));
        } else {
            CCommandLineParser::AddListedFiles(list, nul, files);
        }
    }

  private:
    std::set<std::string> m_existing;
};

std::string Cwd() {
    return CCommandLineParserUtil::ToFullPath(".");
}

using Refusal = std::pair<std::uint32_t, std::string>;

// The rejection's id and message, or 0 and "".
Refusal Rejection(const Words& arguments) {
    AppSettings settings;
    try {
        TestParser(settings).OnArguments(arguments);
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
        {{"a.png", "/scan.png"}, 58749, "Unknown command line option is specified\n\n/scan.png"},
        {{"/end", "/reset"},
         40042,
         "Command line option /reset must be specified at first\n\n/reset"},
        {{"/outdir"}, 58751, "Command line option /out needs successive ':'\n\n/outdir"},
        {{"/rotate:"}, 58752, "Command line option /rotate needs non-empty value\n\n/rotate:"},
        {{"/cut:llt"}, 58754, "Command line option has same char flags\n\n/cut:llt"},
        {{"/cut:AUTO"},
         58755,
         "Command line option has unknown char (must be of ltrb+)\n\n/cut:AUTO"},
        {{"/cut:ltr"}, 58756, "Command line option has unknown char combination\n\n/cut:ltr"},
        // The GNU spelling is named as typed.
        {{"--end", "--reset"},
         40042,
         "Command line option /reset must be specified at first\n\n--reset"},
        {{"--out"}, 58751, "Command line option --out needs successive ':'\n\n--out"},
        {{"--size=12"}, 58753, "Command line option --size 's value is unknown\n\n--size=12"},
        {{"--files-from="},
         58752,
         "Command line option --files-from needs non-empty value\n\n--files-from="},
        {{"/report:"}, 58752, "Command line option /report needs non-empty value\n\n/report:"},
        {{"--files-from=/qv-no-such-folder/list"},
         40250,
         "failed to read the list of files - The system cannot find the file specified.\n\n"
         "/qv-no-such-folder/list"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Rejection(c.arguments), (Refusal{c.id, c.message})) << c.arguments.back();
    }
    // Unknown values of value options.
    const struct {
        const char* name;
        std::vector<const char*> values;
    } values[] = {
        {"/rotate", {"AUTO"}},
        {"/size", {"OFF", "10,", "-1,5", "1,2,3", "١,٢"}},
        {"/trim", {"0x10,1", "+1,2"}},
        {"/format",
         {"gif", "jpg,", "jpg,80,1", "jpgg", "jpg,８０", "png,1", "tif,", "tif,zip", "tif,lzw,1",
          "bmp,lzw"}},
        {"/thread", {"0", "01", "2 "}},
        {"/deep_cut", {"ON"}},
    };
    for (const auto& v : values) {
        for (const char* value : v.values) {
            const std::string word = std::string(v.name) + ":" + value;
            EXPECT_EQ(Rejection({word}),
                      (Refusal{58753, "Command line option " + std::string(v.name) +
                                          " 's value is unknown\n\n" + word}));
        }
    }
    LanguageScope japanese(Language::Japanese);
    EXPECT_EQ(Rejection({"/thread:0"}).second,
              "コマンドラインオプション /thread の値が不明です\n\n/thread:0");
}

// Each GNU spelling gives the same settings, flags and files as the
// option's own spelling; "--" ends the options.
TEST(CommandLineParser, GnuSpellingsAreTheSameOptions) {
    const auto parsed = [](const Words& arguments) {
        AppSettings s;
        TestParser parser(s);
        parser.OnArguments(arguments);
        const auto& p = s.AutoTrim;
        return std::make_tuple(s.EmptyPath, s.SubFolder, s.SaveType, s.JpegQuality, s.ThreadCount,
                               p.EdgeType, p.SpaceType, p.Flags, p.Output, p.Trim, parser.Hide(),
                               parser.End(), parser.Yes(), parser.Files().ToVector(),
                               parser.ReportPath(), parser.SkipExisting(), parser.Strict());
    };
    const std::pair<Words, Words> cases[] = {
        {{"--hide", "--yes"}, {"/hide", "/yes"}},
        {{"--reset", "--empty=bed.png", "--empty="}, {"/reset", "/empty:bed.png", "/empty:"}},
        {{"--cut=btlr", "--rotate=lr"}, {"/cut:btlr", "/rotate:lr"}},
        {{"--deep-cut=off", "--size=640,480", "--trim=0,9"},
         {"/deep_cut:off", "/size:640,480", "/trim:0,9"}},
        {{"--out=cut", "--format=jpg,85", "--thread=4"},
         {"/out:cut", "/format:jpg,85", "/thread:4"}},
        {{"--files-from=/fake/l", "--null", "--report=r.jsonl", "--skip-existing", "--strict"},
         {"/files_from:/fake/l", "/null", "/report:r.jsonl", "/skip_existing", "/strict"}},
        // Neither spelling of an option: files, as before.
        {{"--output.png", "--deep_cut=on", "-hide"}, {"--output.png", "--deep_cut=on", "-hide"}},
    };
    for (const auto& [gnu, own] : cases) {
        EXPECT_EQ(parsed(gnu), parsed(own)) << gnu.front();
    }

    AppSettings settings;
    TestParser parser(settings);
    parser.OnArguments({"--yes", "--", "--x.png", "/end", "/HIDE", "--"});
    EXPECT_TRUE(parser.Yes());
    EXPECT_FALSE(parser.End());
    EXPECT_EQ(parser.Files().ToVector(),
              (Words{Cwd() + "/--x.png", "/end", "/HIDE", Cwd() + "/--"}));

    using Request = qv::CCommandLineParser::Request;
    EXPECT_EQ(Request::Help, qv::CCommandLineParser::RequestOf({"/cut:x", "-h", "-V"}));
    EXPECT_EQ(Request::Version, qv::CCommandLineParser::RequestOf({"--version", "--help"}));
    EXPECT_EQ(Request::Run, qv::CCommandLineParser::RequestOf({"--", "--help", "-V"}));
}

// The paths of a list join the files where the option stands; /null holds
// wherever it stands; entries are taken byte for byte (blanks, a carriage
// return, dashes, bytes that are no UTF-8), relative ones made absolute,
// empty ones skipped, also across the reader's blocks.
TEST(CommandLineParser, FilesFromLists) {
    const TempDir dir;
    const std::string lines = dir.Path() + "/lines.txt";
    const std::string nul = dir.Path() + "/nul.bin";
    WriteFileBytes(lines, "a b.png\n-dash.png\n\n/abs/x.png\nwin.png\r\nlast.png");
    std::string many;
    for (int i = 0; i < 20000; ++i) {
        many += "page-" + std::to_string(i) + ".png" + '\0';
    }
    WriteFileBytes(nul, std::string("new\nline.png\0\0\xff\xfe.png\0", 21) + many);
    const std::string cwd = Cwd();
    AppSettings settings;
    TestParser parser(settings);
    parser.OnArguments({"one.png", "--files-from=" + lines, "two.png"});
    EXPECT_EQ(parser.Files().ToVector(),
              (Words{cwd + "/one.png", cwd + "/a b.png", cwd + "/-dash.png", "/abs/x.png",
                     cwd + "/win.png\r", cwd + "/last.png", cwd + "/two.png"}));

    parser.OnArguments({"/files_from:" + nul, "/fake/l", "/null"});
    const CPathList& files = parser.Files();
    ASSERT_EQ(files.size(), 20003u);
    EXPECT_EQ(files[0], cwd + "/new\nline.png");
    EXPECT_EQ(files[1], cwd + "/\xff\xfe.png");
    EXPECT_EQ(files[9001], cwd + "/page-8999.png");
    EXPECT_EQ(files[20001], cwd + "/page-19999.png");
    EXPECT_EQ(files[20002], "/fake/l");
}

TEST(CommandLineParser, StopsAtTheFirstBadWordKeepingEarlierOptions) {
    AppSettings settings;
    TestParser parser(settings);
    EXPECT_THROW(parser.OnArguments({"/format:bmp", "a.png", "/x", "/thread:4"}), my::CException);
    EXPECT_EQ(settings.SaveType, SaveTypeBmp);
    EXPECT_EQ(settings.ThreadCount, 1);
}

// Each accepted word against the fields it sets, from a record holding
// EdgeType 77, SpaceType 77, SaveType 99, JpegQuality 33, ThreadCount 5,
// TiffCompression 44.
TEST(CommandLineParser, AcceptedValues) {
    // edge, space, save, quality, threads, TIFF compression
    using Fields = std::array<long long, 6>;
    const auto parsed = [](const std::string& word) {
        AppSettings s;
        s.AutoTrim.EdgeType = s.AutoTrim.SpaceType = 77;
        s.SaveType = 99;
        s.JpegQuality = 33;
        s.ThreadCount = 5;
        s.TiffCompression = 44;
        TestParser(s).OnArguments({word});
        return Fields{s.AutoTrim.EdgeType, s.AutoTrim.SpaceType, s.SaveType,
                      s.JpegQuality,       s.ThreadCount,        s.TiffCompression};
    };
    const std::pair<const char*, Fields> cases[] = {
        {"/rotate:rl", {7, 77, 99, 33, 5, 44}},
        {"/cut:btlr", {77, 1, 99, 33, 5, 44}},    // letters in any order
        {"/format:Jpg", {77, 77, 2, 33, 5, 44}},  // no quality: kept
        {"/format:JPEG,007", {77, 77, 2, 7, 5, 44}},
        {"/format:jpg,101", {77, 77, 2, 101, 5, 44}},  // range checked later, not here
        {"/format:jpg,99999999999", {77, 77, 2, 2147483647, 5, 44}},
        {"/format:PnG", {77, 77, 1, 33, 5, 44}},
        {"/format:TIFF", {77, 77, 3, 33, 5, 44}},  // no compression: kept
        {"/format:tif,lzw", {77, 77, 3, 33, 5, 5}},
        {"/format:Tiff,DEFLATE", {77, 77, 3, 33, 5, 8}},
        {"/thread:99", {77, 77, 99, 33, 99, 44}},
        {"/thread:99999999999999999999", {77, 77, 99, 33, 99, 44}},  // capped
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

// What a reset keeps and clears is held in the settings' own tests; here
// it comes first and later words override it.
TEST(CommandLineParser, ResetFirstThenOverrides) {
    AppSettings settings;
    settings.EmptyPath = {"/bed.png"};
    settings.SaveType = SaveTypeTiff;
    settings.ThreadCount = 7;
    TestParser(settings).OnArguments({"/reset", "/format:bmp", "x.png"});
    EXPECT_EQ(settings.EmptyPath, (HistoryList{"", "/bed.png"}));
    EXPECT_EQ(settings.SaveType, SaveTypeBmp);
    EXPECT_EQ(settings.ThreadCount, AppSettings{}.ThreadCount);
}

TEST(CommandLineParser, PosixPathRule) {
    LanguageScope english(Language::English);
    AppSettings settings;
    TestParser parser(settings, {"/hide", "/outdir", "/スキャン.png"});
    parser.OnArguments({
        "/home/me/scan.png",        // a second '/' before any ':'
        "/home/me/a:b.png",         // ':' after the second '/'
        "/hide",                    // existing folder named like an option
        "/outdir",                  // existing, so no ':' is needed
        "/スキャン.png",            // existing Japanese name at the root
        "写真/ページ.png",          // relative: made absolute
        "-hide",                    // not an option
        R"(a\b.png)",               // backslash belongs to the name
        "/empty:/home/me/bed.png",  // an option: no '/' before its ':'
        "a.png",                    // duplicates are kept
        "a.png",                    //
    });
    const std::string cwd = Cwd();
    EXPECT_EQ(parser.Files().ToVector(),
              (Words{"/home/me/scan.png", "/home/me/a:b.png", "/hide", "/outdir", "/スキャン.png",
                     cwd + "/写真/ページ.png", cwd + "/-hide", cwd + R"(/a\b.png)", cwd + "/a.png",
                     cwd + "/a.png"}));
    EXPECT_FALSE(parser.Hide());
    EXPECT_EQ(settings.EmptyImagePath(), "/home/me/bed.png");

    // Without the folder, the same words are options again.
    EXPECT_EQ(Rejection({"/outdir"}).first, 58751u);
    EXPECT_EQ(Rejection({"/スキャン.png"}).first, 58749u);
    EXPECT_EQ(Rejection({"/dir:/x.png"}).first, 58749u);
}

TEST(CommandLineParser, RealFileSystemAndTextCommandLine) {
    // The root folder /tmp exists on every POSIX system.
    AppSettings settings;
    qv::CCommandLineParser parser(settings);
    parser.OnArguments({"/end", "/tmp", "/tmp/"});
    EXPECT_TRUE(parser.End());
    EXPECT_EQ(parser.Files().ToVector(), (Words{"/tmp", "/tmp/"}));

    // Every run starts with the flags cleared.
    parser.Parse(R"(quorvel /yes "my scan.png")");
    EXPECT_TRUE(parser.Yes());
    EXPECT_FALSE(parser.End());
    EXPECT_EQ(parser.Files().ToVector(), (Words{Cwd() + "/my scan.png"}));
}

// The option words of a line, without their values: "/cut:SIDES, --cut=SIDES"
// gives /cut and --cut.
void AddOptionWords(const std::string& line, std::set<std::string>& words) {
    std::istringstream tokens(line);
    std::string token;
    while (tokens >> token) {
        if (token.starts_with('/') || token.starts_with('-')) {
            words.insert(token.substr(0, token.find_first_of(":=,")));
        }
    }
}

// The usage text's option lines ("  /name..." up to the description) and the
// manual page's tagged paragraphs name the same options.
TEST(UsageText, NamesTheOptionsOfTheManualPage) {
    std::set<std::string> manual;
    std::ifstream page(QV_MAN_PAGE);
    ASSERT_TRUE(page) << QV_MAN_PAGE;
    std::string line;
    for (bool tagged = false; std::getline(page, line); tagged = line == ".TP") {
        if (tagged) {
            line = line.substr(line.find(' ') + 1);  // without the macro
            const std::pair<std::string, std::string> markup[] = {{"\\fB", " "}, {"\\fI", " "},
                                                                  {"\\fR", " "}, {"\\fP", " "},
                                                                  {"\"", " "},   {"\\-", "-"}};
            for (const auto& [from, to] : markup) {
                for (std::size_t at; (at = line.find(from)) != std::string::npos;) {
                    line.replace(at, from.size(), to);
                }
            }
            AddOptionWords(line, manual);
        }
    }
    EXPECT_GT(manual.size(), 26u);
    for (const Language language : {Language::English, Language::Japanese}) {
        std::set<std::string> usage;
        std::istringstream text(FindString(40100, language));
        while (std::getline(text, line)) {
            if (line.starts_with("  /") || line.starts_with("  -")) {
                AddOptionWords(line.substr(0, line.find("  ", 2)), usage);
            }
        }
        EXPECT_EQ(usage, manual);
    }
}

TEST(ToFullPath, RelativeToTheLogicalCurrentDirectory) {
    const auto oldCwd = std::filesystem::current_path();
    const std::string oldPwd = std::getenv("PWD") != nullptr ? std::getenv("PWD") : "";
    const TempDir dir;
    const std::filesystem::path root = dir.Path();
    const std::string link = (root / "link").string();
    std::filesystem::create_directory(root / "real");
    std::filesystem::create_directory_symlink(root / "real", link);
    std::filesystem::current_path(link);
    setenv("PWD", link.c_str(), 1);
    const std::string longName(5000, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"./a//b/./c.png", link + "/a/b/c.png"},
        {"dir/", link + "/dir/"},
        {"../x.png", link + "/../x.png"},  // not folded: link/.. is not root
        {"/a/../b", "/a/../b"},
        {longName, link + "/" + longName},
    };
    for (const auto& [path, full] : cases) {
        EXPECT_EQ(CCommandLineParserUtil::ToFullPath(path), full) << path.substr(0, 20);
    }

    // A stale or relative $PWD is not trusted: the physical folder is used.
    for (const char* pwd : {"/tmp", "link"}) {
        setenv("PWD", pwd, 1);
        EXPECT_EQ(CCommandLineParserUtil::ToFullPath("x.png"),
                  std::filesystem::canonical(root / "real").string() + "/x.png")
            << pwd;
    }

    // An unreadable current folder keeps the path as it is.
    std::filesystem::create_directory(root / "gone");
    std::filesystem::current_path(root / "gone");
    std::filesystem::remove(root / "gone");
    unsetenv("PWD");
    EXPECT_EQ(CCommandLineParserUtil::ToFullPath("x.png"), "x.png");

    std::filesystem::current_path(oldCwd);
    setenv("PWD", oldPwd.c_str(), 1);
}

}  // namespace
