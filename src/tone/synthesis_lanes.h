// The steps the vector loops share, from x to v, on 8 lanes at once.
//
// Included only by files built with AVX2 or more. Everything here is static:
// each such file keeps its own copy, compiled for its own instruction set, so
// that one built for AVX-512 can never stand in for one built for AVX2.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "tone/sample_format.h"

namespace quillox {

// v = -32768 - int32(((x + 1) * 0.5) * -65535), the float steps rounded one by
// one, the conversion truncating and saturating like the reference loop's.
static inline __m256i SampleLanes(__m256 x) {
    const __m256 y = _mm256_mul_ps(_mm256_mul_ps(_mm256_add_ps(x, _mm256_set1_ps(kMappingOffset)),
                                                 _mm256_set1_ps(kMappingHalf)),
                                   _mm256_set1_ps(kMappingScale));
    // The conversion gives INT32_MIN for anything out of range; the reference
    // saturates high values to INT32_MAX.
    const __m256i high =
        _mm256_castps_si256(_mm256_cmp_ps(y, _mm256_set1_ps(2147483648.0f), _CMP_GE_OQ));
    const __m256i t =
        _mm256_blendv_epi8(_mm256_cvttps_epi32(y), _mm256_set1_epi32(INT32_MAX), high);
    return _mm256_sub_epi32(_mm256_set1_epi32(kMappingBias), t);
}

}  // namespace quillox
