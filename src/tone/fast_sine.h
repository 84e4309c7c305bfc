// The fast loop's two sines: a reduction by pi and a polynomial, each with a
// bound on its error instead of the last bit. The bounds are stated where the
// error is made; their sums and the windows that must cover them are checked
// below at compile time. Every number here that comes from a search or from
// an approximation names its generator in proofs/, and `./build.sh proofs`
// reruns them all and compares (see proofs/README.md).
//
// Errors are counted in units of u = 2^-53, relative to the value they are
// errors of, unless a line says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <numbers>

#include "tone/lanes.h"
#include "tone/sample_format.h"

namespace quillox {
namespace {  // NOLINT: internal linkage, as everything the loops include

inline constexpr double kUnit = 0x1p-53;

// --- The arguments ---
// theta is a float. The loop's contract (tone/fast_loop.h) keeps the index
// below 2^32 and the period is at least 44100 / 2^31 samples, so |theta| is
// below 2^32 * 6.28318 * 2^31 / 44100 < 2^50.23 (a tone's own index stays
// below 48,695 * 44,100 < 2^31: its theta below 2^49.23).
inline constexpr double kLargestTheta = 0x1p63 * kPhaseFactor / kSampleRate * (1 + 0x1p-20);
static_assert(kLargestTheta < 0x1.2cp50);  // 2^50.23
// Over every float theta below 2^51 the smallest |theta - k pi|, k not 0:
// 4.0e-9, 2^-27.9 (proofs/reduction_search.cpp). Absolute errors of the
// reduction count against it.
inline constexpr double kSmallestReduced = 4.0e-9;

// --- Reduction by pi ---
// k = RN(theta / pi), x = theta - k pi, sin(theta) = (-1)^k sin(x).
// k comes from one rounding of theta * RN(1/pi) + 1.5 * 2^52, whose last
// mantissa bit is then k's parity.
inline constexpr double kInversePi = 0x1.45f306dc9c883p-2;  // RN(1/pi)
inline constexpr double kInversePiError = 1.97e-17;         // |RN(1/pi) - 1/pi| = 2^-55.5
inline constexpr double kRoundingShift = 0x1.8p52;
// With a fused product k is off by at most theta |RN(1/pi) - 1/pi| from
// theta / pi, beyond the half of its rounding, so |x| stays below
// kLargeReducedLimit for every theta.
inline constexpr double kLargeReducedLimit = 1.66;
static_assert((0.5 + kLargestTheta * kInversePiError) * std::numbers::pi < kLargeReducedLimit);

// pi in three doubles, for fused multiply-adds (each one RN of what is left).
inline constexpr double kPi1 = 0x1.921fb54442d18p+1;
inline constexpr double kPi2 = 0x1.1a62633145c07p-53;
inline constexpr double kPi3 = -0x1.f1976b7ed8fbcp-109;
inline constexpr double kPiTailBeyond2 = 0x1p-108;  // |pi - kPi1 - kPi2| = 2^-108.04
//   x1 = theta - k kPi1 is exact: k kPi1 is a multiple of 2^-51 (kPi1 has 53
//   bits, the last at 2^-51), theta of its own ulp (at least 2^-51 once k is
//   not 0), and |x1| <= |x| + |k| |pi - kPi1| < 1.66 + 2^48.6 * 2^-52.9 < 2:
//   52 bits.
//   x2 = x1 - k kPi2 and x3 = x2 - k kPi3 each round once: x3 is within
//   2.01 u |x| of x for every theta (the part of pi beyond kPi3 adds |k|
//   2^-160 at most, under 2^-83 |x|: |k| < 2^48.6, |x| >= kSmallestReduced > 2^-28).
// theta below kSmallThetaLimit keeps |k| below 2^27: leaving kPi3 out adds
// |k| kPiTailBeyond2 < 2^-81 absolute, under u |x|, and x2 alone is within
// 2.01 u |x| of x.
inline constexpr double kSmallThetaLimit = 4.0e8;
static_assert(kSmallThetaLimit * kInversePi + 1 < 0x1p27);
static_assert(0x1p27 * kPiTailBeyond2 <= kUnit * kSmallestReduced);
inline constexpr double kFusedReductionError = 2.01;
// Without fused multiply-adds, below kSmallThetaLimit only: k from a rounded
// product is off by at most 2^-25 more, so |x| stays below
// kSmallReducedLimit. kPi1 split into two parts of 25 bits, so that k times
// each is exact while |k| < 2^27, then kPi2:
//   x1 = theta - k kPiA is exact: multiples of 2^-23, |x1| < 1.6 + 2^27 *
//   3.2e-8 < 8: 26 bits.
//   x2 = x1 - k kPiB is exact: multiples of 2^-49, |x2| < 2: 50 bits.
//   x3 = x2 - RN(k kPi2) rounds once, by at most u |x3|. Before that,
//   RN(k kPi2) is off by at most u |k| kPi2 < 2^-105.8 |k|, and the part of
//   pi beyond kPi2 adds 2^-108 |k|: under 2^-105.5 |k| together. |k| / |x|
//   is at most kLargestKOverX below kSmallThetaLimit, so that is under
//   0.2 u |x|: |x3 - x| <= 1.2 u |x|.
inline constexpr double kPiA = 0x1.921fb5p+1;
inline constexpr double kPiB = 0x1.110b46p-25;  // kPiA + kPiB = kPi1
static_assert(kPiA + kPiB == kPi1);
inline constexpr double kSmallReducedLimit = 1.5709;
static_assert((0.5 + kSmallThetaLimit * (kInversePiError + kInversePi * kUnit)) * std::numbers::pi <
              kSmallReducedLimit);
// Over every float theta below kSmallThetaLimit with k not 0: 2^50.05, at
// theta = 0x1.4665d2p+26 (proofs/reduction_search.cpp).
inline constexpr double kLargestKOverX = 1.166e15;
inline constexpr double kLargestKOverXTheta = 0x1.4665d2p+26;
// And the float nearest to a multiple of pi there (ibid.). Both are for the
// tests, which measure the sines where their reduction loses the most.
inline constexpr double kNearestToMultipleOfPi = 0x1.f9cbe2p+8;
inline constexpr double kPlainReductionError = 1.2;
static_assert(kLargestKOverX * (kUnit * kPi2 + kPiTailBeyond2) <= 0.2 * kUnit);

// Without fused multiply-adds, theta below kPlainLargeThetaLimit (every
// tone up to 56 kHz, to its end): k from a rounded product is off by at
// most 2^-21 more, so |x| stays below kLargeReducedLimit, and |k| < 2^33.
// pi in five parts, the first four the next bits of pi, short enough that k
// times each is exact (20, 20, 9 and 19 bits), the last RN of what is left
// (proofs/reduction_search.cpp):
//   x1 = theta - k kPiC1 is exact: multiples of 2^-23 (theta >= pi / 2
//   once k is not 0), |x1| < 1.66 + 2^33 * 2^-18 < 2^15: 38 bits.
//   x2 = x1 - k kPiC2 is exact: multiples of 2^-38, |x2| < 1.66 + 2^33 *
//   2^-38 < 2: 39 bits.
//   x3 = x2 - k kPiC3 is exact: multiples of 2^-48, |x3| < 2: 49 bits.
//   x4 = x3 - k kPiC4 rounds once, by at most u (|x| + |k| |pi - kPiC1 -
//   ... - kPiC4|) <= u (|x| + 2^33 kPiTailBeyondC4).
//   RN(k kPiC5) rounds once, by at most u 2^33 kPiC5, and the part of pi
//   beyond kPiC5 adds 2^33 kPiTailBeyondC5.
//   x5 = x4 - RN(k kPiC5) rounds once, by at most u |x| (1 + 2^-50: u times
//   the errors before it).
// Relative to |x| >= kSmallestReduced that is kPlainLargeReductionError,
// within the fused reduction's error, on which LargeThetaSine's bound rests.
inline constexpr double kPlainLargeThetaLimit = 0x1p34;
inline constexpr double kPiC1 = 0x1.921fap+1;
inline constexpr double kPiC2 = 0x1.54442p-19;
inline constexpr double kPiC3 = 0x1.a3p-40;
inline constexpr double kPiC4 = 0x1.1a624p-53;
inline constexpr double kPiC5 = 0x1.198a2e0370734p-72;
inline constexpr double kPiTailBeyondC4 = 0x1p-71;   // |pi - kPiC1 - ... - kPiC4| = 2^-71.9
inline constexpr double kPiTailBeyondC5 = 0x1p-125;  // |pi - kPiC1 - ... - kPiC5| = 2^-125.8
static_assert(kPlainLargeThetaLimit * kInversePi + 1 < 0x1p33);
static_assert((0.5 + kPlainLargeThetaLimit * (kInversePiError + kInversePi * kUnit)) *
                  std::numbers::pi <
              kLargeReducedLimit);
inline constexpr double kPlainLargeReductionError =
    2 * (1 + 0x1p-50) +
    0x1p33 * (kPiTailBeyondC4 + kPiC5 + kPiTailBeyondC5 / kUnit) / kSmallestReduced;
static_assert(kPlainLargeReductionError <= kFusedReductionError);

// k and the reduced argument with odd k's sign folded in, from the parts of
// pi given (the first product must be exact, see above).
template <Lanes L, std::size_t N>
typename L::Doubles Reduce(typename L::Doubles theta, const double (&piParts)[N]) {
    typename L::Doubles shifted, x = theta;
    if constexpr (L::kFusedMultiplyAdd) {
        shifted = L::MulAdd(theta, L::Splat(kInversePi), L::Splat(kRoundingShift));
    } else {
        shifted = L::Add(L::Mul(theta, L::Splat(kInversePi)), L::Splat(kRoundingShift));
    }
    const typename L::Doubles k = L::Sub(shifted, L::Splat(kRoundingShift));
    for (const double part : piParts) {
        if constexpr (L::kFusedMultiplyAdd) {
            x = L::NegMulAdd(k, L::Splat(part), x);
        } else {
            x = L::Sub(x, L::Mul(k, L::Splat(part)));
        }
    }
    return L::NegateWhereOdd(x, shifted);
}

// --- The polynomial ---
// sin(x) ~ x + x^3 P(x^2), P minimax for the relative error
// (proofs/sine_coefficients.sollya). With fused multiply-adds by Horner's
// rule: fewest operations, and the vector loops are bound by their number.
// Without, in pairs (Estrin's scheme for P of degree 5 or 6): a few more
// operations, but half the chain of dependent ones, which bounds the plain
// loop. The rounding errors of both forms are bounded by
// proofs/sine_bounds.cpp, which runs this very function on values that
// carry their error bounds.
template <LaneArithmetic L, std::size_t N>
typename L::Doubles OddPolynomial(typename L::Doubles x, const double (&coefficients)[N]) {
    using Doubles = typename L::Doubles;
    const auto c = [&](std::size_t j) { return L::Splat(coefficients[j]); };
    const Doubles z = L::Mul(x, x);
    if constexpr (L::kFusedMultiplyAdd) {
        Doubles p = c(N - 1);
        for (std::size_t j = N - 1; j-- > 0;) p = L::MulAdd(p, z, c(j));
        return L::MulAdd(L::Mul(x, z), p, x);
    } else {
        static_assert(N == 6 || N == 7, "pairs for P of degree 5 or 6");
        const Doubles z2 = L::Mul(z, z);
        const Doubles p01 = L::Add(L::Mul(c(1), z), c(0));
        const Doubles p23 = L::Add(L::Mul(c(3), z), c(2));
        Doubles p45 = L::Add(L::Mul(c(5), z), c(4));
        if constexpr (N == 7) p45 = L::Add(L::Mul(c(6), z2), p45);
        const Doubles p = L::Add(L::Mul(L::Add(L::Mul(p45, z2), p23), z2), p01);
        return L::Add(L::Mul(L::Mul(x, z), p), x);
    }
}

// --- The two sines, and the windows their bounds need ---
// A sine's bound, relative to |sin(theta)|: the polynomial's approximation
// error, the evaluation's rounding errors (at the largest |x|, where both
// peak relative to sin(x)), and the reduction's, |x - x'| <= r u |x| with
// |x| / |sin x| at most reducedLimit / sin(reducedLimit).
// The computed w and the reference's then differ by at most this bound, the
// reference sine's half ulp (it is correctly rounded: 1 unit) and the
// roundings of the two w's (1 + 1), each at most an ulp of w. A window
// covers that with a margin of three.
inline constexpr double kReferenceSineError = 1;

// An upper bound of x / sin x for 0 < x <= 2: the sine's series cut after a
// negative term is below sin x there (its terms shrink), and the factor
// covers the roundings of this very sum.
constexpr double XOverSinXAtMost(double x) {
    const double z = x * x;
    const double sineFromBelow =
        x * (1 - z / 6 * (1 - z / 20 * (1 - z / 42 * (1 - z / 72 * (1 - z / 110)))));
    return x / sineFromBelow * (1 + 0x1p-40);
}

template <typename Sine>
concept CoveredByItsWindow = Sine::kApproximationError + Sine::kEvaluationError +
                                     Sine::kReductionError <=
                                 Sine::kBound &&
                             3 * (Sine::kBound + kReferenceSineError + 2) <= Sine::kWindow;

// theta below kSmallThetaLimit: |x| < kSmallReducedLimit, P of degree 5.
struct SmallThetaSine {
    // proofs/sine_coefficients.sollya
    static constexpr double kCoefficients[6] = {-0x1.5555555547112p-3,  0x1.1111110a54714p-7,
                                                -0x1.a019fd58bdb41p-13, 0x1.71dcf82b7fc71p-19,
                                                -0x1.ae03f1d47db56p-26, 0x1.52db7364dac72p-33};
    static constexpr double kApproximationError = 616.88;  // ibid.
    static constexpr double kEvaluationError = 6.2;        // proofs/sine_bounds.cpp
    // Relative to sin x: x / sin x < 1.5710 below kSmallReducedLimit.
    static constexpr double kReductionError =
        kFusedReductionError * XOverSinXAtMost(kSmallReducedLimit);
    static constexpr double kBound = 640;
    static constexpr std::uint64_t kWindow = 4096;

    static constexpr double kFusedPiParts[] = {kPi1, kPi2};
    static constexpr double kPlainPiParts[] = {kPiA, kPiB, kPi2};

    template <Lanes L>
    static typename L::Doubles Sine(typename L::Doubles theta) {
        if constexpr (L::kFusedMultiplyAdd) {
            return OddPolynomial<L>(Reduce<L>(theta, kFusedPiParts), kCoefficients);
        } else {
            return OddPolynomial<L>(Reduce<L>(theta, kPlainPiParts), kCoefficients);
        }
    }
};
static_assert(CoveredByItsWindow<SmallThetaSine>);
static_assert(XOverSinXAtMost(kSmallReducedLimit) < 1.5710);
static_assert(kPlainReductionError <= kFusedReductionError);

// Any theta with fused multiply-adds, theta below kPlainLargeThetaLimit
// without: |x| < kLargeReducedLimit, P of degree 6.
struct LargeThetaSine {
    // proofs/sine_coefficients.sollya
    static constexpr double kCoefficients[7] = {
        -0x1.55555555553d8p-3,  0x1.1111111103dbp-7,   -0x1.a01a01961b1a8p-13, 0x1.71de36b965fap-19,
        -0x1.ae62efae193b4p-26, 0x1.60d76d9af720ap-33, -0x1.9d49750f63588p-41};
    static constexpr double kApproximationError = 3.44;  // ibid.
    static constexpr double kEvaluationError = 7.2;      // proofs/sine_bounds.cpp (5.5 fused)
    // Relative to sin x: x / sin x < 1.6668 below kLargeReducedLimit.
    static constexpr double kReductionError =
        kFusedReductionError * XOverSinXAtMost(kLargeReducedLimit);
    static constexpr double kBound = 14;
    static constexpr std::uint64_t kWindow = 64;

    static constexpr double kFusedPiParts[] = {kPi1, kPi2, kPi3};
    static constexpr double kPlainPiParts[] = {kPiC1, kPiC2, kPiC3, kPiC4, kPiC5};

    template <Lanes L>
    static typename L::Doubles Sine(typename L::Doubles theta) {
        if constexpr (L::kFusedMultiplyAdd) {
            return OddPolynomial<L>(Reduce<L>(theta, kFusedPiParts), kCoefficients);
        } else {
            return OddPolynomial<L>(Reduce<L>(theta, kPlainPiParts), kCoefficients);
        }
    }
};
static_assert(CoveredByItsWindow<LargeThetaSine>);
static_assert(XOverSinXAtMost(kLargeReducedLimit) < 1.6668);

}  // namespace
}  // namespace quillox
