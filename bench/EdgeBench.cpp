// Edge-line search on a full A4 page at 600 dpi: the best-level fit of one
// side (eight edge-point extractions and eight Hough transforms).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>

#include "image/Dib.h"
#include "trim/EdgeLine.h"

namespace {

constexpr LONG kWidth = 4960;
constexpr LONG kHeight = 7016;

// Foreground after filtering: a dark background with faint noise (0 to 7)
// and a bright page of 4400 × 6500 pixels turned 2 degrees clockwise.
const CDib& SkewedPage() {
    static const DibPtr page = [] {
        DibPtr dib(new CDib);
        if (!dib->Create(kWidth, kHeight, 8, 256, BI_RGB) || !dib->AllocateBits()) {
            return DibPtr();
        }
        const double angle = 2.0 * std::numbers::pi / 180.0;
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        std::mt19937 rng(4960);
        std::uniform_int_distribution<int> noise(0, 7);
        for (LONG y = 0; y < kHeight; ++y) {
            BYTE* row = dib->Row(y);
            const double dy = y + 0.5 - kHeight / 2.0;
            for (LONG x = 0; x < kWidth; ++x) {
                const double dx = x + 0.5 - kWidth / 2.0;
                const double u = c * dx + s * dy;
                const double v = -s * dx + c * dy;
                const bool inside = std::abs(u) <= 2200.0 && std::abs(v) <= 3250.0;
                row[x] = static_cast<BYTE>(inside ? 180 + noise(rng) : noise(rng));
            }
        }
        return dib;
    }();
    return *page;
}

void BM_FitEdgeLineBestLevel(benchmark::State& state) {
    const CDib& page = SkewedPage();
    const Side side = static_cast<Side>(state.range(0));
    const SIZE band{9, 14};  // trunc(4960 × 0.002), trunc(7016 × 0.002)
    for (auto _ : state) {
        EdgeLine line;
        const HRESULT hr = FitEdgeLineBestLevel(line, page, side, band, 10, 10, nullptr);
        benchmark::DoNotOptimize(hr);
        benchmark::DoNotOptimize(line.votes);
    }
}
BENCHMARK(BM_FitEdgeLineBestLevel)
    ->ArgName("side")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond);

void BM_ExtractEdgePoints(benchmark::State& state) {
    const CDib& page = SkewedPage();
    const auto side = static_cast<Side>(state.range(0));
    for (auto _ : state) {
        PointList points;
        benchmark::DoNotOptimize(ExtractEdgePoints(points, page, side, 1, 4.0));
        benchmark::DoNotOptimize(points.data());
    }
}
BENCHMARK(BM_ExtractEdgePoints)->ArgName("side")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
