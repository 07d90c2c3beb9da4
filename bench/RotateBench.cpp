// Rotation of a full 600 dpi A4 page (4960 × 7016) by a typical skew, and
// of its crop rectangle alone, with each kernel side by side (the argument:
// 1 plain, 2 SSE2, 3 AVX2; a kernel the processor lacks is skipped).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "image/Dib.h"
#include "image/PixelMemory.h"
#include "image/Rotate.h"

namespace {

constexpr LONG kWidth = 4960;
constexpr LONG kHeight = 7016;
constexpr double kAngle = 1.7 * 3.141592653589793 / 180.0;

// Paper-white with dark strokes and noise, so the kernel sees scan-like data.
DibPtr MakePage(WORD bits) {
    DibPtr page(new CDib);
    page->Create(kWidth, kHeight, bits, 0, BI_RGB);
    page->AllocateBits();
    std::mt19937 rng(1234);
    const int bytes = bits / 8;
    for (LONG y = 0; y < kHeight; ++y) {
        BYTE* row = page->Row(y);
        for (LONG x = 0; x < kWidth; ++x) {
            const bool ink = (y / 40) % 2 == 0 && (x / 7 + y / 40) % 5 != 0 && (x % 7) < 2;
            const int base = ink ? 30 : 235;
            for (int c = 0; c < bytes; ++c) {
                row[x * bytes + c] = static_cast<BYTE>(base + static_cast<int>(rng() % 16));
            }
            if (bytes == 4) {
                row[x * 4 + 3] = 255;
            }
        }
    }
    return page;
}

// Forces the benchmark's kernel for its run; false (and the benchmark
// skipped) when the processor lacks it.
bool UseKernel(benchmark::State& state) {
    const auto kernel = static_cast<RotateKernel>(state.range(0));
    ForceRotateKernel(kernel);
    if (ActiveRotateKernel() != kernel) {
        state.SkipWithError("kernel not available on this processor");
        return false;
    }
    return true;
}

void RotatePage(benchmark::State& state, WORD bits) {
    if (!UseKernel(state)) {
        return;
    }
    const DibPtr page = MakePage(bits);
    // As inside the pipeline: each output reuses the block of the one before.
    const PixelCacheScope cache;
    for (auto _ : state) {
        DibPtr out;
        const HRESULT hr = RotateImage(out, *page, kAngle, nullptr);
        if (FAILED(hr)) {
            state.SkipWithError("RotateImage failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}

// The pipeline's last pixel step: the rotated page's crop rectangle (80 % of
// each side, centred), alpha dropped.
void BM_RotateRect24(benchmark::State& state) {
    if (!UseKernel(state)) {
        return;
    }
    const DibPtr page = MakePage(32);
    const RECT rect{kWidth / 10, kHeight / 10, kWidth - kWidth / 10, kHeight - kHeight / 10};
    const PixelCacheScope cache;
    for (auto _ : state) {
        DibPtr out;
        if (FAILED(RotateImageRect(out, *page, kAngle, rect, 24, nullptr))) {
            state.SkipWithError("RotateImageRect failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{rect.right - rect.left} *
                            (rect.bottom - rect.top));
}

void BM_RotatePage32(benchmark::State& state) {
    RotatePage(state, 32);
}
void BM_RotatePage8(benchmark::State& state) {
    RotatePage(state, 8);
}

}  // namespace

BENCHMARK(BM_RotatePage32)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotatePage8)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RotateRect24)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
