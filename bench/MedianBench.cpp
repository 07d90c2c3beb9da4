// The 3 × 3 median and the shrinking for side detection on a full A4 page
// at 600 dpi (4960 × 7016 pixels).
//
// The sorting reference runs on the top tenth of the page (4960 × 702) to
// keep the run short; compare the benchmarks by their time per pixel
// (s_per_px), or multiply the reference's time by ten for a whole page.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "image/MedianFilter.h"
#include "image/Resize.h"

namespace {

constexpr LONG kPageWidth = 4960;
constexpr LONG kPageHeight = 7016;
constexpr LONG kReferenceRows = kPageHeight / 10 + 1;

// A difference image as the pipeline sees it: dark background, a bright
// page area, and speckle noise over both.
DibPtr MakePage(WORD bits) {
    DibPtr page(new CDib);
    if (!page->Create(kPageWidth, kPageHeight, bits, 0, BI_RGB) || !page->AllocateBits()) {
        return {};
    }
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> noise(0, 40);
    const int bytes = bits / 8;
    for (LONG y = 0; y < kPageHeight; ++y) {
        BYTE* row = page->Row(y);
        for (LONG x = 0; x < kPageWidth; ++x) {
            const bool inside = x > 300 && x < 4600 && y > 250 && y < 6800;
            const BYTE v = static_cast<BYTE>((inside ? 180 : 10) + noise(rng));
            for (int c = 0; c < bytes; ++c) {
                row[bytes * x + c] = c == 3 ? 255 : v;
            }
        }
    }
    return page;
}

const CDib& GreyPage() {
    static const DibPtr page = MakePage(8);
    return *page;
}

// The plain way: copy each window, sort it, take the middle.
void SortMedian(const CDib& src, CDib& dst, LONG rows) {
    int window[9];
    for (LONG y = 1; y + 1 < rows; ++y) {
        BYTE* out = dst.Row(y);
        for (LONG x = 1; x + 1 < src.Width(); ++x) {
            int* p = window;
            for (LONG r = y - 1; r <= y + 1; ++r) {
                const BYTE* in = src.Row(r);
                for (LONG c = x - 1; c <= x + 1; ++c) {
                    *p++ = in[c];
                }
            }
            std::sort(window, window + 9);
            out[x] = static_cast<BYTE>(window[4]);
        }
    }
}

void SetPixelRate(benchmark::State& state, LONG rows) {
    const double pixels = static_cast<double>(kPageWidth) * rows;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels));
    state.counters["s_per_px"] = benchmark::Counter(
        pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Median3x3Fast(benchmark::State& state) {
    const CDib& page = GreyPage();
    for (auto _ : state) {
        DibPtr out;
        if (FAILED(MedianFilter(out, page, 3, nullptr))) {
            state.SkipWithError("MedianFilter failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    SetPixelRate(state, kPageHeight);
}
BENCHMARK(BM_Median3x3Fast)->Unit(benchmark::kMillisecond);

void BM_Median3x3SortReference(benchmark::State& state) {
    const CDib& page = GreyPage();
    CDib out;
    if (!out.Create(kPageWidth, kPageHeight, 8, 0, BI_RGB) || !out.AllocateBits()) {
        state.SkipWithError("no memory");
        return;
    }
    for (auto _ : state) {
        SortMedian(page, out, kReferenceRows);
        benchmark::DoNotOptimize(out.Bits());
    }
    SetPixelRate(state, kReferenceRows);
    state.SetLabel("top 4960x702 of the page");
}
BENCHMARK(BM_Median3x3SortReference)->Unit(benchmark::kMillisecond);

void BM_ShrinkForSideDetectionGrey(benchmark::State& state) {
    const CDib& page = GreyPage();
    for (auto _ : state) {
        DibPtr out;
        if (FAILED(ShrinkForSideDetection(out, page))) {
            state.SkipWithError("ShrinkForSideDetection failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    SetPixelRate(state, kPageHeight);
    state.SetLabel("to 300x424");
}
BENCHMARK(BM_ShrinkForSideDetectionGrey)->Unit(benchmark::kMillisecond);

void BM_Resize32ToPreview(benchmark::State& state) {
    static const DibPtr page = MakePage(32);
    const RECT src{0, 0, kPageWidth, kPageHeight};
    for (auto _ : state) {
        DibPtr out;
        if (FAILED(Resize(out, RECT{0, 0, 300, 424}, *page, src))) {
            state.SkipWithError("Resize failed");
            break;
        }
        benchmark::DoNotOptimize(out->Bits());
    }
    SetPixelRate(state, kPageHeight);
    state.SetLabel("32-bit to 300x424");
}
BENCHMARK(BM_Resize32ToPreview)->Unit(benchmark::kMillisecond);

}  // namespace
