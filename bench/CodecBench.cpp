// PNG codec throughput on a generated 600 dpi A4 colour scan (4960 × 7016),
// each path side by side in one run:
//  - decode: ReadPngReference (libpng rows) against ReadPng (the program's
//    decoder) on three files of the same page: as scanners write it (libpng
//    defaults: zlib level 6, adaptive filters, 8 KiB IDAT chunks), as the
//    reference encoder writes it, and as the program's encoder writes it;
//  - encode: WritePngReference (libpng, zlib level 1, Up, run-length
//    strategy) against WritePng (the program's encoder) on the page without
//    its alpha plane, with the file sizes.
// MB/s count the page's RGB samples (width × height × 3 bytes) per second of
// wall-clock time; each figure is the median of --repeat runs.
//
// Usage: codec_bench [--size WxH] [--repeat N] [--dir FOLDER]
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image_io/Encoders.h"
#include "image_io/ImageFile.h"
#include "image_io/PngReader.h"
#include "tests/support/ScanGenerator.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <class Run>
double Median(int repeat, Run run) {
    std::vector<double> times;
    for (int i = 0; i < repeat; ++i) {
        const Clock::time_point start = Clock::now();
        if (!run()) {
            std::fprintf(stderr, "codec_bench: a run failed\n");
            std::exit(1);
        }
        times.push_back(Seconds(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

using Writer = FormatWriter;

bool WriteWith(Writer writer, const CDib& dib, const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = writer(file, dib, WriteSettings{PixelKind::Bgr24, 600, 600, 75, 8});
    return std::fclose(file) == 0 && written;
}

// libpng's defaults, as scanner software writes its files.
bool WriteLibpngDefaults(std::FILE* file, const CDib& dib, const WriteSettings& /*settings*/) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(dib.Width()),
                 static_cast<png_uint_32>(dib.Height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    png_set_bgr(png);
    for (LONG y = 0; y < dib.Height(); ++y) {
        png_write_row(png, dib.Row(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    LONG width = 4960, height = 7016;
    int repeat = 3;
    fs::path dir = fs::temp_directory_path() / "quorvel-codec-bench";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--size WxH] [--repeat N] [--dir FOLDER]\n", argv[0]);
            return 2;
        }
    }
    fs::create_directories(dir);
    DibPtr page;
    {
        scangen::ScanOptions options =
            scangen::MakeScanOptions(width, height, 600.0 * width / 4960.0);
        options.skewDegrees = 1.7;
        options.shadow = true;
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        if (FAILED(scan.result) || FAILED(RemoveAlpha(page, *scan.scan))) {
            std::fprintf(stderr, "codec_bench: cannot generate the page\n");
            return 1;
        }
    }
    const double megabytes = double(width) * height * 3 / 1e6;
    std::printf("codec_bench: %d x %d px RGB (%.1f MB of samples), median of %d\n", width, height,
                megabytes, repeat);

    struct Source {
        const char* name;
        Writer writer;
        fs::path path;
    };
    const Source sources[] = {
        {"scanner (libpng defaults)", WriteLibpngDefaults, dir / "scanner.png"},
        {"reference encoder", WritePngReference, dir / "reference.png"},
        {"program's encoder", WritePng, dir / "program.png"},
    };

    std::printf("\nencode              %10s %10s %12s %8s\n", "s", "MB/s", "bytes", "size");
    double referenceBytes = 0;
    for (const Source& source : {sources[1], sources[2]}) {
        const double s =
            Median(repeat, [&] { return WriteWith(source.writer, *page, source.path); });
        const auto bytes = static_cast<double>(fs::file_size(source.path));
        if (referenceBytes == 0) {
            referenceBytes = bytes;
        }
        std::printf("  %-17s %10.3f %10.1f %12.0f %7.1f%%\n",
                    source.writer == WritePng ? "WritePng" : "WritePngReference", s, megabytes / s,
                    bytes, 100.0 * bytes / referenceBytes);
    }
    if (!WriteWith(sources[0].writer, *page, sources[0].path)) {
        std::fprintf(stderr, "codec_bench: cannot write %s\n", sources[0].path.c_str());
        return 1;
    }
    page.reset();

    std::printf("\ndecode of the file written by   %18s %18s %8s\n", "ReadPngReference", "ReadPng",
                "speed-up");
    for (const Source& source : sources) {
        StreamPtr stream;
        if (FAILED(ReadFileToStream(stream, source.path.string()))) {
            std::fprintf(stderr, "codec_bench: cannot read %s\n", source.path.c_str());
            return 1;
        }
        const DecodeLimits limits{kMaxDecodedImageBytes, kMaxDecodedImageSide};
        double s[2];
        int path = 0;
        for (const DecodeFunction decode : {ReadPngReference, ReadPng}) {
            s[path++] = Median(repeat, [&] {
                DibPtr dib;
                bool alpha = false;
                return SUCCEEDED(decode(dib, alpha, stream->Data(), stream->Size(), limits));
            });
        }
        std::printf("  %-29s %7.3f s %6.0f MB/s %7.3f s %6.0f MB/s %7.2fx\n", source.name, s[0],
                    megabytes / s[0], s[1], megabytes / s[1], s[0] / s[1]);
    }
    fs::remove_all(dir);
    return 0;
}
