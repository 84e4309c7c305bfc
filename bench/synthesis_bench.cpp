// Nanoseconds a sample for each sample loop side by side, and for whole
// requests: `quillox_bench --benchmark_counters_tabular=true`.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "QuilloxWAVFrequency.h"
#include "tone/synthesis.h"

namespace {

using quillox::SynthesisPath;

// One second of a 1 kHz tone at the amplitude the argument gives, into a
// buffer that is already in memory.
void BM_SampleLoop(benchmark::State &state, SynthesisPath path) {
    const quillox::SynthesisLoop loop = quillox::SynthesisLoopFor(path);
    if (loop == nullptr) {
        state.SkipWithError("not on this processor or in this build");
        return;
    }
    constexpr std::uint32_t kCount = 44100;
    std::vector<std::uint8_t> out(2 * kCount);
    for (auto _ : state) {
        loop({1000, static_cast<float>(state.range(0)), 0, kCount, out.data()});
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kCount,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
// The amplitudes whose paths differ: a power of two (no multiplication by
// it), another (level 30), and one whose samples saturate before they wrap.
void Amplitudes(benchmark::internal::Benchmark *benchmark) {
    benchmark->ArgName("amplitude")->Arg(1)->Arg(3)->Arg(70000);
}
BENCHMARK_CAPTURE(BM_SampleLoop, reference, SynthesisPath::kReference)->Apply(Amplitudes);
BENCHMARK_CAPTURE(BM_SampleLoop, library_sine, SynthesisPath::kLibrarySine)->Apply(Amplitudes);
BENCHMARK_CAPTURE(BM_SampleLoop, fast_scalar, SynthesisPath::kFastScalar)->Apply(Amplitudes);
BENCHMARK_CAPTURE(BM_SampleLoop, sse2, SynthesisPath::kSse2)->Apply(Amplitudes);
BENCHMARK_CAPTURE(BM_SampleLoop, avx2, SynthesisPath::kAvx2)->Apply(Amplitudes);
BENCHMARK_CAPTURE(BM_SampleLoop, avx512, SynthesisPath::kAvx512)->Apply(Amplitudes);
BENCHMARK_CAPTURE(BM_SampleLoop, neon, SynthesisPath::kNeon)->Apply(Amplitudes);

// A whole request, buffers, first touch and all, the file on /dev/null.
void BM_WAVHZCreate(benchmark::State &state) {
    const auto seconds = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(WAVHZCreate(u"/dev/null", 1000, 10, seconds));
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * seconds * 44100,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WAVHZCreate)->Arg(1)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
