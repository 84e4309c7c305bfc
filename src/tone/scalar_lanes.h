// One-lane forms of the operations fast_loop.h asks of an instruction set:
// plain C++ (the fast scalar loop), and the same with fused multiply-adds
// through std::fma (the tests measure the fused kernel's error with it).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "tone/fast_loop.h"
#include "tone/sample_mapping.h"

namespace quillox {
namespace {  // NOLINT: internal linkage, as in fast_loop.h

// One lane: a double, and no fused multiply-add.
struct ScalarLanes {
    using Doubles = double;
    static constexpr unsigned kLanes = 1;
    static constexpr bool kFusedMultiplyAdd = false;

    static double Splat(double value) { return value; }
    static double LaneNumbers() { return 0; }
    static double Add(double a, double b) { return a + b; }
    static double Sub(double a, double b) { return a - b; }
    static double Mul(double a, double b) { return a * b; }
    static double Div(double a, double b) { return a / b; }
    static double RoundToFloat(double value) { return static_cast<float>(value); }
    static double NegateWhereOdd(double x, double shifted) {
        std::uint64_t bits, shiftedBits;
        std::memcpy(&bits, &x, sizeof bits);
        std::memcpy(&shiftedBits, &shifted, sizeof shiftedBits);
        bits ^= shiftedBits << 63;
        std::memcpy(&x, &bits, sizeof x);
        return x;
    }
    static unsigned UncertainLanes(double w) { return IsUncertain(w) ? 1 : 0; }
    static void StoreSamples(double w, std::uint8_t *out) {
        const std::uint16_t v = SampleFromScaledSine(static_cast<float>(w));
        out[0] = static_cast<std::uint8_t>(v);
        out[1] = static_cast<std::uint8_t>(v >> 8);
    }
};

// One lane with fused multiply-adds, each rounded once as the hardware's.
struct ScalarFusedLanes : ScalarLanes {
    static constexpr bool kFusedMultiplyAdd = true;
    static double MulAdd(double a, double b, double c) { return std::fma(a, b, c); }
    static double NegMulAdd(double a, double b, double c) { return std::fma(-a, b, c); }
};

}  // namespace
}  // namespace quillox
