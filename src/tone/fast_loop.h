// The fast sample loop: the reference loop's samples, several at a time,
// with a cheap sine whose error is bounded, and the reference itself for the
// few samples the bound cannot decide.
//
// Why a cheap sine gives exact samples. Everything after
//   w = amplitude * sin(theta)          (double)
// is a function of float(w) alone: x = float(w), then exact float steps. So a
// sine need not be accurate to the last bit; it needs an error bound. If the
// computed w lies farther from every float rounding midpoint than w can be
// from the reference loop's w, both round to the same float, and the sample
// is the reference sample. Lanes that lie closer (about 1 in 4 million) are
// recomputed with the reference loop.
//
// Included by one file per instruction set, each built with its own flags:
// everything here has internal linkage, so that no copy compiled for one
// instruction set can stand in for another's. Each file supplies a `Lanes`
// type (see ScalarLanes in synthesis_fast_scalar.cpp for the plainest) and
// instantiates SynthesizeFast<Lanes>.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "tone/sample_format.h"
#include "tone/synthesis.h"

namespace quillox {
namespace {  // NOLINT: internal linkage on purpose, see above

// --- Theta ---
// theta = float(RN(a / p)) with a = RN(i * 6.28318) and p the period,
// exactly as the reference computes it: the lanes hold whole indices below
// 2^33 (exact in a double), then the same product and rounding to float.
// The quotient, where fused multiply-adds exist, without a division:
//   r = RN(1/p), q = RN(a r), e = a - q p (exact in one fused operation),
//   q' = RN(q + e r).
// r is within half an ulp of 1/p and q within one ulp of a/p (a r is within
// 2^-53 of it, then one rounding), so by Markstein's theorem q' = RN(a / p)
// (IEEE 754 binary64, round to nearest; a/p is far from overflow and
// underflow here). The tests compare it with a true division over long
// index ranges. Frequency 0 makes p infinite: then r = 0, q = 0 and the
// correction is skipped (0 * infinity would be NaN), so theta = 0 as in the
// reference.
template <typename Lanes>
typename Lanes::Doubles Quotient(typename Lanes::Doubles a, typename Lanes::Doubles period,
                                 typename Lanes::Doubles reciprocal,
                                 typename Lanes::Doubles correctionPeriod) {
    using L = Lanes;
    if constexpr (L::kFusedMultiplyAdd) {
        const typename L::Doubles q = L::Mul(a, reciprocal);
        const typename L::Doubles e = L::NegMulAdd(q, correctionPeriod, a);
        return L::MulAdd(e, reciprocal, q);
    } else {
        static_cast<void>(reciprocal);
        static_cast<void>(correctionPeriod);
        return L::Div(a, period);
    }
}

// --- Reduction by pi ---
// k = RN(theta / pi), x = theta - k pi, sin(theta) = (-1)^k sin(x).
// theta is a float below 2^50 in magnitude (index < 2^32 times 6.28318 over
// a period of at least 44100 / 2^31), and the smallest |theta - k pi| over
// such floats is 4.0e-9 (2^-27.9): the relative error of x below counts
// against that.
inline constexpr double kInversePi = 0x1.45f306dc9c883p-2;  // RN(1/pi)
inline constexpr double kRoundingShift = 0x1.8p52;          // 1.5 * 2^52
// With a fused multiply-add: pi as three doubles.
//   x1 = theta - k pi1 is exact: k pi1 is a multiple of 2^-51 (pi1 has
//   53 bits, the last at 2^-51), theta of its own ulp (at least 2^-51 once
//   k is not 0), and |x1| <= |x| + |k| |pi - pi1| < 1.7 + 2^49 * 2^-52.9 < 2:
//   52 bits.
//   x2 and x3 each round once: |x3 - x| <= 2.001 * 2^-53 |x|.
// k comes from one rounding of theta * RN(1/pi) (fused: exact product), off
// by at most theta * |RN(1/pi) - 1/pi| <= 2^50 * 2^-55.5 < 0.023 from
// theta / pi, so |x| <= (0.5 + 0.023) pi < 1.66.
inline constexpr double kPi1 = 0x1.921fb54442d18p+1;
inline constexpr double kPi2 = 0x1.1a62633145c07p-53;
inline constexpr double kPi3 = -0x1.f1976b7ed8fbcp-109;
// Without one: pi as four doubles, the first three of 25 bits, so that k
// times each is exact while |k| < 2^27, that is |theta| < kCodyWaiteLimit.
//   x1 = theta - k piA is exact: multiples of 2^-23, |x1| < 1.6 + 2^27 *
//   3.2e-8 < 8: 26 bits.
//   x2 = x1 - k piB is exact: multiples of 2^-49, |x2| < 2: 50 bits.
//   x3 = x2 - k piC and x4 = x3 - RN(k piD) round once each; RN(k piD) is
//   off by at most 2^-106, 2^-78 of |x|: |x4 - x| <= 2.001 * 2^-53 |x|.
// Larger theta go to the reference loop.
inline constexpr double kPiA = 0x1.921fb5p+1;
inline constexpr double kPiB = 0x1.110b46p-25;
inline constexpr double kPiC = 0x1.1a6263p-53;
inline constexpr double kPiD = 0x1.8a2e03707344ap-80;
inline constexpr double kCodyWaiteLimit = 4.0e8;  // < 2^27 pi, with k's rounding to spare

// --- Sine of the reduced argument ---
// sin(x) ~ x + x^3 P(x^2), P of degree 6, minimax for the relative error on
// |x| <= 1.66. Measured against MPFR with the evaluation below, fused or
// not, and the reduction above (tests/fast_sine_test.cpp): below 6 * 2^-53
// |sin(theta)| with fused multiply-adds, below 7 * 2^-53 without.
inline constexpr double kSineCoefficients[7] = {
    -0.16666666666665608,    0.008333333333239414, -0.00019841269812850943, 2.755731511960952e-06,
    -2.5051789648543224e-08, 1.60453734154004e-10, -7.341440482110426e-13};

// --- The certainty window ---
// The computed w and the reference's differ by at most
//   fast sine 7 + reference sine 2 (1 ulp) + the two roundings of w 1 + 1
// units of 2^-53 |w|, that is at most 11 ulps of w. The float that a double
// rounds to changes only at a midpoint: where the 29 mantissa bits below
// float precision read 2^28. A lane whose bits lie within kWindow ulps of
// that is recomputed; every other lane's float is certain. kWindow leaves a
// margin of more than 5 over the bound, and about 1 lane in 4 million falls
// inside it.
inline constexpr std::uint64_t kWindow = 64;  // a power of two below 2^28
// Uncertain when ((bits(w) + kWindowAdd) & kWindowMask) == 0: adding
// kWindow - 2^28 maps [2^28 - kWindow, 2^28 + kWindow) onto [0, 2 kWindow);
// lower values borrow from bit 29 and land at 2^28 + kWindow or more.
inline constexpr std::uint64_t kWindowAdd = kWindow - (std::uint64_t{1} << 28);
inline constexpr std::uint64_t kWindowMask = ((std::uint64_t{1} << 29) - 1) & ~(2 * kWindow - 1);

inline bool IsUncertain(double w) {
    std::uint64_t bits;
    std::memcpy(&bits, &w, sizeof bits);
    return ((bits + kWindowAdd) & kWindowMask) == 0;
}

// sin(theta) within the bounds above, lane by lane.
template <typename Lanes>
typename Lanes::Doubles FastSine(typename Lanes::Doubles theta) {
    using L = Lanes;
    typename L::Doubles k, shifted, x;
    if constexpr (L::kFusedMultiplyAdd) {
        shifted = L::MulAdd(theta, L::Splat(kInversePi), L::Splat(kRoundingShift));
        k = L::Sub(shifted, L::Splat(kRoundingShift));
        x = L::NegMulAdd(k, L::Splat(kPi1), theta);
        x = L::NegMulAdd(k, L::Splat(kPi2), x);
        x = L::NegMulAdd(k, L::Splat(kPi3), x);
    } else {
        shifted = L::Add(L::Mul(theta, L::Splat(kInversePi)), L::Splat(kRoundingShift));
        k = L::Sub(shifted, L::Splat(kRoundingShift));
        x = L::Sub(theta, L::Mul(k, L::Splat(kPiA)));
        x = L::Sub(x, L::Mul(k, L::Splat(kPiB)));
        x = L::Sub(x, L::Mul(k, L::Splat(kPiC)));
        x = L::Sub(x, L::Mul(k, L::Splat(kPiD)));
    }
    // shifted = 1.5 * 2^52 + k: its lowest mantissa bit is k's parity.
    x = L::NegateWhereOdd(x, shifted);
    // P by Estrin's scheme: pairs, then pairs of pairs, so that the chain of
    // dependent operations is 4 deep instead of 6.
    const auto c = [](int j) { return L::Splat(kSineCoefficients[j]); };
    const auto multiplyAdd = [](typename L::Doubles a, typename L::Doubles b,
                                typename L::Doubles addend) {
        if constexpr (L::kFusedMultiplyAdd) {
            return L::MulAdd(a, b, addend);
        } else {
            return L::Add(L::Mul(a, b), addend);
        }
    };
    const typename L::Doubles z = L::Mul(x, x);
    const typename L::Doubles z2 = L::Mul(z, z);
    const typename L::Doubles z4 = L::Mul(z2, z2);
    const typename L::Doubles p01 = multiplyAdd(c(1), z, c(0));
    const typename L::Doubles p23 = multiplyAdd(c(3), z, c(2));
    const typename L::Doubles p45 = multiplyAdd(c(5), z, c(4));
    const typename L::Doubles p03 = multiplyAdd(p23, z2, p01);
    const typename L::Doubles p46 = multiplyAdd(c(6), z2, p45);
    const typename L::Doubles p = multiplyAdd(p46, z4, p03);
    return multiplyAdd(L::Mul(x, z), p, x);
}

// Recomputes with the reference the samples of the lanes set in `lanes`.
[[gnu::cold, gnu::noinline]] void RedoLanes(unsigned lanes, float period, double amplitude,
                                            std::uint32_t firstIndex, std::uint8_t *out) {
    for (unsigned lane = 0; lanes != 0; ++lane, lanes >>= 1) {
        if ((lanes & 1) == 0) continue;
        const std::uint16_t v = ReferenceSample(period, amplitude, firstIndex + lane);
        out[2 * lane] = static_cast<std::uint8_t>(v);
        out[2 * lane + 1] = static_cast<std::uint8_t>(v >> 8);
    }
}

// The samples of `run`, Lanes::kLanes at a time; the tail and every uncertain
// lane by the reference. Needs run.firstIndex + run.count <= 2^32, as every
// tone has (the reference's index would wrap past it).
template <typename Lanes>
void SynthesizeFast(const SampleRun &run) {
    using L = Lanes;
    using Doubles = typename L::Doubles;
    constexpr unsigned kLanes = L::kLanes;
    constexpr unsigned kAllLanes = (1u << kLanes) - 1;
    const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
    const Doubles periodLanes = L::Splat(static_cast<double>(period));
    const bool infinite = std::isinf(period);
    const Doubles reciprocal = L::Splat(infinite ? 0.0 : 1.0 / static_cast<double>(period));
    const Doubles correctionPeriod = L::Splat(infinite ? 0.0 : static_cast<double>(period));
    const Doubles phaseFactor = L::Splat(kPhaseFactor);
    const Doubles amplitude = L::Splat(static_cast<double>(run.amplitude));
    const Doubles step = L::Splat(kLanes);
    const bool redoAll = FallbackForced();
    Doubles index = L::Add(L::Splat(static_cast<double>(run.firstIndex)), L::LaneNumbers());

    std::uint32_t k = 0;
    for (; run.count - k >= kLanes; k += kLanes) {
        const Doubles a = L::Mul(index, phaseFactor);
        const Doubles theta =
            L::RoundToFloat(Quotient<L>(a, periodLanes, reciprocal, correctionPeriod));
        const Doubles w = L::Mul(amplitude, FastSine<L>(theta));
        std::uint8_t *const out = run.out + 2 * std::size_t{k};
        L::StoreSamples(w, out);
        unsigned uncertain = L::UncertainLanes(w);
        if constexpr (!L::kFusedMultiplyAdd) {
            static_assert(kLanes == 1, "the reduction without a fused multiply-add is scalar");
            if (!(std::fabs(theta) < kCodyWaiteLimit)) uncertain = 1;
        }
        if (redoAll) uncertain = kAllLanes;
        if (uncertain != 0) [[unlikely]] {
            RedoLanes(uncertain, period, run.amplitude, run.firstIndex + k, out);
        }
        index = L::Add(index, step);
    }
    if (k < run.count) {
        SynthesizeReference({run.frequencyHz, run.amplitude, run.firstIndex + k, run.count - k,
                             run.out + 2 * std::size_t{k}});
    }
}

}  // namespace
}  // namespace quillox
