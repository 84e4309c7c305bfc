// ScalarLanes with fused multiply-adds through std::fma, each rounded once as
// the hardware's: the tests measure the fused sines with it on any machine.
#pragma once

#include <cmath>

#include "tone/scalar_lanes.h"

namespace quillox::test {
namespace {  // NOLINT: internal linkage, like the ScalarLanes it extends

struct ScalarFusedLanes : ScalarLanes {
    static constexpr bool kFusedMultiplyAdd = true;
    static double MulAdd(double a, double b, double c) { return std::fma(a, b, c); }
    static double NegMulAdd(double a, double b, double c) { return std::fma(-a, b, c); }
};

}  // namespace
}  // namespace quillox::test
