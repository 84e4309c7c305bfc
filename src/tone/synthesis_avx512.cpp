// The sample loop with AVX-512: 8 samples an iteration, the same conversions
// and roundings in every lane as the reference loop.
//
// Built with AVX-512 enabled: keep this file to intrinsics and internal
// functions, so that no inline function compiled here can stand in for the
// plain one elsewhere.
#include <immintrin.h>
#include <sleef.h>

#include <cstdint>

#include "tone/sample_format.h"
#include "tone/synthesis.h"
#include "tone/synthesis_lanes.h"

namespace quillox {

void SynthesizeAvx512(const SampleRun &run) {
    const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
    const __m512d periodDouble = _mm512_set1_pd(static_cast<double>(period));
    const __m512d amplitude = _mm512_set1_pd(static_cast<double>(run.amplitude));
    const __m512d phaseFactor = _mm512_set1_pd(kPhaseFactor);
    // Sample indices as doubles: whole numbers below 2^53 add exactly.
    __m512d index = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(run.firstIndex)),
                                  _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0));
    const __m512d step = _mm512_set1_pd(8);

    std::uint32_t k = 0;
    for (; run.count - k >= 8; k += 8) {
        const __m512d a = _mm512_mul_pd(index, phaseFactor);
        const __m256 theta = _mm512_cvtpd_ps(_mm512_div_pd(a, periodDouble));
        const __m512d s = Sleef_sind8_u10avx512f(_mm512_cvtps_pd(theta));
        const __m256 x = _mm512_cvtpd_ps(_mm512_mul_pd(amplitude, s));
        // Low 16 bits of each lane, little-endian like the processor.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(run.out + 2 * std::size_t{k}),
                         _mm256_cvtepi32_epi16(SampleLanes(x)));
        index = _mm512_add_pd(index, step);
    }
    if (k < run.count) {
        SynthesizeScalar({run.frequencyHz, run.amplitude, run.firstIndex + k, run.count - k,
                          run.out + 2 * std::size_t{k}});
    }
}

}  // namespace quillox
