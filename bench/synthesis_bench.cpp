// Nanoseconds a sample for the sample loop, and for a whole request.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "QuilloxWAVFrequency.h"
#include "tone/synthesis.h"

namespace {

void BM_SynthesizeScalar(benchmark::State &state) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::uint8_t> out(2 * std::size_t{count});
    for (auto _ : state) {
        quillox::SynthesizeScalar({1000, 1.0f, 0, count, out.data()});
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SynthesizeScalar)->Arg(44100);

// One second of tone from argument to file, the file on /dev/null.
void BM_WAVHZCreateOneSecond(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(WAVHZCreate(u"/dev/null", 1000, 10, 1));
    state.SetItemsProcessed(state.iterations() * 44100);
}
BENCHMARK(BM_WAVHZCreateOneSecond);

}  // namespace

BENCHMARK_MAIN();
