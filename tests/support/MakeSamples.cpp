// Writes the bundled sample scans: three generated pages on a light scanner
// bed (one straight, two skewed, one with a lid shadow) and the empty-bed
// scan they go with, as 75 dpi PNG files.
//
// The samples are committed; run this only to regenerate them on purpose:
//   make_samples samples/
#include <cstdio>
#include <string>

#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const double dpi = 75;
    struct Page {
        const char* name;
        double skew;
        bool shadow;
    };
    const Page pages[] = {
        {"page1.png", 0.0, false}, {"page2.png", 2.4, true}, {"page3.png", -3.7, false}};
    scangen::ScanOptions options = scangen::MakeScanOptions(620, 877, dpi);
    options.noiseSigma = 0.8;
    bool ok = true;
    for (std::size_t i = 0; i < std::size(pages); ++i) {
        options.skewDegrees = pages[i].skew;
        options.shadow = pages[i].shadow;
        options.seed = static_cast<std::uint32_t>(100 + i);
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        ok = ok && SUCCEEDED(scan.result) &&
             scangen::WritePng(scan.scan, folder + pages[i].name, dpi);
        if (i == 0) {
            ok = ok && scangen::WritePng(scan.emptyBed, folder + "empty.png", dpi);
        }
    }
    if (!ok) {
        std::fprintf(stderr, "make_samples: could not write the samples to %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
