// The sine tone's samples.
//
// Sample i of a tone, in the precisions that make the output exact:
//   a = double(i) * 6.28318                        double
//   p = 44100.0f / float(frequencyHz)              float: period in samples
//   theta = float(a / double(p))                   double division, then float
//   s = sin(double(theta))                         double
//   x = float(double(amplitude) * s)               double product, then float
//   y = ((x + 1.0f) * 0.5f) * -65535.0f            three float operations
//   v = -32768 - int32(y)                          truncating, saturating
// and the low 16 bits of v are stored little-endian. The phase is taken
// afresh from i for every sample: there is no running accumulator, and far
// into a long tone the single-precision theta shows in the wave.
//
// The code that computes these must be built with floating-point
// contraction off: a fused multiply-add changes samples.
#pragma once

#include <cfloat>
#include <cstdint>

// Every float and double operation must round to its own type. An x87 build
// keeps excess precision in registers and gives other samples: 32-bit x86
// builds need SSE2 arithmetic (-msse2 -mfpmath=sse).
static_assert(FLT_EVAL_METHOD == 0,
              "samples need float and double arithmetic without excess precision");

namespace quillox {

// A stretch of one tone's samples: `count` samples from sample `firstIndex`
// on, stored at `out` as 16-bit little-endian values.
struct SampleRun {
    std::int32_t frequencyHz;
    float amplitude;
    std::uint32_t firstIndex;
    std::uint32_t count;
    std::uint8_t *out;
};

// The reference loop: the steps above, one sample at a time, with std::sin
// (with PortableSine where the C library's sine cannot be trusted).
void SynthesizeScalar(const SampleRun &run);
// The same loop with PortableSine wherever it runs.
void SynthesizeScalarPortableSine(const SampleRun &run);

// The same steps, 8 samples at a time, with SLEEF's vector sines (accurate to
// 1 ulp, like std::sin). A sine within 1 ulp can still round a sample the
// other way; the tests compare these loops with the reference sample for
// sample and have found no difference. Each runs only on a processor that
// has its instructions.
void SynthesizeAvx2(const SampleRun &run);    // AVX2 and FMA
void SynthesizeAvx512(const SampleRun &run);  // AVX-512 F and VL

enum class SynthesisPath { kScalar, kScalarPortableSine, kAvx2, kAvx512 };
using SynthesisLoop = void (*)(const SampleRun &);

// The loop of `path`, or nullptr when this build or this processor lacks it.
SynthesisLoop SynthesisLoopFor(SynthesisPath path);

// The `sampleCount` samples of the tone in toneSettings, from sample 0, by the
// fastest loop this processor runs (chosen once).
void SynthesizeTone(std::uint8_t *samples, std::uint32_t sampleCount);

}  // namespace quillox
