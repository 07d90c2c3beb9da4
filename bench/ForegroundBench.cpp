// Foreground images of a 600 dpi A4 page (4960 × 7016): the difference image
// against an empty-bed scan, the background statistics over the border
// bands, and the distance image.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "image/BackgroundModel.h"
#include "image/DifferenceImage.h"
#include "image/Side.h"

namespace {

constexpr LONG kWidth = 4960;
constexpr LONG kHeight = 7016;

// A grey-blue bed with noise; with `page`, a paper-coloured page with a
// margin of 300 pixels.
DibPtr MakeScan(bool page, std::uint32_t seed) {
    DibPtr dib(new CDib);
    if (!dib->Create(kWidth, kHeight, 32, 0, BI_RGB) || !dib->AllocateBits()) {
        return {};
    }
    std::mt19937 rng(seed);
    for (LONG y = 0; y < kHeight; ++y) {
        BYTE* p = dib->Row(y);
        for (LONG x = 0; x < kWidth; ++x, p += 4) {
            const std::uint32_t r = rng();
            const bool onPage =
                page && x >= 300 && x < kWidth - 300 && y >= 300 && y < kHeight - 300;
            const int base = onPage ? 225 : 60;
            p[0] = BYTE(base + 20 + (r & 7));
            p[1] = BYTE(base + 10 + ((r >> 3) & 7));
            p[2] = BYTE(base + ((r >> 6) & 7));
            p[3] = 255;
        }
    }
    return dib;
}

const CDib& Scan() {
    static const DibPtr scan = MakeScan(true, 1);
    return *scan;
}

const CDib& EmptyBed() {
    static const DibPtr empty = MakeScan(false, 2);
    return *empty;
}

std::vector<RECT> Bands() {
    // The default band ratio 0.002: (9, 14).
    return BackgroundSampleRects(SideList{SideLeft, SideTop, SideRight, SideBottom},
                                 {kWidth, kHeight}, {9, 14});
}

void BM_DifferenceImage(benchmark::State& state) {
    const CDib& scan = Scan();
    const CDib& empty = EmptyBed();
    for (auto _ : state) {
        DibPtr out;
        if (ComputeDifferenceImage(out, scan, empty, static_cast<int>(state.range(0)), nullptr) !=
            S_OK) {
            state.SkipWithError("ComputeDifferenceImage failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_DifferenceImage)->Arg(MeasureRgb)->Arg(MeasureGreen)->Unit(benchmark::kMillisecond);

void BM_BackgroundStatistics(benchmark::State& state) {
    const CDib& scan = Scan();
    const std::vector<RECT> bands = Bands();
    std::vector<double> mean, covariance;
    for (auto _ : state) {
        if (ComputeBackgroundStatistics(mean, covariance, scan, bands) != S_OK) {
            state.SkipWithError("ComputeBackgroundStatistics failed");
            break;
        }
        benchmark::DoNotOptimize(covariance.data());
    }
}
BENCHMARK(BM_BackgroundStatistics)->Unit(benchmark::kMillisecond);

void BM_DistanceImage(benchmark::State& state) {
    const CDib& scan = Scan();
    std::vector<double> mean, covariance, inverse;
    if (ComputeBackgroundStatistics(mean, covariance, scan, Bands()) != S_OK) {
        state.SkipWithError("ComputeBackgroundStatistics failed");
        return;
    }
    if (InvertMatrix3(inverse, covariance) != S_OK) {
        inverse = SingularCovarianceFallback(covariance);
    }
    for (auto _ : state) {
        DibPtr out;
        if (ComputeDistanceImage(out, scan, mean, inverse, nullptr) != S_OK) {
            state.SkipWithError("ComputeDistanceImage failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_DistanceImage)->Unit(benchmark::kMillisecond);

}  // namespace
