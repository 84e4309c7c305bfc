// The fast loop with AVX-512: 8 samples an iteration.
//
// Built with AVX-512 enabled: keep this file to intrinsics and internal
// functions, so that no inline function compiled here can stand in for the
// plain one elsewhere.
#include <immintrin.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"
#include "tone/synthesis_lanes.h"

namespace quillox {
namespace {

struct Avx512Lanes {
    using Doubles = __m512d;
    static constexpr unsigned kLanes = 8;
    static constexpr bool kFusedMultiplyAdd = true;

    static __m512d Splat(double value) { return _mm512_set1_pd(value); }
    static __m512d LaneNumbers() { return _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0); }
    static __m512d Add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
    static __m512d Sub(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
    static __m512d Mul(__m512d a, __m512d b) { return _mm512_mul_pd(a, b); }
    static __m512d Div(__m512d a, __m512d b) { return _mm512_div_pd(a, b); }
    static __m512d MulAdd(__m512d a, __m512d b, __m512d c) { return _mm512_fmadd_pd(a, b, c); }
    static __m512d NegMulAdd(__m512d a, __m512d b, __m512d c) { return _mm512_fnmadd_pd(a, b, c); }
    static __m512d RoundToFloat(__m512d value) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(value)); }
    static __m512d NegateWhereOdd(__m512d x, __m512d shifted) {
        const __m512i sign = _mm512_slli_epi64(_mm512_castpd_si512(shifted), 63);
        return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(x), sign));
    }
    static unsigned UncertainLanes(__m512d w) {
        const __m512i moved = _mm512_add_epi64(
            _mm512_castpd_si512(w), _mm512_set1_epi64(static_cast<long long>(kWindowAdd)));
        return _mm512_testn_epi64_mask(moved,
                                       _mm512_set1_epi64(static_cast<long long>(kWindowMask)));
    }
    static void StoreSamples(__m512d w, std::uint8_t *out) {
        // Low 16 bits of each lane, little-endian like the processor.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                         _mm256_cvtepi32_epi16(SampleLanes(_mm512_cvtpd_ps(w))));
    }
};

}  // namespace

void SynthesizeAvx512(const SampleRun &run) { SynthesizeFast<Avx512Lanes>(run); }

}  // namespace quillox
