#include "tone/synthesis.h"

#include <cmath>
#include <cstdint>

#include "tone/byte_order.h"
#include "tone/correctly_rounded_sine.h"
#include "tone/sample_format.h"
#include "tone/sample_mapping.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

// One sample, as the steps in synthesis.h give it.
template <double (*Sine)(double)>
std::uint16_t Sample(float period, double amplitude, std::uint32_t i) {
    const double a = static_cast<double>(i) * kPhaseFactor;
    const float theta = static_cast<float>(a / static_cast<double>(period));
    const double s = Sine(static_cast<double>(theta));
    return SampleFromScaledSine(static_cast<float>(amplitude * s));
}

template <double (*Sine)(double)>
void SynthesizeWith(const SampleRun &run) {
    // The period is the same for every sample. Frequency 0 gives +infinity,
    // every theta 0 and every sample the midline.
    const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
    for (std::uint32_t k = 0; k < run.count; ++k) {
        WriteLE16(run.out + std::size_t{2} * k,
                  Sample<Sine>(period, run.amplitude, run.firstIndex + k));
    }
}

double LibrarySine(double theta) { return std::sin(theta); }

}  // namespace

void SynthesizeReference(const SampleRun &run) { SynthesizeWith<CorrectlyRoundedSine>(run); }

void SynthesizeLibrarySine(const SampleRun &run) { SynthesizeWith<LibrarySine>(run); }

std::uint16_t ReferenceSample(float period, double amplitude, std::uint32_t index) {
    return Sample<CorrectlyRoundedSine>(period, amplitude, index);
}

namespace {

bool Always() { return true; }

#if defined(QUILLOX_X86_64_LOOPS)
bool HasAvx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }
bool HasAvx512() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
}
#endif

constexpr FastLoop kFastLoops[] = {
#if defined(QUILLOX_X86_64_LOOPS)
    {"avx512", HasAvx512, SynthesizeAvx512},
    {"avx2", HasAvx2, SynthesizeAvx2},
#endif
#if defined(QUILLOX_SSE2_LOOP)
    {"sse2", Always, SynthesizeSse2},
#endif
#if defined(__aarch64__)
    {"neon", Always, SynthesizeNeon},
#endif
    {"fast_scalar", Always, SynthesizeFastScalar},
};

}  // namespace

std::span<const FastLoop> FastLoops() { return kFastLoops; }

// Chosen anew on each call, not kept in a function-local static: the few
// processor-feature tests cost nothing beside a tone, and a static's guard
// could be left held by a fork in the middle of its set-up.
SynthesisLoop FastestLoop() {
    for (const FastLoop &loop : FastLoops()) {
        if (loop.available()) return loop.synthesize;
    }
    return SynthesisLoop{SynthesizeFastScalar};
}

void SynthesizeTone(std::uint8_t *samples, std::uint32_t sampleCount, SynthesisLoop loop) {
    loop({toneSettings.frequencyHz, toneSettings.amplitude, 0, sampleCount, samples});
}

}  // namespace quillox
