// The fast sample loop: the reference loop's samples, a block at a time,
// with a cheap theta and a cheap sine whose errors are bounded, and the
// reference itself for the few samples the bounds cannot decide.
//
// Why cheap steps give exact samples. Everything after
//   w = amplitude * sin(theta)          (double)
// is a function of float(w) alone: x = float(w), then exact float steps. So a
// sine need not be accurate to the last bit; it needs an error bound. If the
// computed w lies farther from every float rounding midpoint than w can be
// from the reference loop's w, both round to the same float, and the sample
// is the reference sample. theta is decided the same way: it too is a double
// rounded to float. Lanes that lie too close to a midpoint (about 1 in 10^4)
// are recomputed with the reference loop.
//
// Included by one file per instruction set, each built with its own flags:
// everything here has internal linkage, so that no copy compiled for one
// instruction set can stand in for another's. Each file supplies a `Lanes`
// type (ScalarLanes in scalar_lanes.h is the plainest) and instantiates
// SynthesizeFast<Lanes>. A Lanes type computes on `kVectors` vectors of
// `kLanes` doubles, one block of samples; `SampleOffset` says which sample of
// the block each lane holds, so that its StoreBlock can write them in order
// with few shuffles.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "tone/sample_format.h"
#include "tone/synthesis.h"

namespace quillox {
namespace {  // NOLINT: internal linkage on purpose, see above

// Calls f(std::integral_constant<unsigned, j>) for j = 0 .. N-1, unrolled, so
// that arrays of vectors indexed by j stay in registers.
template <unsigned N, typename F>
[[gnu::always_inline]] inline void ForEachVector(F &&f) {
    [&]<unsigned... J>(std::integer_sequence<unsigned, J...>) {
        (f(std::integral_constant<unsigned, J>{}), ...);
    }
    (std::make_integer_sequence<unsigned, N>{});
}

// --- Rounding a double to float precision, and knowing when it is unsure ---
// The 29 low mantissa bits of a double are those below float precision: the
// float a double rounds to changes only where they read 2^28, a midpoint.
// Adding 2^28 + W to the bits and clearing the low 29 rounds to the nearest
// float (carries run into the exponent as they should); a lane is uncertain
// when the low 29 bits of the sum read below 2W, that is when the double lies
// within W ulps of a midpoint. W is a power of two below 2^28.
inline constexpr std::uint64_t kBelowFloatBits = (std::uint64_t{1} << 29) - 1;
inline constexpr std::uint64_t kMidpointBits = std::uint64_t{1} << 28;

template <std::uint64_t kWindow>
inline constexpr std::uint64_t kNearMidpointMask = kBelowFloatBits & ~(2 * kWindow - 1);

// Lanes within kWindow ulps of a float rounding midpoint.
template <typename Lanes, std::uint64_t kWindow>
typename Lanes::Mask NearMidpoint(typename Lanes::Doubles value) {
    static_assert(std::has_single_bit(kWindow) && kWindow < kMidpointBits);
    return Lanes::WhereBitsZero(Lanes::AddToBits(value, kMidpointBits + kWindow),
                                kNearMidpointMask<kWindow>);
}

// --- Theta, by a running product ---
// The reference's theta is float(Q) with Q = RN(RN(i K) / P), K = 6.28318 and
// P the float period as a double. The loop keeps instead
//   c = RN(K RN(1/P)),   q = RN(i c) at an anchor, then q = RN(q + B c)
// for each block of B samples (B c is exact: B is a power of two); an anchor
// is a block where q is computed afresh from i. Frequency 0 makes P infinite
// and c = 0: every q, and every theta, is 0, as in the reference.
// How far q lies from Q. Each of r = RN(1/P), c, the anchor's product, RN(i K)
// and the division rounds once, relative error at most u = 2^-53 each: the
// anchored q is within 5u |Q| (1 + 2^-50) of Q, under 5.01 ulps of Q. Each
// addition rounds once more, by at most half an ulp of its sum, and the sums
// only grow in magnitude; after fewer than kAnchorBlocks of them, q is
// within 5.01 + 31.5 < 37 ulps of Q. Where q and Q lie on either side of a
// power of two, both are within 37 ulps of it, a float, and far from any
// midpoint: both round to it.
// So where q lies farther than kThetaWindow = 64 ulps from a midpoint, Q is
// more than 27 ulps from it on the same side: theta = float(q) = float(Q),
// whichever way float() breaks ties. Closer lanes go to the reference.
inline constexpr std::uint32_t kAnchorBlocks = 64;
inline constexpr std::uint64_t kThetaWindow = 64;

inline double PhasePerSample(float period) {
    return kPhaseFactor * (1.0 / static_cast<double>(period));  // 1/infinity is 0
}

// theta from q: float(q) as a double, and the lanes where that may not be
// the reference's theta.
template <typename Lanes>
typename Lanes::Doubles ThetaFromProduct(typename Lanes::Doubles q, typename Lanes::Mask &unsure) {
    unsure = NearMidpoint<Lanes, kThetaWindow>(q);
    return Lanes::KeepBits(Lanes::AddToBits(q, kMidpointBits + kThetaWindow), ~kBelowFloatBits);
}

// A w that lies on a midpoint: it stands in for the w of a lane whose theta
// is unsure, so that the check of w sends that lane to the reference too
// (one check a lane, and no mask kept from one step to the next).
inline constexpr double kUnsureW = std::bit_cast<double>(0x3FF0000000000000 | kMidpointBits);

// --- Reduction by pi ---
// k = RN(theta / pi), x = theta - k pi, sin(theta) = (-1)^k sin(x).
// theta is a float below 2^50 in magnitude (index < 2^32 times 6.28318 over
// a period of at least 44100 / 2^31), and the smallest |theta - k pi| over
// such floats is 4.0e-9 (2^-27.9): the absolute error of each step counts
// against that.
inline constexpr double kInversePi = 0x1.45f306dc9c883p-2;  // RN(1/pi)
inline constexpr double kRoundingShift = 0x1.8p52;          // 1.5 * 2^52
// pi as doubles, for fused multiply-adds:
//   x1 = theta - k pi1 is exact: k pi1 is a multiple of 2^-51 (pi1 has
//   53 bits, the last at 2^-51), theta of its own ulp (at least 2^-51 once
//   k is not 0), and |x1| <= |x| + |k| |pi - pi1| < 1.7 + 2^49 * 2^-52.9 < 2:
//   52 bits.
//   x2 = x1 - k pi2 and x3 = x2 - k pi3 each round once. Below theta =
//   kSmallThetaLimit, |k| < 2^27 and the part left out, |k pi3| < 2^-81, is
//   under 2^-53 |x|: x2 alone is within 2.01 * 2^-53 |x| of x. Beyond it x3
//   is, for every theta.
// k comes from one rounding of theta * RN(1/pi) (fused: exact product), off
// by at most theta * |RN(1/pi) - 1/pi| <= 2^50 * 2^-55.5 < 0.023 from
// theta / pi, so |x| <= (0.5 + 0.023) pi < 1.66; below kSmallThetaLimit the
// offset is under 2^-26 (2^-25 with the product rounded) and |x| < 1.5709.
inline constexpr double kPi1 = 0x1.921fb54442d18p+1;
inline constexpr double kPi2 = 0x1.1a62633145c07p-53;
inline constexpr double kPi3 = -0x1.f1976b7ed8fbcp-109;
// pi without fused multiply-adds: pi1 split into two parts of 25 bits, so
// that k times each is exact while |k| < 2^27, then pi2:
//   x1 = theta - k piA is exact: multiples of 2^-23, |x1| < 1.6 + 2^27 *
//   3.2e-8 < 8: 26 bits.
//   x2 = x1 - k piB is exact: multiples of 2^-49, |x2| < 2: 50 bits.
//   x3 = x2 - RN(k pi2) rounds once, by at most 2^-53 |x3|. Before that,
//   RN(k pi2) is off by at most 2^-53 |k| pi2 < 2^-105.8 |k|, and pi3, left
//   out, adds |k pi3| < 2^-108 |k|: under 2^-105.5 |k| together. Over every
//   float theta below kSmallThetaLimit with k not 0, |k| / |x| is at most
//   2^50.05 (at theta = 85563208, found by trying them all), so that is
//   under 2^-55.4 |x|: |x3 - x| <= 1.2 * 2^-53 |x|.
// So without them the fast loop takes theta below kSmallThetaLimit only.
inline constexpr double kPiA = 0x1.921fb5p+1;
inline constexpr double kPiB = 0x1.110b46p-25;     // piA + piB = pi1
inline constexpr double kSmallThetaLimit = 4.0e8;  // < 2^27 pi, with k's rounding to spare

// sin(x) ~ x + x^3 P(x^2), P minimax for the relative error. With fused
// multiply-adds by Horner's rule: fewest operations, and the vector loops are
// bound by their number. Without, in pairs (Estrin's scheme for P of degree
// 5): a few more operations, but half the chain of dependent ones, which
// bounds the plain loop.
template <typename Lanes, std::size_t N>
typename Lanes::Doubles OddPolynomial(typename Lanes::Doubles x, const double (&coefficients)[N]) {
    using L = Lanes;
    using Doubles = typename L::Doubles;
    const auto c = [&](std::size_t j) { return L::Splat(coefficients[j]); };
    const Doubles z = L::Mul(x, x);
    if constexpr (L::kFusedMultiplyAdd) {
        Doubles p = c(N - 1);
        for (std::size_t j = N - 1; j-- > 0;) p = L::MulAdd(p, z, c(j));
        return L::MulAdd(L::Mul(x, z), p, x);
    } else {
        static_assert(N == 6, "pairs for P of degree 5");
        const Doubles z2 = L::Mul(z, z);
        const Doubles p01 = L::Add(L::Mul(c(1), z), c(0));
        const Doubles p23 = L::Add(L::Mul(c(3), z), c(2));
        const Doubles p45 = L::Add(L::Mul(c(5), z), c(4));
        const Doubles p = L::Add(L::Mul(L::Add(L::Mul(p45, z2), p23), z2), p01);
        return L::Add(L::Mul(L::Mul(x, z), p), x);
    }
}

// k and the reduced argument with odd k's sign folded in, from the parts of
// pi given (the first product must be exact, see above).
template <typename Lanes, std::size_t N>
typename Lanes::Doubles Reduce(typename Lanes::Doubles theta, const double (&piParts)[N]) {
    using L = Lanes;
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
    // shifted = 1.5 * 2^52 + k: its lowest mantissa bit is k's parity.
    return L::NegateWhereOdd(x, shifted);
}

// The two sines the loop uses, each with the window its bound needs. The
// computed w and the reference's differ by at most
//   this sine's bound + the reference sine's 2 (1 ulp) + the two roundings
//   of w, 1 + 1
// units of 2^-53 |w|, each at most an ulp of w. kWindow covers that with a
// margin of three or more (tests/fast_sine_test.cpp measures the bounds
// against MPFR and checks the margins).

// theta below kSmallThetaLimit: pi in two parts (three without fused
// multiply-adds), |x| < 1.5709, P of degree 5. Bound: 640 units.
struct SmallThetaSine {
    static constexpr double kBound = 640;
    static constexpr std::uint64_t kWindow = 4096;
    static constexpr double kCoefficients[6] = {-0.16666666666504476,    0.008333333321079103,
                                                -0.00019841266728062387, 2.755695296582193e-06,
                                                -2.503019109071946e-08,  1.540944261116743e-10};

    static constexpr double kFusedPiParts[] = {kPi1, kPi2};
    static constexpr double kPlainPiParts[] = {kPiA, kPiB, kPi2};

    template <typename Lanes>
    static typename Lanes::Doubles Sine(typename Lanes::Doubles theta) {
        if constexpr (Lanes::kFusedMultiplyAdd) {
            return OddPolynomial<Lanes>(Reduce<Lanes>(theta, kFusedPiParts), kCoefficients);
        } else {
            return OddPolynomial<Lanes>(Reduce<Lanes>(theta, kPlainPiParts), kCoefficients);
        }
    }
};

// Any theta, with fused multiply-adds only: pi in three parts, |x| < 1.66,
// P of degree 6. Bound: 6 units.
struct LargeThetaSine {
    static constexpr double kBound = 6;
    static constexpr std::uint64_t kWindow = 64;
    static constexpr double kCoefficients[7] = {-0.16666666666665608,    0.008333333333239414,
                                                -0.00019841269812850943, 2.755731511960952e-06,
                                                -2.5051789648543224e-08, 1.60453734154004e-10,
                                                -7.341440482110426e-13};

    template <typename Lanes>
    static typename Lanes::Doubles Sine(typename Lanes::Doubles theta) {
        static_assert(Lanes::kFusedMultiplyAdd, "the three-part reduction needs exact products");
        constexpr double kParts[] = {kPi1, kPi2, kPi3};
        return OddPolynomial<Lanes>(Reduce<Lanes>(theta, kParts), kCoefficients);
    }
};

// --- The samples from w ---
// x = float(w), then y = ((x + 1) * 0.5) * -65535 and v = -32768 - int32(y).
// (x + 1) * 0.5 is exact (x + 1 is zero or at least 2^-24 in magnitude), so
// y = -RN((x + 1) * 32767.5): one multiplication. A Lanes type may compute
// y' = -y = RN(u * 32767.5), u = x + 1, and t' = int32(y') = -int32(y):
// then v = -32768 + t', whose low 16 bits are those of t' ^ 0x8000.
// Saturation. |x| <= |amplitude|; for |amplitude| <= 65536 (kSaturate
// false), y lies in [-2^31, 2147450880] (y = RN(-65537 * 32767.5) = -2^31 at
// most), where a plain conversion is defined and exact. Beyond it the
// reference saturates y >= 2^31 to INT32_MAX (y' <= -2^31) and y <= -2^31 to
// INT32_MIN; a conversion that gives INT32_MIN out of range gets the second
// right in either form (INT32_MIN and -INT32_MIN agree modulo 2^32) and the
// first only with a fix.
// For amplitudes +-2^n, w = amplitude * sin is exact, so the loop checks the
// sine itself and StoreBlock forms x as float(sine) * amplitude (exact too)
// in u = x * scale + 1.
inline constexpr float kMappingNegatedScale = -kMappingHalf * kMappingScale;  // 32767.5
inline constexpr float kLargestUnsaturatedAmplitude = 65536.0f;

inline bool IsPowerOfTwo(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t exponent = (bits >> 23) & 0xFF;
    return (bits & 0x7FFFFF) == 0 && exponent != 0 && exponent != 0xFF;
}

// Recomputes with the reference the samples of the lanes set in `lanes` of
// vector `vector` of a block.
template <typename Lanes>
[[gnu::cold, gnu::noinline]] void RedoLanes(unsigned lanes, unsigned vector, float period,
                                            double amplitude, std::uint32_t blockFirst,
                                            std::uint8_t *blockOut) {
    for (unsigned lane = 0; lanes != 0; ++lane, lanes >>= 1) {
        if ((lanes & 1) == 0) continue;
        const unsigned offset = Lanes::SampleOffset(vector, lane);
        const std::uint16_t v = ReferenceSample(period, amplitude, blockFirst + offset);
        blockOut[2 * offset] = static_cast<std::uint8_t>(v);
        blockOut[2 * offset + 1] = static_cast<std::uint8_t>(v >> 8);
    }
}

// `blocks` whole blocks from run.firstIndex on, with the sine `Kernel`.
template <typename Lanes, typename Kernel, bool kSaturate, bool kPowerOfTwo>
void SynthesizeBlocks(const SampleRun &run, std::uint32_t blocks) {
    using L = Lanes;
    using Doubles = typename L::Doubles;
    using Mask = typename L::Mask;
    constexpr unsigned kVectors = L::kVectors;
    constexpr unsigned kBlock = L::kLanes * kVectors;
    static_assert(std::has_single_bit(kBlock), "B c must be exact");
    const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
    const double perSample = PhasePerSample(period);
    const Doubles step = L::Splat(kBlock * perSample);
    const Doubles perSampleLanes = L::Splat(perSample);
    const Doubles amplitude = L::Splat(static_cast<double>(run.amplitude));
    const float scale = kPowerOfTwo ? run.amplitude : 1.0f;
    const bool redoAll = FallbackForced();
    Doubles offsets[kVectors];
    ForEachVector<kVectors>([&](auto j) {
        double lanes[L::kLanes];
        for (unsigned lane = 0; lane < L::kLanes; ++lane) lanes[lane] = L::SampleOffset(j, lane);
        offsets[j] = L::Load(lanes);
    });

    // q for each lane, computed afresh from the index every kAnchorBlocks
    // blocks (an anchor), which keeps its drift bounded.
    Doubles q[kVectors];
    const auto anchor = [&](std::uint32_t block) {
        const double anchorIndex = static_cast<double>(run.firstIndex) + double{kBlock} * block;
        ForEachVector<kVectors>([&](auto j) {
            q[j] = L::Mul(L::Add(L::Splat(anchorIndex), offsets[j]), perSampleLanes);
        });
    };
    // w of the next block; kUnsureW where its theta is unsure.
    const Doubles unsureW = L::Splat(kUnsureW);
    const auto nextSines = [&](Doubles(&next)[kVectors]) {
        ForEachVector<kVectors>([&](auto j) {
            Mask thetaUnsure;
            const Doubles theta = ThetaFromProduct<L>(q[j], thetaUnsure);
            q[j] = L::Add(q[j], step);
            const Doubles s = Kernel::template Sine<L>(theta);
            next[j] = L::Select(thetaUnsure, unsureW, kPowerOfTwo ? s : L::Mul(s, amplitude));
        });
    };

    // Each pass computes the sines of the block after the one it stores, so
    // that the processor overlaps the two: the loop is bound by how much work
    // it can keep in flight. The last pass computes one block too many, and
    // stores nothing of it.
    anchor(0);
    Doubles current[kVectors];
    nextSines(current);
    for (std::uint32_t block = 0; block < blocks; ++block) {
        if ((block + 1) % kAnchorBlocks == 0) anchor(block + 1);
        Doubles next[kVectors];
        nextSines(next);

        const std::uint32_t blockFirst = run.firstIndex + kBlock * block;
        std::uint8_t *const out = run.out + std::size_t{2} * kBlock * block;
        Mask unsure[kVectors];
        ForEachVector<kVectors>(
            [&](auto j) { unsure[j] = NearMidpoint<L, Kernel::kWindow>(current[j]); });
        L::template StoreBlock<kSaturate>(current, scale, out);
        if (L::AnySet(unsure) || redoAll) [[unlikely]] {
            ForEachVector<kVectors>([&](auto j) {
                const unsigned lanes = redoAll ? (1u << L::kLanes) - 1 : L::LaneBits(unsure[j]);
                if (lanes != 0) RedoLanes<L>(lanes, j, period, run.amplitude, blockFirst, out);
            });
        }
        ForEachVector<kVectors>([&](auto j) { current[j] = next[j]; });
    }
}

template <typename Lanes, typename Kernel>
void SynthesizeBlocksWith(const SampleRun &run, std::uint32_t blocks) {
    const bool saturate = !(std::fabs(run.amplitude) <= kLargestUnsaturatedAmplitude);
    const bool powerOfTwo = IsPowerOfTwo(run.amplitude);
    if (saturate) {
        powerOfTwo ? SynthesizeBlocks<Lanes, Kernel, true, true>(run, blocks)
                   : SynthesizeBlocks<Lanes, Kernel, true, false>(run, blocks);
    } else {
        powerOfTwo ? SynthesizeBlocks<Lanes, Kernel, false, true>(run, blocks)
                   : SynthesizeBlocks<Lanes, Kernel, false, false>(run, blocks);
    }
}

// The samples of `run`, a block at a time; the tail and every uncertain lane
// by the reference. Needs run.firstIndex + run.count <= 2^32, as every tone
// has (the reference's index would wrap past it).
template <typename Lanes>
void SynthesizeFast(const SampleRun &run) {
    constexpr unsigned kBlock = Lanes::kLanes * Lanes::kVectors;
    const std::uint32_t blocks = run.count / kBlock;
    if (blocks != 0) {
        // |theta| grows with the index: the last sample's is the largest.
        const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
        const double lastA =
            static_cast<double>(run.firstIndex + kBlock * blocks - 1) * kPhaseFactor;
        const float lastTheta = static_cast<float>(lastA / static_cast<double>(period));
        if (std::fabs(lastTheta) < kSmallThetaLimit) {
            SynthesizeBlocksWith<Lanes, SmallThetaSine>(run, blocks);
        } else if constexpr (Lanes::kFusedMultiplyAdd) {
            SynthesizeBlocksWith<Lanes, LargeThetaSine>(run, blocks);
        } else {
            SynthesizeReference(
                {run.frequencyHz, run.amplitude, run.firstIndex, kBlock * blocks, run.out});
        }
    }
    const std::uint32_t done = kBlock * blocks;
    if (done < run.count) {
        SynthesizeReference({run.frequencyHz, run.amplitude, run.firstIndex + done,
                             run.count - done, run.out + std::size_t{2} * done});
    }
}

}  // namespace
}  // namespace quillox
