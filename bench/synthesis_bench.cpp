// Nanoseconds a sample for each sample loop side by side, and for whole
// requests: `quillox_bench --benchmark_counters_tabular=true`.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QuilloxWAVFrequency.h"
#include "tone/correctly_rounded_sine.h"
#include "tone/sample_format.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"
#include "tone/wav_chunk.h"
#include "tone/wave_file.h"
#include "write_floor.h"

namespace {

// One second of a 1 kHz tone at the amplitude the argument gives, into a
// buffer that is already in memory.
void BM_SampleLoop(benchmark::State &state, quillox::SynthesisLoop loop) {
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

// A second of a 20 kHz tone at level 30, from its start or from the
// minute the argument gives: from minute 55 on, theta is past
// kSmallThetaLimit (4e8), where every loop takes the large-theta sine.
void BM_LateInATone(benchmark::State &state, quillox::SynthesisLoop loop) {
    constexpr std::uint32_t kCount = 44100;
    const auto first = static_cast<std::uint32_t>(state.range(0)) * 60 * kCount;
    std::vector<std::uint8_t> out(2 * kCount);
    for (auto _ : state) {
        loop({20000, 3, first, kCount, out.data()});
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kCount,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The amplitudes whose paths differ: a power of two (no multiplication by
// it), another (level 30), and one whose samples saturate before they wrap.
// Then early and late in a tone.
void RegisterSampleLoop(const char *name, quillox::SynthesisLoop loop) {
    benchmark::RegisterBenchmark((std::string("BM_SampleLoop/") + name).c_str(), BM_SampleLoop,
                                 loop)
        ->ArgName("amplitude")
        ->Arg(1)
        ->Arg(3)
        ->Arg(70000);
    benchmark::RegisterBenchmark((std::string("BM_LateInATone/") + name).c_str(), BM_LateInATone,
                                 loop)
        ->ArgName("minute")
        ->Arg(0)
        ->Arg(55);
}

// A whole request as WAVHZCreate makes it (the data chunk, the others, the
// file), its samples by the loop given instead of the fastest: so that one
// machine measures every loop's whole tone. Only the benchmark does this.
void BM_RequestThrough(benchmark::State &state, quillox::SynthesisLoop loop) {
    using namespace quillox;
    const auto seconds = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        toneSettings = {"/dev/shm/quillox_bench.wav", 1, 1000, seconds};
        WavChunk data;
        WavChunk format;
        WavChunk riff;
        if (BuildDataChunk(data, loop) != kSucceeded || BuildFormatChunk(format) != kSucceeded ||
            BuildRiffChunk(riff, format, data) != kSucceeded ||
            WriteWaveFile(riff, format, data) != kSucceeded) {
            state.SkipWithError("the request failed");
            break;
        }
    }
    std::remove("/dev/shm/quillox_bench.wav");
}

// The reference sine and the C library's, a call at a time, on the thetas
// of a second of a 1 kHz tone from its start (below 2^13) and from 13 hours
// into a 19,999 Hz one (near 2^38), where the reduction does the most.
void BM_Sine(benchmark::State &state, double (*sine)(double)) {
    using quillox::kSampleRate;
    const std::uint32_t first = state.range(0) == 0 ? 0 : 46'800 * kSampleRate;
    const float period = quillox::kSamplesPerSecond / (state.range(0) == 0 ? 1000.0f : 19999.0f);
    std::vector<double> thetas(kSampleRate);
    for (std::uint32_t k = 0; k < thetas.size(); ++k) {
        thetas[k] =
            static_cast<float>(static_cast<double>(first + k) * quillox::kPhaseFactor / period);
    }
    for (auto _ : state) {
        double sum = 0;
        for (const double theta : thetas) sum += sine(theta);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["ns_per_call"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * thetas.size(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
double LibrarySine(double theta) { return std::sin(theta); }
BENCHMARK_CAPTURE(BM_Sine, correctly_rounded, quillox::CorrectlyRoundedSine)
    ->ArgName("late")
    ->Arg(0)
    ->Arg(1);
BENCHMARK_CAPTURE(BM_Sine, library, LibrarySine)->ArgName("late")->Arg(0)->Arg(1);

// A whole request beside the floor for the same bytes, both into a file on
// tmpfs (/dev/shm) that each call overwrites: the floor allocates as the
// library does, touches every byte, opens, writes once and closes. Their
// ratio is what the request's own work and safety cost per call.
void BM_WriteTone(benchmark::State &state) {
    const auto seconds = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(WAVHZCreate(u"/dev/shm/quillox_bench.wav", 1000, 10, seconds));
    }
    std::remove("/dev/shm/quillox_bench.wav");
}
BENCHMARK(BM_WriteTone)->Arg(1)->Arg(30)->Arg(600)->Unit(benchmark::kMicrosecond);

void BM_WriteFloor(benchmark::State &state) {
    const std::size_t bytes = WAVHZ_FILE_BYTES(static_cast<std::uint32_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(WriteFloor("/dev/shm/quillox_floor.wav", bytes));
    std::remove("/dev/shm/quillox_floor.wav");
}
BENCHMARK(BM_WriteFloor)->Arg(1)->Arg(30)->Arg(600)->Unit(benchmark::kMicrosecond);

// The same over an existing file, and as a new file each time, in the
// folder QUILLOX_BENCH_DIR names (a loop-mounted ext4, say; /dev/shm where
// unset): what putting the tone on disk before the call returns costs.
void BM_WriteToneIn(benchmark::State &state) {
    const char *const folder = std::getenv("QUILLOX_BENCH_DIR");
    const std::string name = std::string(folder != nullptr ? folder : "/dev/shm") + "/bench.wav";
    const std::u16string path(name.begin(), name.end());
    const auto seconds = static_cast<std::uint32_t>(state.range(0));
    const bool fresh = state.range(1) != 0;
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            std::remove(name.c_str());
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(WAVHZCreate(path.c_str(), 1000, 10, seconds));
    }
    std::remove(name.c_str());
}
BENCHMARK(BM_WriteToneIn)
    ->ArgNames({"s", "new"})
    ->ArgsProduct({{1, 30}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

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

// The loops side by side: the reference, the C library's sine, then every
// fast loop this processor runs.
int main(int argc, char **argv) {
    RegisterSampleLoop("reference", quillox::SynthesizeReference);
    RegisterSampleLoop("library_sine", quillox::SynthesizeLibrarySine);
    for (const quillox::FastLoop &loop : quillox::FastLoops()) {
        if (!loop.available()) continue;
        RegisterSampleLoop(loop.name, loop.synthesize);
        benchmark::RegisterBenchmark((std::string("BM_RequestThrough/") + loop.name).c_str(),
                                     BM_RequestThrough, loop.synthesize)
            ->Arg(600)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
