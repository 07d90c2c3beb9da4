// Long file lists: the start-up time and the peak memory of the quorvel
// program given --files-from with N paths (default 1 000 000), beside the
// same for a list of one.
//
// The sources are hard links to one small generated scan in one folder (a
// copy of it per 60 000 links, the most a file system may allow; no disk
// space per file), with paths of about 70 bytes. Three runs, each a
// process of its own:
//   one      a list of one path: the time until its result exists, and the
//            peak memory (the baseline);
//   fresh    the list of N: the time until the first result exists (the list
//            read, every file checked, the first file processed), then an
//            interrupt; the peak memory of the whole run;
//   skipped  every result exists and is newer than its source (N hard links
//            to one result): --skip-existing leaves them all alone and
//            --report records each; the time and peak memory of the whole run.
//
// Usage: file_list_bench [--paths N] [--dir FOLDER] [--keep]
//   --keep  leaves the folder for the next run, which then reuses it.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchArgs.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
    double seconds = 0;     // until `ready`, or the end
    double cpuSeconds = 0;  // of the whole run (user and system)
    double peakMb = 0;
    int exitCode = -1;
};

// Runs the program; once `ready` holds (polled every 2 ms) the time is taken
// and, with `interrupt`, the run is interrupted. Without `ready`, the time of
// the whole run.
Outcome Run(const std::vector<std::string>& args, const std::function<bool()>& ready,
            bool interrupt) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Outcome outcome;
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return outcome;
    }
    int status = 0;
    rusage usage{};
    if (ready) {
        while (!ready()) {
            if (wait4(pid, &status, WNOHANG, &usage) == pid) {
                std::fprintf(stderr, "the run ended before its first result\n");
                return outcome;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (interrupt) {
            kill(pid, SIGINT);
        }
    }
    wait4(pid, &status, 0, &usage);
    if (!ready) {
        outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    outcome.peakMb = usage.ru_maxrss / 1024.0;
    outcome.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

std::string PageName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%07d.png", i);
    return name;
}

constexpr int kLinksPerFile = 60000;

// Page i in `folder`: a hard link to the first page of its run of
// kLinksPerFile, which is a copy of page 0 (a file of its own).
bool Place(const fs::path& folder, int i) {
    const fs::path page = folder / PageName(i);
    const int base = i / kLinksPerFile * kLinksPerFile;
    std::error_code ec;
    if (i == 0 || fs::exists(page, ec)) {
        return true;
    }
    const bool placed = i == base ? fs::copy_file(folder / PageName(0), page, ec)
                                  : ::link((folder / PageName(base)).c_str(), page.c_str()) == 0;
    if (!placed) {
        std::fprintf(stderr, "cannot make %s\n", page.c_str());
    }
    return placed;
}

}  // namespace

int main(int argc, char** argv) {
    int paths = 1000000;
    fs::path dir = fs::temp_directory_path() / "quorvel-file-list-bench";
    bool keep = false;
    BenchArgs args(argc, argv, "[--paths N] [--dir FOLDER] [--keep]");
    while (args.Next()) {
        args.Number("--paths", paths, 1, 100000000) || args.Text("--dir", dir) ||
            args.Flag("--keep", keep) || args.Unknown();
    }
    const fs::path folder = dir / "archive-of-scanned-pages" / "volume-0001";
    const fs::path results = folder / "trim";
    const fs::path list = dir / "list.txt";
    const fs::path one = dir / "one.txt";
    const std::string program = QUORVEL_BINARY;
    const std::vector<std::string> common{program,    "--reset",    "--hide",    "--yes",
                                          "--empty=", "--cut=ltrb", "--thread=1"};
    setenv("QUORVEL_REGISTRY", "/dev/null", 1);

    const std::string first = (folder / PageName(0)).string();
    if (!fs::exists(list) || !fs::exists(folder / PageName(paths - 1)) ||
        fs::exists(folder / PageName(paths))) {
        std::printf("making %d hard links in %s ...\n", paths, folder.c_str());
        fs::remove_all(dir);
        fs::create_directories(folder);
        scangen::ScanOptions options = scangen::MakeScanOptions(320, 440, 40);
        options.skewDegrees = 1.5;
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        if (FAILED(scan.result) || !scangen::WritePng(scan.scan, first, 40)) {
            std::fprintf(stderr, "cannot write %s\n", first.c_str());
            return 1;
        }
        std::ofstream out(list);
        out << first << '\n';
        for (int i = 1; i < paths; ++i) {
            const std::string page = (folder / PageName(i)).string();
            if (!Place(folder, i)) {
                return 1;
            }
            out << page << '\n';
        }
        std::ofstream(one) << first << '\n';
    }
    fs::remove_all(results);
    const auto firstResult = [&] { return fs::exists(results / PageName(0)); };

    std::vector<std::string> oneArgs = common;
    oneArgs.push_back("--files-from=" + one.string());
    const Outcome single = Run(oneArgs, firstResult, false);

    fs::remove_all(results);
    std::vector<std::string> freshArgs = common;
    freshArgs.push_back("--files-from=" + list.string());
    const Outcome fresh = Run(freshArgs, firstResult, true);

    // Every result newer than its source: hard links to the first result.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int i = 1; i < paths; ++i) {
        if (!Place(results, i)) {
            return 1;
        }
    }
    const fs::path report = dir / "report.jsonl";
    fs::remove(report);
    std::vector<std::string> skippedArgs = common;
    skippedArgs.push_back("--skip-existing");
    skippedArgs.push_back("--report=" + report.string());
    skippedArgs.push_back("--files-from=" + list.string());
    const Outcome skipped = Run(skippedArgs, {}, false);

    std::printf("%-9s %10s %10s %12s %10s %5s\n", "run", "paths", "seconds", "CPU seconds",
                "peak MB", "exit");
    const auto row = [](const char* name, int count, const Outcome& o) {
        std::printf("%-9s %10d %10.2f %12.2f %10.1f %5d\n", name, count, o.seconds, o.cpuSeconds,
                    o.peakMb, o.exitCode);
    };
    row("one", 1, single);
    row("fresh", paths, fresh);
    row("skipped", paths, skipped);
    std::printf(
        "seconds: one and fresh until the first result, skipped the whole run (its report %.0f "
        "MB);\nCPU seconds and peak memory: the whole run\n",
        fs::file_size(report) / 1e6);
    if (!keep) {
        fs::remove_all(dir);
    }
    return 0;
}
