// The fast loop with AVX-512: 32 samples a block, as four vectors of 8
// doubles.
//
// Built with AVX-512 F, VL, BW and DQ enabled: keep this file to intrinsics and internal
// functions, so that no inline function compiled here can stand in for the
// plain one elsewhere.
#include <immintrin.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"

namespace quillox {
namespace {

struct Avx512Lanes {
    using Doubles = __m512d;
    using Mask = __mmask8;
    static constexpr unsigned kLanes = 8;
    static constexpr unsigned kVectors = 4;
    static constexpr bool kFusedMultiplyAdd = true;

    // packus below interleaves its two operands 128 bits (4 samples) at a
    // time: vectors 0 and 1 make its first operand, 2 and 3 its second, and
    // each vector's lanes hold samples 0-3 and 8-11 past its base.
    static constexpr unsigned SampleOffset(unsigned vector, unsigned lane) {
        constexpr unsigned kBase[kVectors] = {0, 16, 4, 20};
        return kBase[vector] + lane % 4 + 8 * (lane / 4);
    }
    static __m512d Splat(double value) { return _mm512_set1_pd(value); }
    static __m512d Load(const double *values) { return _mm512_loadu_pd(values); }
    static __m512d Add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
    static __m512d Sub(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
    static __m512d Mul(__m512d a, __m512d b) { return _mm512_mul_pd(a, b); }
    static __m512d MulAdd(__m512d a, __m512d b, __m512d c) { return _mm512_fmadd_pd(a, b, c); }
    static __m512d NegMulAdd(__m512d a, __m512d b, __m512d c) { return _mm512_fnmadd_pd(a, b, c); }
    static __m512d AddToBits(__m512d value, std::uint64_t addend) {
        return _mm512_castsi512_pd(_mm512_add_epi64(
            _mm512_castpd_si512(value), _mm512_set1_epi64(static_cast<long long>(addend))));
    }
    static __m512d KeepBits(__m512d value, std::uint64_t mask) {
        return _mm512_castsi512_pd(_mm512_and_si512(
            _mm512_castpd_si512(value), _mm512_set1_epi64(static_cast<long long>(mask))));
    }
    static __mmask8 WhereBitsZero(__m512d value, std::uint64_t mask) {
        return _mm512_testn_epi64_mask(_mm512_castpd_si512(value),
                                       _mm512_set1_epi64(static_cast<long long>(mask)));
    }
    static __m512d NegateWhereOdd(__m512d x, __m512d shifted) {
        const __m512i sign = _mm512_slli_epi64(_mm512_castpd_si512(shifted), 63);
        return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(x), sign));
    }
    static __m512d Select(__mmask8 set, __m512d ifSet, __m512d otherwise) {
        return _mm512_mask_mov_pd(otherwise, set, ifSet);
    }
    static bool AnySet(const __mmask8 (&set)[kVectors]) {
        // One test of two masks each, no mask moved to a general register.
        return !_kortestz_mask8_u8(set[0], set[1]) || !_kortestz_mask8_u8(set[2], set[3]);
    }
    static unsigned LaneBits(__mmask8 set) { return set; }

    // 16 samples' low 16 bits, one a 32-bit lane, from the floats x.
    template <bool kSaturate>
    static __m512i SampleBits(__m512 x, float scale) {
        const __m512 u = _mm512_fmadd_ps(x, _mm512_set1_ps(scale), _mm512_set1_ps(kMappingOffset));
        const __m512 y = _mm512_mul_ps(u, _mm512_set1_ps(kMappingNegatedScale));
        __m512i t = _mm512_cvttps_epi32(y);  // INT32_MIN out of range
        if constexpr (kSaturate) {
            t = _mm512_mask_mov_epi32(t,
                                      _mm512_cmp_ps_mask(y, _mm512_set1_ps(kInt32Low), _CMP_LE_OQ),
                                      _mm512_set1_epi32(-INT32_MAX));
        }
        // (t ^ 0x8000) & 0xFFFF in one instruction.
        return _mm512_ternarylogic_epi32(t, _mm512_set1_epi32(0x8000), _mm512_set1_epi32(0xFFFF),
                                         0x28);
    }
    static __m512 Floats(__m512d low, __m512d high) {
        return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(low)),
                                  _mm512_cvtpd_ps(high), 1);
    }
    template <bool kSaturate>
    static void StoreBlock(const __m512d (&w)[kVectors], float scale, std::uint8_t *out) {
        const __m512i first = SampleBits<kSaturate>(Floats(w[0], w[1]), scale);
        const __m512i second = SampleBits<kSaturate>(Floats(w[2], w[3]), scale);
        // Exact: every lane is 0..65535. Little-endian, like the processor.
        _mm512_storeu_si512(out, _mm512_packus_epi32(first, second));
    }
};

}  // namespace

void SynthesizeAvx512(const SampleRun &run) { SynthesizeFast<Avx512Lanes>(run); }

}  // namespace quillox
