// End-to-end benchmark of the per-file pipeline on a generated 600 dpi A4
// colour scan (4960 × 7016) with its empty-bed image, PNG in and PNG out, on
// one thread; or the same page as another pixel kind or source format.
//
// It reports, measured in the same run on the same files:
//  - decode: reading and decoding the source PNG into a 32-bit raster image;
//  - encode: writing the decoded pixels as the RGB PNG they came from (the
//    alpha plane is dropped before the clock starts, and the encoder reads
//    the pixels in place, as the pipeline's own save does);
//  - every stage of the pipeline (load, foreground, each median pass, edge
//    lines, rotations, rectangle, crop, save, preview) with the highest
//    resident set size seen while it ran;
//  - the ratio of the pipeline's own work (everything but load and save) to
//    decode + encode;
//  - memory: the resident set of the bare process, with the empty image
//    loaded (the baseline every task starts from), and the task's peak above
//    that baseline in bytes per source pixel.
//
// Usage: pipeline_bench [--pages N] [--size WxH] [--dir FOLDER]
//                       [--cache MIB] [--skew DEGREES] [--verify] [--keep]
//                       [--colour-model] [--kind KIND] [--format FMT]
//  --cache MIB  sets the pixel block cache limit (0 turns it off); without it
//               the library default applies.
//  --skew DEG   skew of the generated page (default 1.7 degrees).
//  --colour-model  runs without the empty image, from the colour model of
//               the margins (the baseline is then the bare process).
//  --verify     after each page, rebuilds the output the long way (rotate the
//               whole source, place and crop the rectangle, drop alpha) and
//               compares it byte for byte with the task's output.
//  --keep       leaves the folder with the sources and the result
//               (trim/scan.png) in place, to compare outputs between builds.
//  --kind KIND  the sources' pixels: colour (default: 8-bit RGB, as
//               scanners write), colour16 (16-bit RGB), grey, or bitonal
//               (1 bit, on a dark bed, so that the page shows).
//  --format FMT the sources' format: png (default) or tif; the result is a
//               PNG either way. The decode and encode baseline and --verify
//               are for colour PNG sources only.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchArgs.h"
#include "image/PixelKind.h"
#include "image/PixelMemory.h"
#include "image/Rotate.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "image_io/PlatformImage.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"
#include "trim/TrimRect.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Resident set size in bytes.
std::size_t Rss() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

// Decimal megabytes, as in bytes per pixel × pixels.
double Mb(std::size_t bytes) {
    return bytes / 1e6;
}

// Samples the resident set every millisecond while a task runs, so that each
// stage's peak can be told apart.
class RssSampler {
  public:
    struct Sample {
        double ms;
        std::size_t rss;
    };

    void Start() {
        m_samples.clear();
        m_start = Clock::now();
        m_running = true;
        m_thread = std::thread([this] {
            while (m_running) {
                const Sample s{Ms(m_start), Rss()};
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_samples.push_back(s);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void Stop() {
        m_running = false;
        m_thread.join();
        m_samples.push_back(Sample{Ms(m_start), Rss()});
    }
    // Highest sample in [from, to) milliseconds after Start.
    std::size_t Peak(double from, double to) const {
        std::size_t peak = 0;
        for (const Sample& s : m_samples) {
            if (s.ms >= from && s.ms < to) {
                peak = std::max(peak, s.rss);
            }
        }
        return peak;
    }
    std::size_t Peak() const { return Peak(-1.0, 1e300); }

  private:
    Clock::time_point m_start;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Sample> m_samples;
};

// Writes `dib` as the pipeline's save does: a bitmap that shares its pixels.
bool EncodeInPlace(const DibPtr& dib, const std::string& path, float dpi) {
    SaverPtr saver;
    if (FAILED(SetFormatSaver(saver, SaveTypePng, 0, 0))) {
        return false;
    }
    const BitmapPtr bitmap(new Gdiplus::Bitmap(dib, true, dpi, dpi));
    return SUCCEEDED(Save(*saver, bitmap, path));
}

// The output the long way: the whole source rotated, the placed rectangle
// cut out, alpha dropped. True when it equals `output` byte for byte.
bool SameAsLongWay(const CDib& output, const std::string& source, double angle, const RECT& crop) {
    DibPtr image, rotated, cropped, opaque;
    if (FAILED(LoadDibFromFile(image, source))) {
        return false;
    }
    if (angle != 0.0) {
        if (FAILED(RotateImage(rotated, *image, angle, nullptr))) {
            return false;
        }
        image = rotated;
        rotated.reset();
    }
    const RECT placed = PlaceRect(crop, image->Width(), image->Height());
    if (std::memcmp(&placed, &crop, sizeof crop) != 0 ||
        FAILED(CropImage(cropped, *image, placed))) {
        return false;
    }
    image.reset();
    if (FAILED(RemoveAlpha(opaque, *cropped))) {
        return false;
    }
    const std::size_t headerBytes = CDib::GetHeaderBlockSize(opaque->Header());
    return CDib::GetHeaderBlockSize(output.Header()) == headerBytes &&
           std::memcmp(output.Header(), opaque->Header(), headerBytes) == 0 &&
           output.GetImageSize() == opaque->GetImageSize() &&
           std::memcmp(output.Bits(), opaque->Bits(), opaque->GetImageSize()) == 0;
}

bool IsNested(const char* stage) {
    // Timed inside "edge lines", at its end.
    return std::strcmp(stage, "rotate foreground") == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int pages = 3;
    LONG width = 4960, height = 7016;
    long cacheMib = -1;
    bool verify = false;
    bool keep = false;
    bool colourModel = false;
    double skew = 1.7;
    std::string kindName = "colour", format = "png";
    fs::path dir = fs::temp_directory_path() / "quorvel-pipeline-bench";
    BenchArgs args(argc, argv,
                   "[--pages N] [--size WxH] [--dir FOLDER] [--cache MIB] [--skew DEGREES] "
                   "[--verify] [--keep] [--colour-model] [--kind colour|colour16|grey|bitonal] "
                   "[--format png|tif]");
    while (args.Next()) {
        args.Number("--pages", pages, 1, 100000) || args.Size("--size", width, height) ||
            args.Text("--dir", dir) || args.Number("--cache", cacheMib, 0L, 1L << 20) ||
            args.Number("--skew", skew, -45.0, 45.0) || args.Flag("--verify", verify) ||
            args.Flag("--keep", keep) || args.Flag("--colour-model", colourModel) ||
            args.Text("--kind", kindName) || args.Text("--format", format) || args.Unknown();
    }
    const std::pair<const char*, PixelKind> kKinds[] = {{"colour", PixelKind::Bgr24},
                                                        {"colour16", PixelKind::Bgr48},
                                                        {"grey", PixelKind::Grey8},
                                                        {"bitonal", PixelKind::Bitonal}};
    const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                   [&](const auto& k) { return kindName == k.first; });
    if (kind == std::end(kKinds) || (format != "png" && format != "tif")) {
        std::fprintf(stderr, "pipeline_bench: unknown --kind %s or --format %s\n", kindName.c_str(),
                     format.c_str());
        return 2;
    }
    const bool plainSource = kind->second == PixelKind::Bgr24 && format == "png";
    if (cacheMib >= 0) {
        SetPixelCacheLimit(static_cast<std::size_t>(cacheMib) << 20);
    }
    fs::create_directories(dir);
    const double dpi = 600.0 * width / 4960.0;
    const double pixels = double(width) * height;

    // The source files: the scan (by default RGB, as scanners write them)
    // and its bed.
    const std::string source = (dir / ("scan." + format)).string();
    const std::string emptyPath = (dir / ("empty." + format)).string();
    {
        scangen::ScanOptions options = scangen::MakeScanOptions(width, height, dpi);
        options.skewDegrees = skew;
        options.shadow = true;
        if (kind->second == PixelKind::Bitonal) {
            options.bed = scangen::BedKind::Dark;
        }
        scangen::GeneratedScan scan = scangen::GenerateScan(options);
        if (FAILED(scan.result)) {
            std::fprintf(stderr, "cannot generate the scan\n");
            return 1;
        }
        bool written = true;
        for (const auto& [image, path] :
             {std::pair{scan.scan, source}, {scan.emptyBed, emptyPath}}) {
            const DibPtr pixels = scangen::ScanAsKind(*image, kind->second);
            written =
                written && pixels && scangen::WriteImage(pixels, path, float(dpi), format.c_str());
        }
        scan = scangen::GeneratedScan();
        if (!written) {
            std::fprintf(stderr, "cannot write the sources to %s\n", dir.c_str());
            return 1;
        }
    }
    ReleasePixelCache();
    const std::size_t bareRss = Rss();

    DibPtr empty;
    if (!colourModel && FAILED(LoadDibFromFile(empty, emptyPath))) {
        std::fprintf(stderr, "cannot load the empty image\n");
        return 1;
    }
    ReleasePixelCache();
    const std::size_t baseRss = Rss();

    std::printf(
        "pipeline_bench: %d x %d px (%.0f dpi) %s %s, %d page(s), one thread, %s, pixel cache %s\n",
        width, height, dpi, kindName.c_str(), format.c_str(), pages,
        colourModel ? "colour model" : "empty image",
        cacheMib < 0 ? "default" : (std::to_string(cacheMib) + " MiB").c_str());
    std::printf("  RSS bare process %.1f MB; with the empty image %.1f MB (baseline)\n",
                Mb(bareRss), Mb(baseRss));
    bool allSame = true;
    RssSampler sampler;
    for (int page = 0; page < pages; ++page) {
        // Decode and encode of the same file, as the baseline.
        Clock::time_point start = Clock::now();
        double cpu = ThreadCpuMs();
        double decodeMs = 0, decodeCpu = 0, encodeMs = 0, encodeCpu = 0;
        if (plainSource) {
            DibPtr decoded;
            if (FAILED(LoadDibFromFile(decoded, source))) {
                std::fprintf(stderr, "cannot decode %s\n", source.c_str());
                return 1;
            }
            decodeMs = Ms(start);
            decodeCpu = ThreadCpuMs() - cpu;
            DibPtr opaque;
            RemoveAlpha(opaque, *decoded);
            decoded.reset();
            start = Clock::now();
            cpu = ThreadCpuMs();
            EncodeInPlace(opaque, (dir / "reencoded.png").string(), static_cast<float>(dpi));
            encodeMs = Ms(start);
            encodeCpu = ThreadCpuMs() - cpu;
            opaque.reset();
            fs::remove(dir / "reencoded.png");
        }

        AutoTrimTaskPtr task(new CAutoTrimTask);
        task->Init(empty, page, source, (dir / "trim/scan.png").string(), nullptr);
        AutoTrimParams params;
        params.SpaceType = TrimEdgesAll;
        task->SetParams(params);
        task->SetPreviewSize(300, 424);
        SetFormatSaver(task->Saver(), SaveTypePng, 0, 0);
        const std::size_t startRss = Rss();
        sampler.Start();
        start = Clock::now();
        cpu = ThreadCpuMs();
        task->Run();
        const double totalMs = Ms(start);
        const double taskCpu = ThreadCpuMs() - cpu;
        sampler.Stop();
        if (task->ResultId() != 0) {
            std::fprintf(stderr, "pipeline failed: %s\n", task->MessageText().c_str());
            return 1;
        }
        std::printf("\npage %d (RSS at start %.1f MB, cached %.1f MB)\n", page + 1, Mb(startRss),
                    Mb(GetPixelCacheStats().cachedBytes));
        double ioMs = 0;
        double at = 0;
        const auto& stages = task->StageTimes();
        for (std::size_t i = 0; i < stages.size(); ++i) {
            const auto& stage = stages[i];
            double from = at, to = at + stage.milliseconds;
            if (IsNested(stage.stage) && i + 1 < stages.size()) {
                to = at + stages[i + 1].milliseconds;
                from = to - stage.milliseconds;
            } else {
                at = to;
            }
            std::printf("  %-18s %9.1f ms   peak RSS %7.1f MB\n", stage.stage, stage.milliseconds,
                        Mb(sampler.Peak(from, to + 1.0)));
            if (std::strcmp(stage.stage, "load") == 0 || std::strcmp(stage.stage, "save") == 0) {
                ioMs += stage.milliseconds;
            }
        }
        const double workMs = totalMs - ioMs;
        const std::size_t peak = sampler.Peak();
        std::printf("  %-18s %9.1f ms   (CPU %.1f ms)\n", "pipeline total", totalMs, taskCpu);
        if (plainSource) {
            std::printf("  %-18s %9.1f ms   (decode %.1f + encode %.1f; CPU %.1f + %.1f)\n",
                        "decode + encode", decodeMs + encodeMs, decodeMs, encodeMs, decodeCpu,
                        encodeCpu);
            std::printf("  work without load/save: %.1f ms = %.1f %% of decode + encode\n", workMs,
                        100.0 * workMs / (decodeMs + encodeMs));
        }
        std::printf("  peak RSS %.1f MB = baseline + %.1f MB = baseline + %.2f B/px\n", Mb(peak),
                    Mb(peak - baseRss), (double(peak) - double(baseRss)) / pixels);
        if (verify && plainSource) {
            const bool same =
                SameAsLongWay(*task->OutputImage(), source, task->SkewAngle(), task->CropRect());
            allSame = allSame && same;
            std::printf("  output %s the long way (angle %.6f rad, crop %d,%d-%d,%d)\n",
                        same ? "identical to" : "DIFFERS from", task->SkewAngle(),
                        task->CropRect().left, task->CropRect().top, task->CropRect().right,
                        task->CropRect().bottom);
        }
    }
    if (!keep) {
        fs::remove_all(dir);
    }
    return allSame ? 0 : 1;
}
