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
// contraction off: a fused multiply-add the compiler chooses changes
// samples. (The fast loops use fused operations where their proofs say.)
#pragma once

#include <cfloat>
#include <cstdint>
#include <span>

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

// The reference loop: the steps above, one sample at a time, with the sine
// correctly rounded (CorrectlyRoundedSine). So the samples are the formula's
// own: every platform computes the same bytes by construction, and anyone
// can check them with MPFR.
void SynthesizeReference(const SampleRun &run);
// The same loop with the C library's sine: a cross-check of the reference.
// A C library sine within 1 ulp may round a sample the other way now and
// then (glibc 2.36's differs from the correctly rounded sine on 1 float
// theta in 2,300 below 2^51); the tests compare the two loops over long
// stretches.
void SynthesizeLibrarySine(const SampleRun &run);
// Sample `index` of the reference loop, as its low 16 bits.
std::uint16_t ReferenceSample(float period, double amplitude, std::uint32_t index);

using SynthesisLoop = void (*)(const SampleRun &);

// The fast loops (tone/fast_loop.h): the reference's bytes, several samples
// at a time, each where its instructions exist. FastestLoop, the tests,
// the fuzzer and the benchmark all take them from FastLoops(): a loop for a
// new instruction set is a file of its own and a line in that table.
struct FastLoop {
    const char *name;
    bool (*available)();  // this processor has the instructions
    SynthesisLoop synthesize;
};

// The fast loops of this build, fastest first; the last, plain C++, runs
// everywhere.
std::span<const FastLoop> FastLoops();

void SynthesizeFastScalar(const SampleRun &run);  // any processor
void SynthesizeSse2(const SampleRun &run);        // x86 (every x86-64, and 32-bit builds)
void SynthesizeAvx2(const SampleRun &run);        // x86-64 with AVX2 and FMA
void SynthesizeAvx512(const SampleRun &run);      // x86-64 with AVX-512 F, VL, BW and DQ
void SynthesizeNeon(const SampleRun &run);        // 64-bit ARM

// The fastest loop this processor runs (chosen at the first call).
SynthesisLoop FastestLoop();

// The `sampleCount` samples of the tone in toneSettings, from sample 0, by
// `loop`.
void SynthesizeTone(std::uint8_t *samples, std::uint32_t sampleCount, SynthesisLoop loop);

}  // namespace quillox
