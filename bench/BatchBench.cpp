// Batch throughput of the quorvel program: eight generated 600 dpi A4 colour
// scans with their empty-bed image, PNG in and PNG out, processed once with
// /thread:1 and once with /thread:2 in the same run.
//
// Usage: batch_bench [--pages N] [--size WxH] [--dir FOLDER]
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchArgs.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

int RunQuorvel(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(QUORVEL_BINARY)};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, QUORVEL_BINARY, nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int pages = 8;
    LONG width = 4960, height = 7016;
    fs::path dir = fs::temp_directory_path() / "quorvel-batch-bench";
    BenchArgs args(argc, argv, "[--pages N] [--size WxH] [--dir FOLDER]");
    while (args.Next()) {
        args.Number("--pages", pages, 1, 100000) || args.Size("--size", width, height) ||
            args.Text("--dir", dir) || args.Unknown();
    }
    fs::remove_all(dir);
    fs::create_directories(dir);
    const double dpi = 600.0 * width / 4960.0;

    std::vector<std::string> files;
    for (int i = 0; i < pages; ++i) {
        scangen::ScanOptions options = scangen::MakeScanOptions(width, height, dpi);
        options.skewDegrees = -2.0 + 0.6 * i;
        options.seed = static_cast<std::uint32_t>(500 + i);
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        const std::string path = (dir / ("page" + std::to_string(i + 1) + ".png")).string();
        if (FAILED(scan.result) || !scangen::WritePng(scan.scan, path, float(dpi)) ||
            (i == 0 &&
             !scangen::WritePng(scan.emptyBed, (dir / "empty.png").string(), float(dpi)))) {
            std::fprintf(stderr, "cannot write the scans to %s\n", dir.c_str());
            return 1;
        }
        files.push_back(path);
    }
    setenv("QUORVEL_REGISTRY", (dir / "settings.reg").c_str(), 1);

    std::printf("batch_bench: %d pages of %d x %d px (%.0f dpi), PNG in and out\n", pages, width,
                height, dpi);
    double minutes[2] = {0, 0};
    for (int threads = 1; threads <= 2; ++threads) {
        std::vector<std::string> args{"/hide", "/yes", "/cut:ltrb",
                                      "/empty:" + (dir / "empty.png").string(),
                                      "/thread:" + std::to_string(threads)};
        args.insert(args.end(), files.begin(), files.end());
        const auto start = std::chrono::steady_clock::now();
        const int code = RunQuorvel(args);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (code != 0) {
            std::fprintf(stderr, "quorvel exited with %d\n", code);
            return 1;
        }
        minutes[threads - 1] = seconds / 60.0;
        std::printf("  /thread:%d  %7.1f s  %6.2f files per minute\n", threads, seconds,
                    pages / minutes[threads - 1]);
    }
    std::printf("  speed-up of two threads: %.2fx\n", minutes[0] / minutes[1]);
    fs::remove_all(dir);
    return 0;
}
