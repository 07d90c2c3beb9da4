// End-to-end tests: the built program run on generated scans in a
// temporary folder, without a display, each run with its own settings file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

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
    Workspace() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() /
                (std::string("qv-e2e-") + info->name() + "-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~Workspace() { fs::remove_all(root_); }

    fs::path operator/(const std::string& name) const { return root_ / name; }
    std::string Registry() const { return (root_ / "settings.reg").string(); }

    // Writes a small generated scan (RGB PNG at 40 dpi), and its empty bed
    // when asked.
    void Scan(const std::string& name, double skew = 1.5, std::uint32_t seed = 3,
              const std::string& bedName = {}) const {
        scangen::ScanOptions options = scangen::MakeScanOptions(320, 440, 40);
        options.skewDegrees = skew;
        options.seed = seed;
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        ASSERT_EQ(scan.result, S_OK);
        EXPECT_TRUE(scangen::WritePng(scan.scan, (root_ / name).string(), 40));
        if (!bedName.empty()) {
            EXPECT_TRUE(scangen::WritePng(scan.emptyBed, (root_ / bedName).string(), 40));
        }
    }

    // Runs the program in the workspace with no display and English texts.
    Result Run(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}) const {
        int outPipe[2], errPipe[2];
        EXPECT_EQ(pipe(outPipe), 0);
        EXPECT_EQ(pipe(errPipe), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            close(outPipe[0]), close(errPipe[0]);
            dup2(open("/dev/null", O_RDONLY), 0);  // no terminal either
            setsid();
            Exec(args, env);
        }
        close(outPipe[1]), close(errPipe[1]);
        Result result;
        result.out = ReadAll(outPipe[0]);
        result.err = ReadAll(errPipe[0]);
        close(outPipe[0]), close(errPipe[0]);
        result.exitCode = Wait(pid);
        return result;
    }

    // Runs the program on a pseudo-terminal; `answer` is typed once the
    // prompt appears.
    Result RunOnTerminal(const std::vector<std::string>& args, const std::string& answer) const {
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
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

    fs::path root_;
};

std::vector<std::string> Files(const fs::path& folder) {
    std::vector<std::string> names;
    if (fs::is_directory(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Quorvel, ProcessesFilesIntoTheSubfolderWithTheirResolutionAndNames) {
    Workspace ws;
    ws.Scan("a.png", 1.5, 3, "bed.png");
    ws.Scan("b.png", -2.0, 4);

    const Result run = ws.Run({"/hide", "/empty:bed.png", "/cut:ltrb", "/format:jpg,90", "a.png",
                               (ws / "b.png").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Files(ws / "trim"), (std::vector<std::string>{"a.jpg", "b.jpg"}));
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

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"/hide", "/bogus", "a.png"}, "Unknown command line option is specified\n\n/bogus"},
        {{"/hide", "/reset", "a.png"}, "Command line option /reset must be specified at first"},
        {{"/hide", "/cut:llt", "a.png"}, "Command line option has same char flags"},
        {{"/hide", "/size:12", "a.png"}, "Command line option /size 's value is unknown"},
    };
    for (const Case& c : cases) {
        const Result run = ws.Run(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.args[1];
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(ws / "trim")) << c.args[1];
    }
    // Reported once, also with an unreachable display; no settings written.
    fs::remove(ws.Registry());
    const Result run = ws.Run({"/hide", "/bogus"}, {{"DISPLAY", ":97"}});
    EXPECT_EQ(run.exitCode, 1);
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
    std::ifstream registry(ws.Registry());
    const std::string stored((std::istreambuf_iterator<char>(registry)), {});
    const std::size_t window = stored.find("\\Setting\\Window]");
    ASSERT_NE(window, std::string::npos) << stored;
    EXPECT_EQ(stored.find("\"Right\"=dword:00000000", window), std::string::npos) << stored;
}

TEST(Quorvel, MissingInputsAndFailingFilesEndWithTheirMessage) {
    Workspace ws;
    ws.Scan("a.png");
    const Result missing = ws.Run({"/hide", "/cut:ltrb", "a.png", "nothere.png"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("Path not found\n\n" + (ws / "nothere.png").string()),
              std::string::npos)
        << missing.err;
    EXPECT_FALSE(fs::exists(ws / "trim/a.png"));

    std::ofstream(ws / "broken.png") << "this is no image";
    const Result broken = ws.Run({"/hide", "/cut:ltrb", "a.png", "broken.png"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.err.find("failed to read image - Not implemented"), std::string::npos)
        << broken.err;
    EXPECT_FALSE(fs::exists(ws / "trim/broken.png"));
}

TEST(Quorvel, TwoThreadsProcessTwentyFilesOnce) {
    Workspace ws;
    std::vector<std::string> args{"/hide", "/thread:2", "/cut:ltrb", "/format:bmp"};
    for (int i = 0; i < 20; ++i) {
        const std::string name = "p" + std::to_string(100 + i) + ".png";
        if (i < 2) {
            ws.Scan(name, i * 1.1 - 0.6, 20 + i);
        } else {
            fs::copy_file(ws / ("p10" + std::to_string(i % 2) + ".png"), ws / name);
        }
        args.push_back(name);
    }
    const Result run = ws.Run(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> out = Files(ws / "trim");
    ASSERT_EQ(out.size(), 20u);
    EXPECT_EQ(out.front(), "p100.bmp");
    EXPECT_EQ(out.back(), "p119.bmp");
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

    const Result failed = ws.RunOnTerminal({"/hide", "/yes", "a.png", "broken.png"}, "");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.out.find("failed to read image"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("1 of 2 files written to "), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("; 1 failed"), std::string::npos) << failed.out;

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

    // /yes overwrites without asking.
    std::ofstream(output, std::ios::trunc) << "old output";
    const Result yes = ws.Run({"/hide", "/yes", "a.png"});
    EXPECT_EQ(yes.exitCode, 0) << yes.err;
    EXPECT_GT(fs::file_size(output), 1000u);
}

TEST(Quorvel, SettingsSurviveBetweenRunsAndResetRestoresDefaults) {
    Workspace ws;
    ws.Scan("a.png");
    ASSERT_EQ(ws.Run({"/hide", "/cut:ltrb", "/format:tif", "/out:done", "/size:200,300", "a.png"})
                  .exitCode,
              0);
    // The next run uses the stored choices.
    const Result second = ws.Run({"/hide", "/yes", "a.png"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    ImagePtr image;
    ASSERT_EQ(LoadImageFromFile(image, (ws / "done/a.tif").string()), S_OK);
    EXPECT_EQ(image->GetWidth(), 200u);
    EXPECT_EQ(image->GetHeight(), 300u);

    // /reset brings the defaults back: PNG into "trim", automatic sides
    // (which need an empty image, so this batch is refused).
    const Result reset = ws.Run({"/reset", "/hide", "a.png"});
    EXPECT_EQ(reset.exitCode, 1);
    EXPECT_NE(reset.err.find("If you do not specify Empty-image path"), std::string::npos)
        << reset.err;
    const Result after = ws.Run({"/hide", "/cut:ltrb", "a.png"});
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_TRUE(fs::exists(ws / "trim/a.png"));
}

TEST(Quorvel, NeverOverwritesItsOwnSourceNorOneResultWithAnother) {
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

    const Result run = ws.Run({"/hide", "/yes", "/out:.", "/format:png", "/cut:ltrb", "a.png"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("path is invalid"), std::string::npos) << run.err;
    ImagePtr image;
    EXPECT_EQ(LoadImageFromFile(image, (ws / "a.png").string()), S_OK);
    EXPECT_EQ(image->GetWidth(), 320u);
}

}  // namespace
