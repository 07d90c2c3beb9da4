// Batch throughput of the quorvel program: eight generated 600 dpi A4 colour
// scans with their empty-bed image, PNG in and PNG out, processed once with
// /thread:1 and once with /thread:2 in the same run.
//
// Usage: batch_bench [--pages N] [--size WxH] [--dir FOLDER] [--colour-model]
//                    [--compare PROGRAM]
//  --colour-model  runs without the empty image (/empty:), from the colour
//                  model of the margins.
//  --compare P     runs the quorvel program P (another build) on the same
//                  files too, each thread count right after this build's,
//                  and prints the ratios.
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

int RunQuorvel(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
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
    bool colourModel = false;
    std::string compare;
    BenchArgs args(argc, argv,
                   "[--pages N] [--size WxH] [--dir FOLDER] [--colour-model] [--compare PROGRAM]");
    while (args.Next()) {
        args.Number("--pages", pages, 1, 100000) || args.Size("--size", width, height) ||
            args.Text("--dir", dir) || args.Flag("--colour-model", colourModel) ||
            args.Text("--compare", compare) || args.Unknown();
    }
    std::vector<std::string> programs{QUORVEL_BINARY};
    if (!compare.empty()) {
        programs.push_back(compare);
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

    std::printf("batch_bench: %d pages of %d x %d px (%.0f dpi), PNG in and out, %s\n", pages,
                width, height, dpi, colourModel ? "colour model" : "empty image");
    // seconds[program][threads - 1]
    std::vector<std::vector<double>> seconds(programs.size(), std::vector<double>(2));
    for (int threads = 1; threads <= 2; ++threads) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            std::vector<std::string> args{
                "/hide", "/yes", "/cut:ltrb",
                colourModel ? "/empty:" : "/empty:" + (dir / "empty.png").string(),
                "/thread:" + std::to_string(threads)};
            args.insert(args.end(), files.begin(), files.end());
            const auto start = std::chrono::steady_clock::now();
            const int code = RunQuorvel(programs[p], args);
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (code != 0) {
                std::fprintf(stderr, "%s exited with %d\n", programs[p].c_str(), code);
                return 1;
            }
            seconds[p][threads - 1] = s;
            std::printf("  %-9s /thread:%d %7.2f s  %5.2f s per page  %6.2f files per minute\n",
                        p == 0 ? "this" : "compared", threads, s, s / pages, pages * 60.0 / s);
        }
    }
    for (std::size_t p = 0; p < programs.size(); ++p) {
        std::printf("  %-9s speed-up of two threads: %.2fx\n", p == 0 ? "this" : "compared",
                    seconds[p][0] / seconds[p][1]);
    }
    for (std::size_t p = 1; p < programs.size(); ++p) {
        std::printf(
            "  this build takes %.0f %% (/thread:1) and %.0f %% (/thread:2) of the time "
            "of %s\n",
            100.0 * seconds[0][0] / seconds[p][0], 100.0 * seconds[0][1] / seconds[p][1],
            programs[p].c_str());
    }
    fs::remove_all(dir);
    return 0;
}
