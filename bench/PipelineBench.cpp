// End-to-end benchmark of the per-file pipeline on a generated 600 dpi A4
// colour scan (4960 × 7016) with its empty-bed image, PNG in and PNG out, on
// one thread.
//
// It reports, measured in the same run on the same files:
//  - decode: reading and decoding the source PNG into a raster image;
//  - encode: writing that raster image as PNG;
//  - every stage of the pipeline (load, foreground, each median pass, edge
//    lines, rotations, rectangle, crop, alpha removal, save, preview);
//  - the ratio of the pipeline's own work (everything but load and save) to
//    decode + encode.
//
// Usage: pipeline_bench [--pages N] [--size WxH] [--dir FOLDER]
// Run it under /usr/bin/time -v for the peak memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "tests/support/ScanGenerator.h"
#include "trim/AutoTrimTask.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool WritePng(const DibPtr& dib, const std::string& path, float dpi) {
    SaverPtr saver;
    BitmapPtr bitmap;
    if (FAILED(SetPngSaver(saver)) || FAILED(DibToBitmap(bitmap, dib, true))) {
        return false;
    }
    bitmap->SetResolution(dpi, dpi);
    return SUCCEEDED(Save(*saver, bitmap, path));
}

}  // namespace

int main(int argc, char** argv) {
    int pages = 3;
    LONG width = 4960, height = 7016;
    fs::path dir = fs::temp_directory_path() / "quorvel-pipeline-bench";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pages") == 0 && i + 1 < argc) {
            pages = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--pages N] [--size WxH] [--dir FOLDER]\n", argv[0]);
            return 2;
        }
    }
    fs::create_directories(dir);
    const double dpi = 600.0 * width / 4960.0;

    // The source files: an RGB scan (as scanners write them) and its bed.
    scangen::ScanOptions options = scangen::MakeScanOptions(width, height, dpi);
    options.skewDegrees = 1.7;
    options.shadow = true;
    scangen::GeneratedScan scan = scangen::GenerateScan(options);
    if (FAILED(scan.result)) {
        std::fprintf(stderr, "cannot generate the scan\n");
        return 1;
    }
    DibPtr rgb, bedRgb;
    RemoveAlpha(rgb, *scan.scan);
    RemoveAlpha(bedRgb, *scan.emptyBed);
    scan.scan.reset();
    const std::string source = (dir / "scan.png").string();
    const std::string bed = (dir / "empty.png").string();
    if (!WritePng(rgb, source, dpi) || !WritePng(bedRgb, bed, dpi)) {
        std::fprintf(stderr, "cannot write the sources to %s\n", dir.c_str());
        return 1;
    }
    rgb.reset();
    bedRgb.reset();
    scan.emptyBed.reset();

    DibPtr empty;
    if (FAILED(LoadDibFromFile(empty, bed))) {
        std::fprintf(stderr, "cannot load the empty image\n");
        return 1;
    }

    std::printf("pipeline_bench: %d x %d px (%.0f dpi), %d page(s), one thread\n", width, height,
                dpi, pages);
    for (int page = 0; page < pages; ++page) {
        // Decode and encode of the same file, as the baseline.
        Clock::time_point start = Clock::now();
        DibPtr decoded;
        if (FAILED(LoadDibFromFile(decoded, source))) {
            std::fprintf(stderr, "cannot decode %s\n", source.c_str());
            return 1;
        }
        const double decodeMs = Ms(start);
        start = Clock::now();
        WritePng(decoded, (dir / "reencoded.png").string(), dpi);
        const double encodeMs = Ms(start);
        decoded.reset();

        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(empty, page, source, (dir / "trim/scan.png").string(), nullptr);
        AutoTrimParams params;
        params.SpaceType = TrimEdgesAll;
        task->SetParams(params);
        task->SetPreviewSize(300, 424);
        SetPngSaver(task->Saver());
        start = Clock::now();
        task->Run();
        const double totalMs = Ms(start);
        if (task->ResultId() != 0) {
            std::fprintf(stderr, "pipeline failed: %s\n", task->MessageText().c_str());
            return 1;
        }
        std::map<std::string, double> stageMs;
        std::printf("\npage %d\n", page + 1);
        double ioMs = 0;
        for (const auto& stage : task->StageTimes()) {
            std::printf("  %-18s %9.1f ms\n", stage.stage, stage.milliseconds);
            if (std::strcmp(stage.stage, "load") == 0 || std::strcmp(stage.stage, "save") == 0) {
                ioMs += stage.milliseconds;
            }
        }
        const double workMs = totalMs - ioMs;
        std::printf("  %-18s %9.1f ms\n", "pipeline total", totalMs);
        std::printf("  %-18s %9.1f ms   (decode %.1f + encode %.1f)\n", "decode + encode",
                    decodeMs + encodeMs, decodeMs, encodeMs);
        std::printf("  work without load/save: %.1f ms = %.1f %% of decode + encode\n", workMs,
                    100.0 * workMs / (decodeMs + encodeMs));
    }
    fs::remove_all(dir);
    return 0;
}
