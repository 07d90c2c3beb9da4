// Reading the settings file's text: values under one key, as a damaged or
// hostile file may hold them by the ten thousand. Parsing is linear in the
// file's size (see the complexity line); the text of 20 000 values is
// about 0.6 MB, within the largest file that is read.
#include <benchmark/benchmark.h>

#include <string>

#include "settings/RegistryStore.h"

namespace {

std::string ManyValues(int count) {
    std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\K]\n";
    for (int i = 0; i < count; ++i) {
        text += "\"Value" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    }
    return text;
}

void BM_ParseValuesUnderOneKey(benchmark::State& state) {
    const std::string text = ManyValues(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CRegistryStore store;
        benchmark::DoNotOptimize(store.Parse(text).badLines);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseValuesUnderOneKey)
    ->Arg(5000)
    ->Arg(20000)
    ->Arg(80000)
    ->Arg(320000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace
