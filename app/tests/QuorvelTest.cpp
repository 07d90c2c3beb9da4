// End-to-end tests: the built program run on generated scans in a
// temporary folder, without a display, each run with its own settings file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "image/PixelKind.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int exitCode = -1;
    std::string out;  // standard output (or the terminal, for pty runs)
    std::string err;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

class Workspace {
  public:
    fs::path operator/(const std::string& name) const { return root_ / name; }
    std::string Registry() const { return (root_ / "settings.reg").string(); }

    // Writes a small generated scan (RGB PNG at 40 dpi), and its empty bed
    // when asked; its truth.
    scangen::ScanTruth Scan(const std::string& name, double skew = 1.5, std::uint32_t seed = 3,
                            const std::string& bedName = {}, int width = 320, int height = 440,
                            scangen::BookEdge bookEdge = scangen::BookEdge::None) const {
        scangen::ScanOptions options = scangen::MakeScanOptions(width, height, 40);
        options.skewDegrees = skew;
        options.seed = seed;
        options.bookEdge = bookEdge;
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        EXPECT_EQ(scan.result, S_OK);
        EXPECT_TRUE(scangen::WritePng(scan.scan, (root_ / name).string(), 40));
        if (!bedName.empty()) {
            EXPECT_TRUE(scangen::WritePng(scan.emptyBed, (root_ / bedName).string(), 40));
        }
        return scan.truth;
    }
    // A page running off the left border: written, but it needs a look.
    void OffBorderScan(const std::string& name) const {
        Scan(name, 0.0, 5, {}, 320, 440, scangen::BookEdge::Left);
    }

    // Runs the program in the workspace with no display and English texts;
    // `meanwhile` is called with its process id while it runs.
    Result Run(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {},
               const std::function<void(pid_t)>& meanwhile = {}) const {
        int outPipe[2], errPipe[2], inPipe[2];
        EXPECT_EQ(pipe(outPipe), 0);
        EXPECT_EQ(pipe(errPipe), 0);
        EXPECT_EQ(pipe(inPipe), 0);
        // Small enough for the pipe's buffer: written before the program reads.
        EXPECT_EQ(write(inPipe[1], input_.data(), input_.size()), ssize_t(input_.size()));
        close(inPipe[1]);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            close(outPipe[0]), close(errPipe[0]);
            dup2(inPipe[0], 0);  // no terminal either
            setsid();
            if (memoryLimit_ != 0) {
                const rlimit limit{memoryLimit_, memoryLimit_};
                setrlimit(RLIMIT_AS, &limit);
            }
            if (fileSizeLimit_ != 0) {
                const rlimit limit{fileSizeLimit_, fileSizeLimit_};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            Exec(args, env);
        }
        close(outPipe[1]), close(errPipe[1]), close(inPipe[0]);
        if (meanwhile) {
            meanwhile(pid);
        }
        Result result;
        result.out = ReadAll(outPipe[0]);
        result.err = ReadAll(errPipe[0]);
        close(outPipe[0]), close(errPipe[0]);
        result.exitCode = Wait(pid);
        return result;
    }

    // Runs the program on a pseudo-terminal (`columns` wide, unless 0);
    // `answer` is typed once the prompt appears.
    Result RunOnTerminal(const std::vector<std::string>& args, const std::string& answer,
                         unsigned short columns = 0) const {
        int master = -1;
        winsize size{24, columns, 0, 0};
        const pid_t pid = forkpty(&master, nullptr, nullptr, columns != 0 ? &size : nullptr);
        if (pid == 0) {
            Exec(args);
        }
        Result result;
        bool answered = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buffer[1024];
                const ssize_t n = read(master, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                result.out.append(buffer, static_cast<std::size_t>(n));
            }
            if (!answered && result.out.find("> ") != std::string::npos) {
                EXPECT_EQ(write(master, answer.data(), answer.size()),
                          static_cast<ssize_t>(answer.size()));
                answered = true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                break;
            }
        }
        close(master);
        result.exitCode = Wait(pid);
        return result;
    }

  private:
    [[noreturn]] void Exec(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env = {}) const {
        if (chdir(root_.c_str()) != 0) {
            _exit(126);
        }
        alarm(120);  // a run that waits for nobody ends as a failure, not a hang
        setenv("QUORVEL_REGISTRY", Registry().c_str(), 1);
        setenv("LANG", "C", 1);
        unsetenv("LANGUAGE"), unsetenv("LC_ALL"), unsetenv("LC_MESSAGES");
        unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY"), unsetenv("QT_QPA_PLATFORM");
        for (const auto& [name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv{const_cast<char*>(QUORVEL_BINARY)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(QUORVEL_BINARY, argv.data());
        _exit(127);
    }

    static int Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  public:
    // Address space the program may use (RLIMIT_AS) and the largest file it
    // may write (RLIMIT_FSIZE), 0 for no limit.
    rlim_t memoryLimit_ = 0;
    rlim_t fileSizeLimit_ = 0;
    // What the program reads on its standard input.
    std::string input_;

  private:
    TempDir dir_;
    fs::path root_ = dir_.Path();
};

// Waits until `ready` (at most a minute), then sends `signal`.
std::function<void(pid_t)> SignalWhen(std::function<bool()> ready, int signal) {
    return [ready, signal](pid_t pid) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!ready() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        kill(pid, signal);
    };
}

bool IsImage(const fs::path& path) {
    ImagePtr image;
    return LoadImageFromFile(image, path.string()) == S_OK;
}

// The lines of a run report, each parsed (file names may hold any bytes);
// a line that is no JSON object fails the test.
std::vector<boost::json::object> ReportLines(const std::string& text) {
    std::vector<boost::json::object> lines;
    boost::json::parse_options options;
    options.allow_invalid_utf8 = true;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        boost::system::error_code ec;
        const boost::json::value line =
            boost::json::parse(std::string_view(text).substr(start, end - start), ec, {}, options);
        EXPECT_TRUE(!ec && line.is_object()) << text.substr(start, end - start);
        lines.push_back(line.is_object() ? line.as_object() : boost::json::object());
    }
    EXPECT_EQ(start, text.size()) << "the last line is ended";
    return lines;
}

// The columns a text of ASCII and katakana (three bytes of UTF-8, two
// columns each) takes on a terminal.
std::size_t TerminalColumns(std::string_view text) {
    std::size_t columns = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        columns += byte < 0x80 ? 1 : byte >= 0xE0 ? 2 : 0;
    }
    return columns;
}

std::string Text(const boost::json::value& value) {
    return value.is_string() ? std::string(value.as_string()) : "(" + serialize(value) + ")";
}

TEST(Quorvel, ProcessesFilesIntoTheSubfolderWithTheirResolutionAndNames) {
    Workspace ws;
    ws.Scan("a.png", 1.5, 3, "bed.png");
    ws.Scan("b.png", -2.0, 4);

    const Result run = ws.Run({"/hide", "/empty:bed.png", "/cut:ltrb", "/format:jpg,90", "a.png",
                               (ws / "b.png").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(FolderEntries(ws / "trim"), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    ImagePtr image;
    ASSERT_EQ(LoadImageFromFile(image, (ws / "trim/a.jpg").string()), S_OK);
    EXPECT_FLOAT_EQ(image->GetHorizontalResolution(), 40.0f);
    EXPECT_LT(image->GetWidth(), 320u);
    EXPECT_GT(image->GetWidth(), 200u);

    ws.Scan("原稿 1.png");  // the stored settings carry over: JPEG
    const Result japanese = ws.Run({"/hide", "/cut:ltrb", "/out:切り抜き", "原稿 1.png"});
    EXPECT_EQ(japanese.exitCode, 0) << japanese.err;
    EXPECT_TRUE(fs::exists(ws / "切り抜き/原稿 1.jpg"));
}

TEST(Quorvel, ExitCodesWithoutFilesAndForRejectedCommandLines) {
    Workspace ws;
    ws.Scan("a.png");
    EXPECT_EQ(ws.Run({"/hide"}).exitCode, 0);

    // Reported once, also with an unreachable display; nothing processed and
    // no settings written.
    fs::remove(ws.Registry());
    const Result run = ws.Run({"/hide", "/bogus", "a.png"}, {{"DISPLAY", ":97"}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(fs::exists(ws / "trim"));
    EXPECT_NE(run.err.find("Unknown"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Unknown"), run.err.rfind("Unknown"));
    EXPECT_FALSE(fs::exists(ws.Registry()));
}

TEST(Quorvel, HelpAndVersionOnStandardOutputWithoutSettings) {
    Workspace ws;
    const Result version = ws.Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quorvel " QUORVEL_VERSION "\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"/hide", "/bogus", "-h"}, {"/?", "-V"}}) {
        const Result help = ws.Run(args);
        EXPECT_EQ(help.exitCode, 0) << args.back();
        EXPECT_EQ(help.err, "");
        EXPECT_TRUE(help.out.starts_with("Usage: quorvel [OPTION]... [FILE]...\n")) << help.out;
        EXPECT_NE(help.out.find("Settings: " + ws.Registry() + "\n"), std::string::npos);
    }
    const Result japanese = ws.Run({"--help"}, {{"LANG", "ja_JP.UTF-8"}});
    EXPECT_TRUE(japanese.out.starts_with("使い方: quorvel")) << japanese.out;
    EXPECT_FALSE(fs::exists(ws.Registry()));
}

TEST(Quorvel, VisibleRunsNeedADisplayAndBoxesOnlyWhereSomeoneSeesThem) {
    Workspace ws;
    ws.Scan("a.png");
    // No display: said on standard error, exit 1, nothing processed.
    const Result none = ws.Run({"/end", "/cut:ltrb", "a.png"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("cannot open a display"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(ws / "trim"));

    // A platform that draws nowhere makes windows but shows no message box:
    // a rejected command line ends at once, on standard error.
    const std::map<std::string, std::string> offscreen{{"QT_QPA_PLATFORM", "offscreen"}};
    const Result rejected = ws.Run({"/hide", "/bogus"}, offscreen);
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_NE(rejected.err.find("Unknown command line option is specified\n\n/bogus"),
              std::string::npos)
        << rejected.err;

    // The window processes the command line's files and /end closes it.
    const Result visible = ws.Run({"/end", "/cut:ltrb", "a.png"}, offscreen);
    EXPECT_EQ(visible.exitCode, 0) << visible.err;
    EXPECT_TRUE(fs::exists(ws / "trim/a.png"));
    EXPECT_EQ(ws.Run({"/end"}, offscreen).exitCode, 0);
    // The unseen overwrite question answers Cancel; the batch does not start.
    const Result refused = ws.Run({"/end", "a.png"}, offscreen);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("1 files will be overwritten"), std::string::npos) << refused.err;
    // The window saved its placement with the settings.
    const std::string stored = ReadFileBytes(ws.Registry());
    const std::size_t window = stored.find("\\Setting\\Window]");
    ASSERT_NE(window, std::string::npos) << stored;
    EXPECT_EQ(stored.find("\"Right\"=dword:00000000", window), std::string::npos) << stored;
}

TEST(Quorvel, MissingInputsAndFailingFilesEndWithTheirMessage) {
    Workspace ws;
    ws.Scan("a.png");
    const Result missing = ws.Run({"/hide", "/cut:ltrb", "--report=-", "a.png", "nothere.png"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("Path not found\n\n" + (ws / "nothere.png").string()),
              std::string::npos)
        << missing.err;
    // The report says the run was refused, and why.
    const std::vector<boost::json::object> refused = ReportLines(missing.out);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(Text(refused[0].at("summary").at("end")), "refused");
    EXPECT_EQ(Text(refused[0].at("summary").at("message")),
              "Path not found\n\n" + (ws / "nothere.png").string());
    EXPECT_EQ(refused[0].at("summary").at("not_processed"), 2);
    fs::create_directory(ws / "folder");
    const Result folder = ws.Run({"/hide", "a.png", "folder"});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find("is a folder\n\n" + (ws / "folder").string()), std::string::npos)
        << folder.err;
    // Results stay below their source's folder: nothing replaces a.png one
    // folder up, or lands anywhere else.
    fs::create_directory(ws / "in");
    fs::copy_file(ws / "a.png", ws / "in/a.png");
    const std::string before = ReadFileBytes((ws / "a.png").string());
    for (const std::string out : {"/qv-no-such-root", "..", "a/../../x", "."}) {
        const Result outside = ws.Run({"/hide", "/yes", "/cut:ltrb", "/out:" + out, "in/a.png"});
        EXPECT_EQ(outside.exitCode, 1);
        EXPECT_NE(outside.err.find("path is invalid\n\n" + out + "\n"), std::string::npos)
            << outside.err;
    }
    EXPECT_EQ(ReadFileBytes((ws / "a.png").string()), before);
    EXPECT_EQ(FolderEntries(ws / "in"), std::vector<std::string>{"a.png"});
    EXPECT_FALSE(fs::exists(ws / "x"));
    EXPECT_FALSE(fs::exists(ws / "trim"));

    // A failed file leaves no empty output folder behind.
    std::ofstream(ws / "broken.png") << "this is no image";
    const Result broken = ws.Run({"/hide", "/out:trim", "broken.png"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.err.find("failed to read image - not an image file\n\n" +
                              (ws / "broken.png").string()),
              std::string::npos)
        << broken.err;
    EXPECT_FALSE(fs::exists(ws / "trim"));

    // Half a JPEG is a failure, not a strip of a page.
    ASSERT_EQ(ws.Run({"/hide", "/format:jpg", "a.png"}).exitCode, 0);
    const std::string jpeg = ReadFileBytes((ws / "trim/a.jpg").string());
    std::ofstream(ws / "half.jpg", std::ios::binary) << jpeg.substr(0, jpeg.size() / 2);
    const Result half = ws.Run({"/hide", "half.jpg"});
    EXPECT_EQ(half.exitCode, 1);
    EXPECT_NE(half.err.find("failed to read image - Reached the end of the file.\n\n" +
                            (ws / "half.jpg").string()),
              std::string::npos)
        << half.err;
    EXPECT_FALSE(fs::exists(ws / "trim/half.jpg"));

    // A result that cannot be written says why (the settings file still can).
    ws.fileSizeLimit_ = 16 << 10;
    const Result tooLarge = ws.Run({"/hide", "/yes", "/format:bmp", "a.png"});
    EXPECT_EQ(tooLarge.exitCode, 1);
    EXPECT_EQ(tooLarge.err,
              "failed to save image - The file size exceeds the limit allowed and "
              "cannot be saved.\n\n" +
                  (ws / "trim/a.bmp").string() + "\n\n" + (ws / "a.png").string() + "\n");
    EXPECT_EQ(FolderEntries(ws / "trim"), std::vector<std::string>{"a.jpg"});
}

// Old results are replaced one by one by complete new ones: a file that
// fails, is interrupted or is never reached keeps its old result. A hang-up
// stops the run like an interrupt, and no temporary file is left; ours from
// a run killed more than a day ago are removed, younger ones (a save still
// running, on a slow disk) kept.
TEST(Quorvel, OldResultsSurviveAFailedOrInterruptedRerun) {
    Workspace ws;
    std::vector<std::string> args{"/hide", "/yes", "/cut:ltrb", "/thread:1"};
    for (int i = 0; i < 10; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        if (i < 2) {
            ws.Scan(name, 1.0 - i, 30 + i, {}, 640, 880);
        } else {
            fs::copy_file(ws / ("p" + std::to_string(i % 2) + ".png"), ws / name);
        }
        args.push_back(name);
    }
    auto output = [&](int i) { return ws / ("trim/p" + std::to_string(i) + ".png"); };
    auto isOld = [&](int i) {
        return ReadFileBytes(output(i).string()) == "old " + std::to_string(i);
    };
    auto markOld = [&] {
        fs::create_directories(ws / "trim");
        for (int i = 0; i < 10; ++i) {
            std::ofstream(output(i), std::ios::trunc) << "old " << i;
        }
    };
    // Each output is old or new and whole; how many are new.
    auto renewed = [&] {
        int count = 0;
        for (int i = 0; i < 10; ++i) {
            if (!isOld(i)) {
                EXPECT_TRUE(IsImage(output(i))) << i;
                ++count;
            }
        }
        EXPECT_EQ(FolderEntries(ws / "trim").size(), 10u) << "no temporary file";
        return count;
    };
    fs::create_directories(ws / "trim");
    const auto now = fs::file_time_type::clock::now();
    for (const char* name : {".p0.png.k3x9a0qz", ".notes.txt.k3x9a0qz"}) {
        std::ofstream(ws / "trim" / name) << "partial";
        fs::last_write_time(ws / "trim" / name, now - std::chrono::hours(48));
    }
    std::ofstream(ws / "trim/.p1.png.k3x9a0qz") << "a save running now";
    std::ofstream(ws / "trim/.p2.png.k3x9a0qz") << "a save on a slow disk";
    fs::last_write_time(ws / "trim/.p2.png.k3x9a0qz", now - std::chrono::hours(1));

    markOld();
    const std::string p1 = ReadFileBytes((ws / "p1.png").string());
    std::ofstream(ws / "p1.png", std::ios::binary | std::ios::trunc) << p1.substr(0, p1.size() / 2);
    const Result corrupt = ws.Run(args);
    EXPECT_FALSE(fs::exists(ws / "trim/.p0.png.k3x9a0qz")) << "stale";
    ASSERT_TRUE(fs::remove(ws / "trim/.notes.txt.k3x9a0qz")) << "not ours";
    ASSERT_TRUE(fs::remove(ws / "trim/.p1.png.k3x9a0qz")) << "fresh";
    ASSERT_TRUE(fs::remove(ws / "trim/.p2.png.k3x9a0qz")) << "an hour old";
    EXPECT_EQ(corrupt.exitCode, 1);
    EXPECT_NE(corrupt.err.find("p1.png"), std::string::npos) << corrupt.err;
    EXPECT_GE(renewed(), 1);
    EXPECT_FALSE(isOld(0));
    EXPECT_TRUE(isOld(1));
    EXPECT_TRUE(isOld(9)) << "never reached";

    // Interrupted or hung up once the third result is in place.
    std::ofstream(ws / "p1.png", std::ios::binary | std::ios::trunc) << p1;
    for (const int signal : {SIGINT, SIGHUP}) {
        markOld();
        const Result stopped = ws.Run(args, {}, SignalWhen([&] { return !isOld(2); }, signal));
        EXPECT_EQ(stopped.exitCode, 1) << "stopped, not killed by " << signal;
        const int count = renewed();
        EXPECT_GE(count, 3);
        EXPECT_LT(count, 10);
    }
}

// The settings file named through a link to a character device means
// "keep nothing"; a pipe or an oversized file is never read, and neither is
// ever moved or replaced. A damaged file is used as far as it parses, said
// once, and kept aside at the next save.
TEST(Quorvel, SettingsPathThatIsNoRegularFileOrDamaged) {
    Workspace ws;
    ws.Scan("a.png");
    const fs::path device = ws / "null-device";
    const bool haveDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (haveDevice) {
        fs::create_symlink(device, ws / "link.reg");
        const Result run = ws.Run({"/hide", "/cut:ltrb", "a.png"},
                                  {{"QUORVEL_REGISTRY", (ws / "link.reg").string()}});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(fs::is_symlink(ws / "link.reg"));
        EXPECT_TRUE(fs::is_character_file(device));
        EXPECT_TRUE(IsImage(ws / "trim/a.png"));
    }

    // Settings that cannot be kept never stop a good batch: one warning,
    // and the batch's own exit code.
    mkfifo((ws / "fifo.reg").c_str(), 0600);
    std::ofstream(ws / "file") << "a file, no folder";
    for (const auto& [path, warning] :
         {std::pair{(ws / "fifo.reg").string(),
                    "the settings file is not a regular file; the default settings are used"},
          std::pair{(ws / "file/settings.reg").string(),
                    "the settings could not be saved; the run goes on without saving them - The "
                    "system cannot find the path specified."}}) {
        const Result run =
            ws.Run({"/hide", "/cut:ltrb", "/yes", "a.png"}, {{"QUORVEL_REGISTRY", path}});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, warning + ("\n\n" + path) + "\n");
    }
    EXPECT_TRUE(fs::is_fifo(ws / "fifo.reg"));

    std::ofstream(ws / "big.reg") << std::string(1100000, ';');
    const Result big = ws.Run({"/hide", "/cut:ltrb", "/yes", "a.png"},
                              {{"QUORVEL_REGISTRY", (ws / "big.reg").string()}});
    EXPECT_EQ(big.exitCode, 0) << big.err;
    EXPECT_NE(big.err.find("larger than 1 MB"), std::string::npos) << big.err;
    // Kept aside before it was replaced; nothing made beside the others.
    const std::vector<std::string> names = FolderEntries(ws / "");
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.starts_with("big.reg.corrupt-"); }),
              1);
    for (const std::string& name : names) {
        EXPECT_FALSE(name.starts_with("fifo.reg.") || name.starts_with("null-device.")) << name;
    }

    const std::string damagedPath = (ws / "damaged.reg").string();
    const std::string notice =
        "the settings file is damaged; the settings that could be read "
        "are used, and the file is kept aside when the settings are next "
        "saved\n\n" +
        damagedPath + "\n";
    // Hidden: on standard error; visible (offscreen: no box to show it in) the same text.
    for (const auto& args : {std::vector<std::string>{"/hide", "/yes", "/cut:ltrb", "a.png"},
                             std::vector<std::string>{"/end", "/yes", "/cut:ltrb", "a.png"}}) {
        std::ofstream(damagedPath)
            << "Windows Registry Editor Version 5.00\n\n"
            << "[HKEY_CURRENT_USER\\Software\\Kelvaro\\Quorvel\\Setting]\n"
            << "\"ThreadCount\"=dword:00000002\nno line of a settings file\n";
        const Result damaged =
            ws.Run(args, {{"QUORVEL_REGISTRY", damagedPath}, {"QT_QPA_PLATFORM", "offscreen"}});
        EXPECT_EQ(damaged.exitCode, 0) << damaged.err;
        EXPECT_NE(damaged.err.find(notice), std::string::npos) << damaged.err;
        EXPECT_EQ(damaged.err.find(notice), damaged.err.rfind(notice));
        EXPECT_NE(ReadFileBytes(damagedPath).find("\"ThreadCount\"=dword:00000002"),
                  std::string::npos);
    }
    EXPECT_EQ(ws.Run({"/hide", "a.png"}, {{"QUORVEL_REGISTRY", damagedPath}}).err.find("damaged"),
              std::string::npos);
    if (!haveDevice) {
        GTEST_SKIP() << "no device node could be made here (needs root)";
    }
}

// A file declaring 2147483647 × 1 pixels is refused before any memory is
// taken for it, also by the decoder's own row buffers.
TEST(Quorvel, HugeDeclaredSizeFailsCleanlyUnderAMemoryLimit) {
#ifdef QV_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than any limit allows";
#endif
    Workspace ws;
    ws.Scan("a.png");
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    auto chunk = [&](const std::string& typeAndData) {
        const auto* bytes = reinterpret_cast<const Bytef*>(typeAndData.data());
        return be32(static_cast<std::uint32_t>(typeAndData.size() - 4)) + typeAndData +
               be32(static_cast<std::uint32_t>(crc32(0, bytes, uInt(typeAndData.size()))));
    };
    std::ofstream(ws / "wide.png", std::ios::binary)
        << "\x89PNG\r\n\x1a\n"
        << chunk(std::string("IHDR\x7f\xff\xff\xff\0\0\0\x01\x08\x06\0\0\0", 17))
        << chunk(std::string("IDAT\x78\x01\x01\x00\x00\xff\xff", 11)) << chunk("IEND");
    ws.memoryLimit_ = rlim_t{512} << 20;
    const Result run = ws.Run({"/hide", "/cut:ltrb", "a.png", "wide.png"});
    EXPECT_EQ(run.exitCode, 1);
    const std::size_t message = run.err.find(
        "failed to read image - it needs 16385 MB of memory, "
        "more than the memory budget of ");
    EXPECT_NE(message, std::string::npos) << run.err;
    EXPECT_NE(
        run.err.find(" MB (QUORVEL_MEMORY sets it)\n\n" + (ws / "wide.png").string(), message),
        std::string::npos)
        << run.err;
    EXPECT_TRUE(IsImage(ws / "trim/a.png"));
}

// One memory budget for the process: four threads under an address-space
// limit in which four of these pages at once do not fit (they failed "for
// want of memory") process them as many at a time as the budget holds.
TEST(Quorvel, MemoryBudgetKeepsFourThreadsWithinAnAddressSpaceLimit) {
#ifdef QV_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than any limit allows";
#endif
    Workspace ws;
    ws.Scan("p0.png", 1.0, 7, {}, 3500, 4950);
    std::vector<std::string> args{"/hide", "/cut:ltrb", "/thread:4"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        if (i > 0) {
            fs::copy_file(ws / "p0.png", ws / name);
        }
        args.push_back(name);
    }
    ws.memoryLimit_ = rlim_t{700} << 20;
    const Result run = ws.Run(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(IsImage(ws / ("trim/p" + std::to_string(i) + ".png"))) << i;
    }
}

TEST(Quorvel, ProgressAndSummaryOnlyOnATerminal) {
    Workspace ws;
    ws.Scan("a.png");
    fs::copy_file(ws / "a.png", ws / "b.png");
    std::ofstream(ws / "broken.png") << "this is no image";
    const Result written = ws.RunOnTerminal({"/hide", "--cut=ltrb", "a.png", "b.png"}, "");
    EXPECT_EQ(written.exitCode, 0) << written.out;
    EXPECT_NE(written.out.find("2 files written to " + (ws / "trim").string() + " in "),
              std::string::npos)
        << written.out;
    // Each progress line counts from the batch's start (seconds here).
    for (std::size_t at = written.out.find(" elapsed"); at != std::string::npos;
         at = written.out.find(" elapsed", at + 1)) {
        EXPECT_EQ(written.out.substr(at - 4, 3), "0:0") << written.out;
    }

    const Result skipped = ws.RunOnTerminal({"/hide", "--skip-existing", "a.png", "b.png"}, "");
    EXPECT_EQ(skipped.exitCode, 0) << skipped.out;
    EXPECT_NE(skipped.out.find("0 files written to " + (ws / "trim").string() + " in "),
              std::string::npos)
        << skipped.out;
    EXPECT_NE(skipped.out.find("; 2 skipped\r\n"), std::string::npos) << skipped.out;

    // A page that needs a look: counted and listed under the summary; the
    // run ends with 0, with --strict with 3.
    ws.OffBorderScan("off.png");
    const Result review = ws.RunOnTerminal({"/hide", "/yes", "--strict", "a.png", "off.png"}, "");
    EXPECT_EQ(review.exitCode, 3) << review.out;
    EXPECT_NE(review.out.find("; 1 need a look\r\n  " + (ws / "off.png").string() +
                              ": page runs off the left border of the scan\r\n"),
              std::string::npos)
        << review.out;
    EXPECT_EQ(ws.Run({"/hide", "/yes", "a.png", "off.png"}).exitCode, 0);

    // Names that would retitle the terminal and clear it are shown, not
    // obeyed: in the progress line, the message and the summary.
    const std::string evil = "\x1b]0;owned\x07\x1b[2J\xc2\x9b";
    const std::string escaped = "\\x1b]0;owned\\x07\\x1b[2J\\u009b";
    fs::create_directory(ws / (evil + "scans"));
    // Large enough to be in the progress line when the timer ticks.
    ws.Scan(evil + "scans/" + evil + "a.png", 1.5, 3, {}, 2480, 3508);
    fs::copy_file(ws / "broken.png", ws / (evil + "scans") / (evil + ".png"));
    const Result failed = ws.RunOnTerminal(
        {"/hide", "/yes", evil + "scans/" + evil + "a.png", evil + "scans/" + evil + ".png"}, "");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.out.find("0 / 2  " + escaped + "a.png  "), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("failed to read image - not an image file\r\n\r\n" +
                              (ws / (escaped + "scans") / (escaped + ".png")).string()),
              std::string::npos)
        << failed.out;
    EXPECT_NE(
        failed.out.find("1 of 2 files written to " + (ws / (escaped + "scans/trim")).string()),
        std::string::npos)
        << failed.out;
    EXPECT_NE(failed.out.find("; 1 failed"), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find_first_of("\x1b\x07\x9b"), std::string::npos) << failed.out;

    // A name wider than a narrow terminal, in katakana (two columns each):
    // every progress line drawn stays within the width, so none wraps, and
    // the summary leaves nothing of them on its line.
    const std::string wide =
        "ページスキャンファイルページスキャンファイルページスキャンファイル.png";
    fs::copy_file(ws / "a.png", ws / ("ア" + wide));
    fs::copy_file(ws / "a.png", ws / ("イ" + wide));
    const Result narrow = ws.RunOnTerminal({"/hide", "/yes", "ア" + wide, "イ" + wide}, "", 60);
    EXPECT_EQ(narrow.exitCode, 0) << narrow.out;
    const std::size_t summary = narrow.out.find(" files written");
    ASSERT_NE(summary, std::string::npos) << narrow.out;
    const std::size_t begin = narrow.out.rfind('\n', summary) + 1;  // npos + 1 == 0
    std::vector<std::string> drawn;  // the texts drawn over each other, summary last
    for (std::size_t at = begin; at < narrow.out.find('\n', summary);) {
        const std::size_t next = std::min(narrow.out.find_first_of("\r\n", at), narrow.out.size());
        if (next > at) {
            drawn.push_back(narrow.out.substr(at, next - at));
        }
        at = next + 1;
    }
    ASSERT_GE(drawn.size(), 2u) << narrow.out;
    std::size_t shown = 0;  // the line's columns up to its last one not blank
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        const std::string& text = drawn[i];
        EXPECT_TRUE(i + 1 == drawn.size() || TerminalColumns(text) <= 59u) << text;
        if (TerminalColumns(text) >= shown) {
            shown = TerminalColumns(text.substr(0, text.find_last_not_of(' ') + 1));
        }
    }
    const std::string& last = drawn.back();
    EXPECT_EQ(shown, TerminalColumns(last.substr(0, last.find_last_not_of(' ') + 1))) << narrow.out;

    // Standard error a pipe: the message alone.
    const Result piped = ws.Run({"/hide", "/yes", "a.png", "broken.png"});
    EXPECT_EQ(piped.exitCode, 1);
    EXPECT_TRUE(piped.err.starts_with("failed to read image")) << piped.err;
    EXPECT_EQ(piped.err.find("written"), std::string::npos) << piped.err;
}

TEST(Quorvel, OverwriteQuestionOnTheTerminal) {
    Workspace ws;
    ws.Scan("a.png");
    ASSERT_EQ(ws.Run({"/hide", "/cut:ltrb", "a.png"}).exitCode, 0);
    const fs::path output = ws / "trim/a.png";
    std::ofstream(output, std::ios::trunc) << "old output";

    // Esc: nothing is deleted or written, exit code 1.
    const Result cancelled = ws.RunOnTerminal({"/hide", "a.png"}, "\x1b");
    EXPECT_EQ(cancelled.exitCode, 1);
    EXPECT_NE(cancelled.out.find("1 files will be overwritten"), std::string::npos)
        << cancelled.out;
    EXPECT_NE(cancelled.out.find("Push the key for Enter) Ok / Esc) Cancel"), std::string::npos);
    // The key is echoed as "Esc" after the "> " marker (a key typed before
    // the program switched the terminal off echo may show as "^[" too).
    const std::size_t marker = cancelled.out.rfind("> ");
    ASSERT_NE(marker, std::string::npos);
    EXPECT_NE(cancelled.out.find("Esc", marker), std::string::npos) << cancelled.out;
    EXPECT_EQ(fs::file_size(output), std::string("old output").size());

    // Without a terminal the question answers Cancel at once.
    EXPECT_EQ(ws.Run({"/hide", "a.png"}).exitCode, 1);
    EXPECT_EQ(fs::file_size(output), std::string("old output").size());

    // A wrong key is echoed with " !", then Enter overwrites.
    const Result confirmed = ws.RunOnTerminal({"/hide", "a.png"}, "x\r");
    EXPECT_EQ(confirmed.exitCode, 0) << confirmed.out;
    EXPECT_NE(confirmed.out.find("x !"), std::string::npos) << confirmed.out;
    EXPECT_GT(fs::file_size(output), 1000u);
}

TEST(Quorvel, SettingsSurviveBetweenRunsAndResetRestoresDefaults) {
    Workspace ws;
    ws.Scan("a.png");
    // A first run without stored settings works without any option: all
    // four sides are cut, no empty image is needed.
    const Result first = ws.Run({"/hide", "a.png"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    ASSERT_TRUE(fs::exists(ws / "trim/a.png"));
    fs::remove(ws / "trim/a.png");
    ASSERT_EQ(ws.Run({"/hide", "/cut:ltrb", "/format:tif", "/out:done", "/size:200,300",
                      "/trim:20,0", "a.png"})
                  .exitCode,
              0);
    // The next run uses the stored choices.
    const Result second = ws.Run({"/hide", "/yes", "a.png"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    ImagePtr image;
    ASSERT_EQ(LoadImageFromFile(image, (ws / "done/a.tif").string()), S_OK);
    EXPECT_EQ(image->GetWidth(), 180u);  // the output size less the trimming
    EXPECT_EQ(image->GetHeight(), 300u);

    // /reset brings the defaults back: PNG into "trim", all four sides.
    const Result reset = ws.Run({"/reset", "/hide", "a.png"});
    EXPECT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_TRUE(fs::exists(ws / "trim/a.png"));

    // A value the batch refuses is not kept: the next run does not fail for it.
    const Result refused = ws.Run({"/hide", "/format:jpg,99999999999", "a.png"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Jpeg quality exceeds range 0 ~ 100"), std::string::npos)
        << refused.err;
    EXPECT_NE(ReadFileBytes(ws.Registry()).find("\"JpegQuality\"=dword:00000050"),
              std::string::npos);
    const Result png = ws.Run({"/hide", "/yes", "/format:png", "a.png"});
    EXPECT_EQ(png.exitCode, 0) << png.err;
    // A stored choice of automatic sides stays, and still needs an empty image.
    ASSERT_EQ(ws.Run({"/hide", "/yes", "/cut:auto", "a.png"}).exitCode, 1);
    const Result stored = ws.Run({"/hide", "/yes", "a.png"});
    EXPECT_EQ(stored.exitCode, 1);
    EXPECT_NE(stored.err.find("If you do not specify Empty-image path"), std::string::npos)
        << stored.err;
}

// A fixed size larger than the scan and trimming that would take the whole
// page away are said once per file, as warnings; the files are written.
TEST(Quorvel, SizeRulesThePageCannotFollowAreSaidOncePerFile) {
    Workspace ws;
    ws.Scan("a.png");
    fs::copy_file(ws / "a.png", ws / "b.png");
    const Result run =
        ws.Run({"/hide", "/cut:ltrb", "/size:2000,300", "/trim:5000,0", "a.png", "b.png"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string reasons =
        "the page was not cut as asked - output size larger than the scan: the result is smaller; "
        "additional trimming would remove the whole page: not applied\n\n";
    const std::string a = reasons + (ws / "a.png").string() + "\n";
    const std::string b = reasons + (ws / "b.png").string() + "\n";
    EXPECT_TRUE(run.err == a + b || run.err == b + a) << run.err;
    EXPECT_TRUE(IsImage(ws / "trim/a.png"));
    EXPECT_TRUE(IsImage(ws / "trim/b.png"));
}

TEST(Quorvel, NeverOverwritesOneResultWithAnother) {
    Workspace ws;
    ws.Scan("a.png");
    ws.Scan("dup.png");
    fs::create_directories(ws / "other");
    fs::copy_file(ws / "dup.png", ws / "other/dup.png");
    // Two sources whose results would have the same name: refused.
    const Result clash = ws.Run({"/hide", "/yes", "/cut:ltrb", "/format:bmp", "dup.png",
                                 "other/../dup.png", (ws / "a.png").string()});
    EXPECT_EQ(clash.exitCode, 0) << clash.err;  // the same file named twice is fine
    fs::remove_all(ws / "trim");
    fs::copy_file(ws / "dup.png", ws / "dup.bmp");
    const Result lost = ws.Run({"/hide", "/yes", "/cut:ltrb", "/format:bmp", "dup.png", "dup.bmp"});
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_NE(lost.err.find("path is invalid\n\n" + (ws / "trim/dup.bmp").string()),
              std::string::npos)
        << lost.err;
    EXPECT_FALSE(fs::exists(ws / "trim/dup.bmp"));
}

// A report of every source (ok, review, failed; then skipped and redone in
// a run that appends to it), with each run's summary. A result older than
// its source is made again, a newer one left alone.
TEST(Quorvel, RunReportAndSkippingUpToDateResults) {
    Workspace ws;
    const scangen::ScanTruth truth = ws.Scan("a.png", 1.5, 3);
    ws.Scan("b.png", -2.0, 4);
    ws.OffBorderScan("off.png");
    std::ofstream(ws / "broken.png") << "this is no image";
    const std::vector<std::string> args{
        "/hide", "/yes",  "/cut:ltrb", "/thread:1", "--report=report.jsonl",
        "a.png", "b.png", "off.png",   "broken.png"};
    const Result first = ws.Run(args);
    EXPECT_EQ(first.exitCode, 1);
    std::vector<boost::json::object> lines =
        ReportLines(ReadFileBytes((ws / "report.jsonl").string()));
    ASSERT_EQ(lines.size(), 5u);

    const boost::json::object& ok = lines[0];
    std::vector<std::string> keys;
    for (const auto& entry : ok) {
        keys.emplace_back(entry.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"source", "output", "status", "reasons", "message",
                                              "angle_deg", "rotate_side", "page_corners", "crop",
                                              "output_size", "dpi", "ms", "kind", "saved_kind"}));
    EXPECT_EQ(Text(ok.at("source")), (ws / "a.png").string());
    EXPECT_EQ(Text(ok.at("output")), (ws / "trim/a.png").string());
    EXPECT_EQ(Text(ok.at("status")), "ok");
    EXPECT_TRUE(ok.at("reasons").as_array().empty());
    EXPECT_TRUE(ok.at("message").is_null());
    EXPECT_NEAR(ok.at("angle_deg").to_number<double>(), -1.5, 0.2);
    const std::string side = Text(ok.at("rotate_side"));
    EXPECT_TRUE(side == "left" || side == "top" || side == "right" || side == "bottom") << side;
    // Source pixels, top left first, clockwise.
    const boost::json::array& corners = ok.at("page_corners").as_array();
    ASSERT_EQ(corners.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(corners[i].at(0).to_number<double>(), truth.corners[i].x, 2.0) << i;
        EXPECT_NEAR(corners[i].at(1).to_number<double>(), truth.corners[i].y, 2.0) << i;
    }
    ImagePtr image;
    ASSERT_EQ(LoadImageFromFile(image, (ws / "trim/a.png").string()), S_OK);
    const boost::json::array& crop = ok.at("crop").as_array();
    ASSERT_EQ(crop.size(), 4u);
    EXPECT_EQ(crop[2].as_int64() - crop[0].as_int64(), image->GetWidth());
    EXPECT_EQ(ok.at("output_size"), (boost::json::array{image->GetWidth(), image->GetHeight()}));
    EXPECT_NEAR(ok.at("dpi").at(0).to_number<double>(), 40.0, 0.01);  // 1575 pixels per metre
    EXPECT_EQ(ok.at("dpi").at(0), ok.at("dpi").at(1));
    EXPECT_GE(ok.at("ms").as_int64(), 0);
    EXPECT_EQ(Text(ok.at("kind")), "colour8");
    EXPECT_EQ(Text(ok.at("saved_kind")), "colour8");

    const boost::json::object& review = lines[2];
    EXPECT_EQ(Text(review.at("status")), "review");
    ASSERT_FALSE(review.at("reasons").as_array().empty());
    EXPECT_EQ(Text(review.at("reasons").at(0)), "page runs off the left border of the scan");
    EXPECT_TRUE(IsImage(Text(review.at("output"))));
    const boost::json::object& failed = lines[3];
    EXPECT_EQ(Text(failed.at("status")), "failed");
    EXPECT_TRUE(Text(failed.at("message")).starts_with("failed to read image - not an image file"));
    EXPECT_TRUE(failed.at("crop").is_null() && failed.at("dpi").is_null() &&
                failed.at("kind").is_null());
    const boost::json::object& summary = lines[4].at("summary").as_object();
    EXPECT_EQ(Text(summary.at("end")), "failed");
    EXPECT_EQ(summary.at("files"), 4);
    EXPECT_EQ(summary.at("ok"), 2);
    EXPECT_EQ(summary.at("review"), 1);
    EXPECT_EQ(summary.at("failed"), 1);
    EXPECT_EQ(summary.at("not_processed"), 0);
    EXPECT_EQ(summary.at("reduced"), 0);
    EXPECT_EQ(Text(summary.at("version")), QUORVEL_VERSION);
    EXPECT_EQ(Text(summary.at("settings").at("cut")), "ltrb");

    // b's result older than b: made again, not turned (written, but its
    // skewed edges want a look; no side gave an angle); a's left alone.
    const auto aWritten = fs::last_write_time(ws / "trim/a.png");
    fs::last_write_time(ws / "trim/b.png",
                        fs::last_write_time(ws / "b.png") - std::chrono::hours(1));
    std::vector<std::string> again = args;
    again.insert(again.begin(), {"--skip-existing", "/rotate:none"});
    EXPECT_EQ(ws.Run(again).exitCode, 1);
    lines = ReportLines(ReadFileBytes((ws / "report.jsonl").string()));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(Text(lines[5].at("source")), (ws / "a.png").string());
    EXPECT_EQ(Text(lines[5].at("status")), "skipped");
    EXPECT_TRUE(lines[5].at("angle_deg").is_null() && lines[5].at("ms").is_null());
    EXPECT_EQ(Text(lines[7].at("source")), (ws / "b.png").string());
    EXPECT_EQ(Text(lines[7].at("status")), "review");
    EXPECT_EQ(Text(lines[7].at("reasons").at(0)),
              "page not straightened although its edges are skewed");
    EXPECT_EQ(lines[7].at("angle_deg"), 0);
    EXPECT_TRUE(lines[7].at("rotate_side").is_null());
    EXPECT_EQ(fs::last_write_time(ws / "trim/a.png"), aWritten);
    EXPECT_GT(fs::last_write_time(ws / "trim/b.png"), fs::last_write_time(ws / "b.png"));
    const boost::json::object& resumed = lines[9].at("summary").as_object();
    EXPECT_EQ(resumed.at("files"), 4);
    EXPECT_EQ(resumed.at("skipped"), 2);
    EXPECT_EQ(resumed.at("ok"), 0);
    EXPECT_EQ(resumed.at("review"), 1);
    EXPECT_EQ(resumed.at("not_processed"), 0);
    EXPECT_EQ(resumed.at("settings").at("skip_existing"), true);
}

// 16-bit colour written as JPEG: the terminal says so once for the batch,
// each record names both kinds and the summary counts the reduced results.
TEST(Quorvel, ReducedResultsAreToldOnceAndCounted) {
    Workspace ws;
    for (const std::string name : {"a.png", "b.png"}) {
        ws.Scan(name);
        DibPtr scan, deep;
        ASSERT_EQ(LoadDibFromFile(scan, (ws / name).string()), S_OK);
        ASSERT_EQ(ToKind(deep, scan, PixelKind::Bgr48), S_OK);
        ASSERT_TRUE(scangen::WriteImage(deep, (ws / name).string(), 40, "png"));
    }
    const Result run =
        ws.Run({"/hide", "/yes", "/cut:ltrb", "/format:jpg", "--report=r.jsonl", "a.png", "b.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string told = "16-bit colour is written as 8-bit colour";
    const std::size_t first = run.err.find(told);
    EXPECT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(told, first + 1), std::string::npos) << run.err;
    const std::vector<boost::json::object> lines =
        ReportLines(ReadFileBytes((ws / "r.jsonl").string()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Text(lines[1].at("kind")), "colour16");
    EXPECT_EQ(Text(lines[1].at("saved_kind")), "colour8");
    EXPECT_EQ(lines[2].at("summary").at("reduced"), 2);
}

// Interrupted, the report ends with a summary; killed, it holds whole lines
// of what finished; a line a killed run left unended is ended before the
// next run appends.
TEST(Quorvel, ReportOfAnInterruptedOrKilledRunIsValidJsonLines) {
    Workspace ws;
    std::vector<std::string> args{"/hide", "/yes", "/cut:ltrb", "/thread:1", "--report=r.jsonl"};
    ws.Scan("p0.png", 1.0, 30, {}, 640, 880);
    for (int i = 0; i < 10; ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        if (i > 0) {
            fs::copy_file(ws / "p0.png", ws / name);
        }
        args.push_back(name);
    }
    auto written = [&] { return fs::exists(ws / "trim/p2.png"); };
    const Result stopped = ws.Run(args, {}, SignalWhen(written, SIGINT));
    EXPECT_EQ(stopped.exitCode, 1);
    std::vector<boost::json::object> lines = ReportLines(ReadFileBytes((ws / "r.jsonl").string()));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Text(lines.back().at("summary").at("end")), "stopped");
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (Text(lines[i].at("status")) == "ok") {
            EXPECT_TRUE(IsImage(Text(lines[i].at("output"))));
        }
    }

    fs::remove_all(ws / "trim");
    std::ofstream(ws / "r.jsonl", std::ios::trunc) << "{\"source\":\"cut short";
    const Result killed = ws.Run(args, {}, SignalWhen(written, SIGKILL));
    EXPECT_EQ(killed.exitCode, 128 + SIGKILL);
    const std::string text = ReadFileBytes((ws / "r.jsonl").string());
    lines = ReportLines(text.substr(text.find('\n') + 1));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Text(lines[0].at("source")), (ws / "p0.png").string());
    for (const boost::json::object& line : lines) {
        EXPECT_EQ(Text(line.at("status")), "ok");
    }
}

// A list of odd names on standard input, NUL-separated, relative and
// absolute; the report on standard output names each source exactly.
TEST(Quorvel, FilesFromStandardInputWithOddNames) {
    Workspace ws;
    ws.Scan("plain.png");
    const std::vector<std::string> names{"with space.png", "new\nline.png", "-dash.png",
                                         "bad\xff\xfe.png"};
    for (const std::string& name : names) {
        fs::copy_file(ws / "plain.png", ws / name);
        ws.input_ += name + '\0';
    }
    ws.input_ += (ws / "plain.png").string() + '\0';
    const Result run = ws.Run({"--hide", "--cut=ltrb", "--files-from=-", "--report=-", "--null"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<boost::json::object> lines = ReportLines(run.out);
    ASSERT_EQ(lines.size(), names.size() + 2);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(Text(lines[i].at("source")), (ws / names[i]).string());
        EXPECT_TRUE(IsImage(ws / "trim" / names[i])) << names[i];
    }
    EXPECT_EQ(lines.back().at("summary").at("ok"), 5);
}

}  // namespace
