// One-lane forms of the operations the fast loop asks of an instruction set
// (tone/lanes.h), in plain C++: the fast scalar loop.
#pragma once

#include <bit>
#include <cstdint>

#include "tone/byte_order.h"
#include "tone/fast_loop.h"
#include "tone/sample_mapping.h"

namespace quillox {
namespace {  // NOLINT: internal linkage, as in fast_loop.h

// One double a vector, eight vectors a block (eight independent chains for
// the processor to overlap: fewer leave it waiting on latencies, more spill
// to memory), no fused multiply-add.
struct ScalarLanes {
    using Doubles = double;
    using Mask = bool;
    static constexpr unsigned kLanes = 1;
    static constexpr unsigned kVectors = 8;
    static constexpr bool kFusedMultiplyAdd = false;

    static constexpr unsigned SampleOffset(unsigned vector, unsigned /*lane*/) { return vector; }
    static double Splat(double value) { return value; }
    static double Load(const double *values) { return *values; }
    static double Add(double a, double b) { return a + b; }
    static double Sub(double a, double b) { return a - b; }
    static double Mul(double a, double b) { return a * b; }
    static double AddToBits(double value, std::uint64_t addend) {
        return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) + addend);
    }
    static double KeepBits(double value, std::uint64_t mask) {
        return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) & mask);
    }
    static bool WhereBitsZero(double value, std::uint64_t mask) {
        return (std::bit_cast<std::uint64_t>(value) & mask) == 0;
    }
    // A multiplication by -1 or 1 (exact), picked by k's parity: flipping
    // the sign bit instead moves x to the integer registers and back.
    static double NegateWhereOdd(double x, double shifted) {
        static constexpr double kSigns[2] = {1.0, -1.0};
        return x * kSigns[std::bit_cast<std::uint64_t>(shifted) & 1];
    }
    static double Select(bool set, double ifSet, double otherwise) {
        return set ? ifSet : otherwise;
    }
    static bool AnySet(const bool (&set)[kVectors]) {
        bool any = false;
        for (const bool one : set) any |= one;
        return any;
    }
    static unsigned LaneBits(bool set) { return set ? 1 : 0; }
    // x * scale is exact: scale is 1 or the amplitude, a power of two.
    template <bool kSaturate>
    static void StoreBlock(const double (&w)[kVectors], float scale, std::uint8_t *out) {
        for (unsigned j = 0; j < kVectors; ++j) {
            const float x = static_cast<float>(w[j]) * scale;
            std::uint16_t v;
            if constexpr (kSaturate) {
                v = SampleFromScaledSine(x);
            } else {
                // y = RN((x + 1) * -32767.5), the reference's y (fast_loop.h),
                // within the int32 range.
                const float y = (x + kMappingOffset) * -kMappingNegatedScale;
                v = static_cast<std::uint16_t>(
                    static_cast<std::uint32_t>(kMappingBias) -
                    static_cast<std::uint32_t>(static_cast<std::int32_t>(y)));
            }
            WriteLE16(out + kBytesPerSample * j, v);
        }
    }
};

}  // namespace
}  // namespace quillox
