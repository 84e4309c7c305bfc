#include "tone/synthesis.h"

#include <cmath>
#include <cstdint>

#include "tone/portable_sine.h"
#include "tone/sample_format.h"
#include "tone/tone_settings.h"
#include "tone/wav_chunk.h"

namespace quillox {
namespace {

// y converted to a 32-bit integer by truncation toward zero. Amplitudes above
// 65536 in magnitude drive y past the 32-bit range, where a plain cast has no
// defined result: there it saturates. y is never NaN (amplitude and sine are
// finite).
std::int32_t TruncateSaturating(float y) {
    if (y >= 2147483648.0f) return INT32_MAX;
    if (y <= -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(y);
}

template <double (*Sine)(double)>
void SynthesizeWith(const SampleRun &run) {
    // The period is the same for every sample. Frequency 0 gives +infinity,
    // every theta 0 and every sample the midline.
    const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
    const double amplitude = run.amplitude;
    for (std::uint32_t k = 0; k < run.count; ++k) {
        const std::uint32_t i = run.firstIndex + k;
        const double a = static_cast<double>(i) * kPhaseFactor;
        const float theta = static_cast<float>(a / static_cast<double>(period));
        const double s = Sine(static_cast<double>(theta));
        const float x = static_cast<float>(amplitude * s);
        const float y = ((x + kMappingOffset) * kMappingHalf) * kMappingScale;
        // Silence (x = 0) maps to y = -32767.5 and v = -1, not 0: the midline
        // of the mapping. Modulo 2^32, so that saturated values cannot
        // overflow; only the low 16 bits are kept.
        const std::uint32_t v = static_cast<std::uint32_t>(kMappingBias) -
                                static_cast<std::uint32_t>(TruncateSaturating(y));
        WriteLE16(run.out + std::size_t{2} * k, v);
    }
}

#if defined(QUILLOX_PORTABLE_SINE)
constexpr double (*kSine)(double) = PortableSine;
#else
double LibrarySine(double theta) { return std::sin(theta); }
constexpr double (*kSine)(double) = LibrarySine;
#endif

}  // namespace

void SynthesizeScalar(const SampleRun &run) { SynthesizeWith<kSine>(run); }

void SynthesizeScalarPortableSine(const SampleRun &run) { SynthesizeWith<PortableSine>(run); }

SynthesisLoop SynthesisLoopFor(SynthesisPath path) {
    switch (path) {
    case SynthesisPath::kScalar: return SynthesizeScalar;
    case SynthesisPath::kScalarPortableSine: return SynthesizeScalarPortableSine;
#if defined(QUILLOX_VECTOR_SYNTHESIS)
    case SynthesisPath::kAvx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? SynthesizeAvx2
                                                                               : nullptr;
    case SynthesisPath::kAvx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")
                   ? SynthesizeAvx512
                   : nullptr;
#endif
    default: return nullptr;
    }
}

void SynthesizeTone(std::uint8_t *samples, std::uint32_t sampleCount) {
    static const SynthesisLoop fastest = [] {
        for (const auto path : {SynthesisPath::kAvx512, SynthesisPath::kAvx2}) {
            if (const SynthesisLoop loop = SynthesisLoopFor(path)) return loop;
        }
        return SynthesisLoop{SynthesizeScalar};
    }();
    fastest({toneSettings.frequencyHz, toneSettings.amplitude, 0, sampleCount, samples});
}

}  // namespace quillox
