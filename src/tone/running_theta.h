// theta without a division: a running product, and the lanes where it may
// not round to the reference's theta.
//
// The reference's theta is float(Q) with Q = RN(RN(i K) / P), K = 6.28318 and
// P the float period as a double. The loop keeps instead
//   c = RN(K RN(1/P)),   q = RN(i c) at an anchor, then q = RN(q + B c)
// for each block of B samples (B c is exact: B is a power of two); an anchor
// is a block where q is computed afresh from i. Frequency 0 makes P infinite
// and c = 0: every q, and every theta, is 0, as in the reference.
#pragma once

#include <cstdint>

#include "tone/lanes.h"
#include "tone/rounding_certainty.h"
#include "tone/sample_format.h"

namespace quillox {
namespace {  // NOLINT: internal linkage, as everything the loops include

// How far q lies from Q, in ulps of Q.
// At an anchor: r = RN(1/P), c, the product RN(i c), and on the reference's
// side RN(i K) and the division each round once, with relative error at most
// u = 2^-53: q is within 5u |Q| (1 + 2^-50) of Q, and u |Q| is under an ulp
// of Q.
inline constexpr double kAnchoredThetaUlps = 5.01;
// Between anchors: each addition rounds once more, by at most half an ulp of
// its sum, and the sums only grow in magnitude. There are fewer than
// kAnchorBlocks of them.
inline constexpr std::uint32_t kAnchorBlocks = 64;
inline constexpr double kThetaDriftUlps = 37;
static_assert(kAnchoredThetaUlps + 0.5 * (kAnchorBlocks - 1) <= kThetaDriftUlps);
// Where q and Q lie on either side of a power of two, both are within 37
// ulps of it, a float, and far from any midpoint: both round to it.
// So where q lies farther than kThetaWindow ulps from a midpoint, Q lies on
// the same side of it: theta = float(q) = float(Q), whichever way float()
// breaks ties. Closer lanes go to the reference.
inline constexpr std::uint64_t kThetaWindow = 64;
static_assert(kThetaWindow > kThetaDriftUlps);

// c, the phase step of one sample.
inline double PhasePerSample(float period) {
    return kPhaseFactor * (1.0 / static_cast<double>(period));  // 1/infinity is 0
}

// q at an anchor, RN(i c), from each lane's sample index i (exact as a double).
template <Lanes L>
typename L::Doubles AnchoredProduct(typename L::Doubles index, typename L::Doubles perSample) {
    return L::Mul(index, perSample);
}

// q one block of B samples on, RN(q + B c): `step` is B c, exact.
template <Lanes L>
typename L::Doubles NextProduct(typename L::Doubles q, typename L::Doubles step) {
    return L::Add(q, step);
}

// theta = float(q) as a double, and in `unsure` the lanes where that may not
// be the reference's theta.
template <Lanes L>
typename L::Doubles ThetaFromProduct(typename L::Doubles q, typename L::Mask &unsure) {
    unsure = NearMidpoint<L, kThetaWindow>(q);
    return RoundToFloat<L, kThetaWindow>(q);
}

}  // namespace
}  // namespace quillox
