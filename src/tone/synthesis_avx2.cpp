// The sample loop with AVX2: 8 samples an iteration as two 4-lane halves, the
// same conversions and roundings in every lane as the reference loop.
//
// Built with AVX2 enabled: keep this file to intrinsics and internal
// functions, so that no inline function compiled here can stand in for the
// plain one elsewhere.
#include <immintrin.h>
#include <sleef.h>

#include <cstdint>

#include "tone/sample_format.h"
#include "tone/synthesis.h"
#include "tone/synthesis_lanes.h"

namespace quillox {
namespace {

struct Constants {
    __m256d periodDouble;
    __m256d amplitude;
    __m256d phaseFactor;
};

// x, rounded to single precision, for 4 sample indices.
__m128 ScaledSine(const Constants &c, __m256d index) {
    const __m256d a = _mm256_mul_pd(index, c.phaseFactor);
    const __m128 theta = _mm256_cvtpd_ps(_mm256_div_pd(a, c.periodDouble));
    const __m256d s = Sleef_sind4_u10avx2(_mm256_cvtps_pd(theta));
    return _mm256_cvtpd_ps(_mm256_mul_pd(c.amplitude, s));
}

}  // namespace

void SynthesizeAvx2(const SampleRun &run) {
    const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
    const Constants c = {_mm256_set1_pd(static_cast<double>(period)),
                         _mm256_set1_pd(static_cast<double>(run.amplitude)),
                         _mm256_set1_pd(kPhaseFactor)};
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    // Sample indices as doubles: whole numbers below 2^53 add exactly.
    const __m256d first = _mm256_set1_pd(static_cast<double>(run.firstIndex));
    __m256d indexLow = _mm256_add_pd(first, _mm256_set_pd(3, 2, 1, 0));
    __m256d indexHigh = _mm256_add_pd(first, _mm256_set_pd(7, 6, 5, 4));
    const __m256d step = _mm256_set1_pd(8);

    std::uint32_t k = 0;
    for (; run.count - k >= 8; k += 8) {
        const __m256 x = _mm256_set_m128(ScaledSine(c, indexHigh), ScaledSine(c, indexLow));
        const __m256i v = _mm256_and_si256(SampleLanes(x), low16);
        // Pack the low 16 bits of the 8 lanes (exact: each is 0..65535) and
        // gather the two 128-bit halves' results into the low half.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(run.out + 2 * std::size_t{k}),
                         _mm256_castsi256_si128(packed));
        indexLow = _mm256_add_pd(indexLow, step);
        indexHigh = _mm256_add_pd(indexHigh, step);
    }
    if (k < run.count) {
        SynthesizeScalar({run.frequencyHz, run.amplitude, run.firstIndex + k, run.count - k,
                          run.out + 2 * std::size_t{k}});
    }
}

}  // namespace quillox
