// The last steps of a sample, shared by the loops that take them one sample
// at a time: x (the amplitude times the sine, rounded to float) to the 16
// bits stored.
//
// Internal linkage: a file built for another instruction set that included
// this could otherwise provide the copy every other file links to.
#pragma once

#include <cstdint>

#include "tone/sample_format.h"

namespace quillox {
namespace {  // NOLINT: internal linkage on purpose, see above

// y converted to a 32-bit integer by truncation toward zero. Amplitudes above
// 65536 in magnitude drive y past the 32-bit range, where a plain cast has no
// defined result: there it saturates. y is never NaN (amplitude and sine are
// finite).
inline std::int32_t TruncateSaturating(float y) {
    if (y >= -kInt32Low) return INT32_MAX;
    if (y <= kInt32Low) return INT32_MIN;
    return static_cast<std::int32_t>(y);
}

// v = -32768 - int32(((x + 1) * 0.5) * -65535), the float steps rounded one by
// one; its low 16 bits. Silence (x = 0) maps to y = -32767.5 and v = -1, not
// 0: the midline of the mapping. Modulo 2^32, so that saturated values cannot
// overflow.
inline std::uint16_t SampleFromScaledSine(float x) {
    const float y = ((x + kMappingOffset) * kMappingHalf) * kMappingScale;
    const std::uint32_t v = static_cast<std::uint32_t>(kMappingBias) -
                            static_cast<std::uint32_t>(TruncateSaturating(y));
    return static_cast<std::uint16_t>(v);
}

}  // namespace
}  // namespace quillox
