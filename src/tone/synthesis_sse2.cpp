// The fast loop with SSE2, which every x86-64 processor and every 32-bit x86
// build of this library has: 8 samples a block, as four vectors of 2
// doubles, without fused multiply-adds.
#include <emmintrin.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"

namespace quillox {
namespace {

__m128i Splat64(std::uint64_t value) {
    return _mm_set_epi32(static_cast<int>(value >> 32), static_cast<int>(value),
                         static_cast<int>(value >> 32), static_cast<int>(value));
}

struct Sse2Lanes {
    using Doubles = __m128d;
    using Mask = __m128i;  // all ones in a lane that is set
    static constexpr unsigned kLanes = 2;
    static constexpr unsigned kVectors = 4;
    static constexpr bool kFusedMultiplyAdd = false;

    // The pack below takes vectors 0 and 1 into its first operand, 2 and 3
    // into its second: lanes in sample order.
    static constexpr unsigned SampleOffset(unsigned vector, unsigned lane) {
        return kLanes * vector + lane;
    }
    static __m128d Splat(double value) { return _mm_set1_pd(value); }
    static __m128d Load(const double *values) { return _mm_loadu_pd(values); }
    static __m128d Add(__m128d a, __m128d b) { return _mm_add_pd(a, b); }
    static __m128d Sub(__m128d a, __m128d b) { return _mm_sub_pd(a, b); }
    static __m128d Mul(__m128d a, __m128d b) { return _mm_mul_pd(a, b); }
    static __m128d AddToBits(__m128d value, std::uint64_t addend) {
        return _mm_castsi128_pd(_mm_add_epi64(_mm_castpd_si128(value), Splat64(addend)));
    }
    static __m128d KeepBits(__m128d value, std::uint64_t mask) {
        return _mm_castsi128_pd(_mm_and_si128(_mm_castpd_si128(value), Splat64(mask)));
    }
    // SSE2 compares 32 bits at a time: a lane is zero where both halves are.
    static __m128i WhereBitsZero(__m128d value, std::uint64_t mask) {
        const __m128i zero = _mm_cmpeq_epi32(_mm_and_si128(_mm_castpd_si128(value), Splat64(mask)),
                                             _mm_setzero_si128());
        return _mm_and_si128(zero, _mm_shuffle_epi32(zero, _MM_SHUFFLE(2, 3, 0, 1)));
    }
    static __m128d NegateWhereOdd(__m128d x, __m128d shifted) {
        const __m128i sign = _mm_slli_epi64(_mm_castpd_si128(shifted), 63);
        return _mm_castsi128_pd(_mm_xor_si128(_mm_castpd_si128(x), sign));
    }
    static __m128d Select(__m128i set, __m128d ifSet, __m128d otherwise) {
        const __m128d chosen = _mm_castsi128_pd(set);
        return _mm_or_pd(_mm_and_pd(chosen, ifSet), _mm_andnot_pd(chosen, otherwise));
    }
    static bool AnySet(const __m128i (&set)[kVectors]) {
        const __m128i any =
            _mm_or_si128(_mm_or_si128(set[0], set[1]), _mm_or_si128(set[2], set[3]));
        return _mm_movemask_epi8(any) != 0;
    }
    static unsigned LaneBits(__m128i set) {
        return static_cast<unsigned>(_mm_movemask_pd(_mm_castsi128_pd(set)));
    }

    // 4 samples' low 16 bits, sign-extended in 32-bit lanes (so that a signed
    // pack keeps them exactly), from the floats x.
    template <bool kSaturate>
    static __m128i SampleBits(__m128 x, float scale) {
        const __m128 u = _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(scale)), _mm_set1_ps(kMappingOffset));
        const __m128 y = _mm_mul_ps(u, _mm_set1_ps(kMappingNegatedScale));
        __m128i t = _mm_cvttps_epi32(y);  // INT32_MIN out of range
        if constexpr (kSaturate) {
            const __m128i low = _mm_castps_si128(_mm_cmple_ps(y, _mm_set1_ps(kInt32Low)));
            t = _mm_or_si128(_mm_andnot_si128(low, t),
                             _mm_and_si128(low, _mm_set1_epi32(-INT32_MAX)));
        }
        const __m128i v = _mm_xor_si128(t, _mm_set1_epi32(0x8000));
        return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
    }
    static __m128 Floats(__m128d low, __m128d high) {
        return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
    }
    template <bool kSaturate>
    static void StoreBlock(const __m128d (&w)[kVectors], float scale, std::uint8_t *out) {
        const __m128i first = SampleBits<kSaturate>(Floats(w[0], w[1]), scale);
        const __m128i second = SampleBits<kSaturate>(Floats(w[2], w[3]), scale);
        // Little-endian, like the processor.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packs_epi32(first, second));
    }
};

}  // namespace

void SynthesizeSse2(const SampleRun &run) { SynthesizeFast<Sse2Lanes>(run); }

}  // namespace quillox
