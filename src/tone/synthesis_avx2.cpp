// The fast loop with AVX2 and FMA: 16 samples a block, as four vectors of 4
// doubles.
//
// Built with AVX2 enabled: keep this file to intrinsics and internal
// functions, so that no inline function compiled here can stand in for the
// plain one elsewhere.
#include <immintrin.h>

#include <cstdint>

#include "tone/fast_loop.h"
#include "tone/synthesis.h"

namespace quillox {
namespace {

__m256i Splat64(std::uint64_t value) { return _mm256_set1_epi64x(static_cast<long long>(value)); }

struct Avx2Lanes {
    using Doubles = __m256d;
    using Mask = __m256i;  // all ones in a lane that is set
    static constexpr unsigned kLanes = 4;
    static constexpr unsigned kVectors = 4;
    static constexpr bool kFusedMultiplyAdd = true;

    // packus below interleaves its two operands 128 bits (4 samples) at a
    // time: vectors 0 and 1 make its first operand, 2 and 3 its second.
    static constexpr unsigned SampleOffset(unsigned vector, unsigned lane) {
        constexpr unsigned kBase[kVectors] = {0, 8, 4, 12};
        return kBase[vector] + lane;
    }
    static __m256d Splat(double value) { return _mm256_set1_pd(value); }
    static __m256d Load(const double *values) { return _mm256_loadu_pd(values); }
    static __m256d Add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
    static __m256d Sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
    static __m256d Mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
    static __m256d MulAdd(__m256d a, __m256d b, __m256d c) { return _mm256_fmadd_pd(a, b, c); }
    static __m256d NegMulAdd(__m256d a, __m256d b, __m256d c) { return _mm256_fnmadd_pd(a, b, c); }
    static __m256d AddToBits(__m256d value, std::uint64_t addend) {
        return _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(value), Splat64(addend)));
    }
    static __m256d KeepBits(__m256d value, std::uint64_t mask) {
        return _mm256_castsi256_pd(_mm256_and_si256(_mm256_castpd_si256(value), Splat64(mask)));
    }
    static __m256i WhereBitsZero(__m256d value, std::uint64_t mask) {
        return _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(value), Splat64(mask)),
                                  _mm256_setzero_si256());
    }
    static __m256d NegateWhereOdd(__m256d x, __m256d shifted) {
        const __m256i sign = _mm256_slli_epi64(_mm256_castpd_si256(shifted), 63);
        return _mm256_castsi256_pd(_mm256_xor_si256(_mm256_castpd_si256(x), sign));
    }
    static __m256d Select(__m256i set, __m256d ifSet, __m256d otherwise) {
        return _mm256_blendv_pd(otherwise, ifSet, _mm256_castsi256_pd(set));
    }
    static bool AnySet(const __m256i (&set)[kVectors]) {
        const __m256i any =
            _mm256_or_si256(_mm256_or_si256(set[0], set[1]), _mm256_or_si256(set[2], set[3]));
        return !_mm256_testz_si256(any, any);
    }
    static unsigned LaneBits(__m256i set) {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(set)));
    }

    // 8 samples' low 16 bits, one a 32-bit lane, from the floats x.
    template <bool kSaturate>
    static __m256i SampleBits(__m256 x, float scale) {
        const __m256 u = _mm256_fmadd_ps(x, _mm256_set1_ps(scale), _mm256_set1_ps(kMappingOffset));
        const __m256 y = _mm256_mul_ps(u, _mm256_set1_ps(kMappingNegatedScale));
        __m256i t = _mm256_cvttps_epi32(y);  // INT32_MIN out of range
        if constexpr (kSaturate) {
            const __m256 low = _mm256_cmp_ps(y, _mm256_set1_ps(kInt32Low), _CMP_LE_OQ);
            t = _mm256_blendv_epi8(t, _mm256_set1_epi32(-INT32_MAX), _mm256_castps_si256(low));
        }
        return _mm256_and_si256(_mm256_xor_si256(t, _mm256_set1_epi32(0x8000)),
                                _mm256_set1_epi32(0xFFFF));
    }
    template <bool kSaturate>
    static void StoreBlock(const __m256d (&w)[kVectors], float scale, std::uint8_t *out) {
        const __m256i first = SampleBits<kSaturate>(
            _mm256_set_m128(_mm256_cvtpd_ps(w[1]), _mm256_cvtpd_ps(w[0])), scale);
        const __m256i second = SampleBits<kSaturate>(
            _mm256_set_m128(_mm256_cvtpd_ps(w[3]), _mm256_cvtpd_ps(w[2])), scale);
        // Exact: every lane is 0..65535. Little-endian, like the processor.
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_packus_epi32(first, second));
    }
};

}  // namespace

void SynthesizeAvx2(const SampleRun &run) { SynthesizeFast<Avx2Lanes>(run); }

}  // namespace quillox
