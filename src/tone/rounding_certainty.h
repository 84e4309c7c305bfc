// Rounding a double to float precision in the double's own bits, and
// knowing when a double with a bounded error might round the other way.
//
// The 29 low mantissa bits of a double are those below float precision: the
// float a double rounds to changes only where they read 2^28, a midpoint.
// Adding 2^28 + W to the bits and clearing the low 29 rounds to the nearest
// float (carries run into the exponent as they should). A double lies within
// W ulps of a midpoint exactly when the low 29 bits of that sum read below
// 2W. So if a computed value is within W ulps of the true one and the test
// says it is farther than W from every midpoint, both round to the same
// float.
#pragma once

#include <bit>
#include <cstdint>

#include "tone/lanes.h"

namespace quillox {
namespace {  // NOLINT: internal linkage, as everything the loops include

inline constexpr std::uint64_t kBelowFloatBits = (std::uint64_t{1} << 29) - 1;
inline constexpr std::uint64_t kMidpointBits = std::uint64_t{1} << 28;

// W is a power of two below 2^28, so that 2W - 1 is a mask of low bits.
template <std::uint64_t kWindow>
concept RoundingWindow = std::has_single_bit(kWindow) && kWindow < kMidpointBits;

// Lanes within kWindow ulps of a float rounding midpoint.
template <Lanes L, std::uint64_t kWindow>
requires RoundingWindow<kWindow>
typename L::Mask NearMidpoint(typename L::Doubles value) {
    constexpr std::uint64_t kNearMask = kBelowFloatBits & ~(2 * kWindow - 1);
    return L::WhereBitsZero(L::AddToBits(value, kMidpointBits + kWindow), kNearMask);
}

// float(value) as a double, for the lanes NearMidpoint<L, kWindow> passes
// (rounding from above or below the midpoint may differ only in the others).
template <Lanes L, std::uint64_t kWindow>
requires RoundingWindow<kWindow>
typename L::Doubles RoundToFloat(typename L::Doubles value) {
    return L::KeepBits(L::AddToBits(value, kMidpointBits + kWindow), ~kBelowFloatBits);
}

// A value that lies on a midpoint: whatever stands in for it is sent to the
// reference by every window.
inline constexpr double kOnMidpoint = std::bit_cast<double>(0x3FF0000000000000 | kMidpointBits);

}  // namespace
}  // namespace quillox
