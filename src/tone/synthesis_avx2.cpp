// The fast loop with AVX2 and FMA: 8 samples an iteration, as two vectors of
// 4 doubles.
//
// Built with AVX2 enabled: keep this file to intrinsics and internal
// functions, so that no inline function compiled here can stand in for the
// plain one elsewhere.
#include <immintrin.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"
#include "tone/synthesis_lanes.h"

namespace quillox {
namespace {

struct Avx2Lanes {
    struct Doubles {
        __m256d low;   // lanes 0..3
        __m256d high;  // lanes 4..7
    };
    static constexpr unsigned kLanes = 8;
    static constexpr bool kFusedMultiplyAdd = true;

    static Doubles Splat(double value) { return {_mm256_set1_pd(value), _mm256_set1_pd(value)}; }
    static Doubles LaneNumbers() { return {_mm256_set_pd(3, 2, 1, 0), _mm256_set_pd(7, 6, 5, 4)}; }
    static Doubles Add(Doubles a, Doubles b) {
        return {_mm256_add_pd(a.low, b.low), _mm256_add_pd(a.high, b.high)};
    }
    static Doubles Sub(Doubles a, Doubles b) {
        return {_mm256_sub_pd(a.low, b.low), _mm256_sub_pd(a.high, b.high)};
    }
    static Doubles Mul(Doubles a, Doubles b) {
        return {_mm256_mul_pd(a.low, b.low), _mm256_mul_pd(a.high, b.high)};
    }
    static Doubles Div(Doubles a, Doubles b) {
        return {_mm256_div_pd(a.low, b.low), _mm256_div_pd(a.high, b.high)};
    }
    static Doubles MulAdd(Doubles a, Doubles b, Doubles c) {
        return {_mm256_fmadd_pd(a.low, b.low, c.low), _mm256_fmadd_pd(a.high, b.high, c.high)};
    }
    static Doubles NegMulAdd(Doubles a, Doubles b, Doubles c) {
        return {_mm256_fnmadd_pd(a.low, b.low, c.low), _mm256_fnmadd_pd(a.high, b.high, c.high)};
    }
    static Doubles RoundToFloat(Doubles value) {
        return {_mm256_cvtps_pd(_mm256_cvtpd_ps(value.low)),
                _mm256_cvtps_pd(_mm256_cvtpd_ps(value.high))};
    }
    static __m256d NegateWhereOdd(__m256d x, __m256d shifted) {
        const __m256i sign = _mm256_slli_epi64(_mm256_castpd_si256(shifted), 63);
        return _mm256_castsi256_pd(_mm256_xor_si256(_mm256_castpd_si256(x), sign));
    }
    static Doubles NegateWhereOdd(Doubles x, Doubles shifted) {
        return {NegateWhereOdd(x.low, shifted.low), NegateWhereOdd(x.high, shifted.high)};
    }
    static unsigned UncertainLanes(__m256d w) {
        const __m256i moved = _mm256_add_epi64(
            _mm256_castpd_si256(w), _mm256_set1_epi64x(static_cast<long long>(kWindowAdd)));
        const __m256i masked =
            _mm256_and_si256(moved, _mm256_set1_epi64x(static_cast<long long>(kWindowMask)));
        const __m256i zero = _mm256_cmpeq_epi64(masked, _mm256_setzero_si256());
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(zero)));
    }
    static unsigned UncertainLanes(Doubles w) {
        return UncertainLanes(w.low) | UncertainLanes(w.high) << 4;
    }
    static void StoreSamples(Doubles w, std::uint8_t *out) {
        const __m256 x = _mm256_set_m128(_mm256_cvtpd_ps(w.high), _mm256_cvtpd_ps(w.low));
        const __m256i v = _mm256_and_si256(SampleLanes(x), _mm256_set1_epi32(0xFFFF));
        // Pack the low 16 bits of the 8 lanes (exact: each is 0..65535) and
        // gather the two 128-bit halves' results into the low half.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(packed));
    }
};

}  // namespace

void SynthesizeAvx2(const SampleRun &run) { SynthesizeFast<Avx2Lanes>(run); }

}  // namespace quillox
