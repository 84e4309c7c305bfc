// The fast sample loop: the reference loop's samples, a block at a time,
// with a cheap theta (tone/running_theta.h) and a cheap sine
// (tone/fast_sine.h) whose errors are bounded, and the reference itself for
// the few samples the bounds cannot decide.
//
// Why cheap steps give exact samples. Everything after
//   w = amplitude * sin(theta)          (double)
// is a function of float(w) alone: x = float(w), then exact float steps. So
// the sine need not be accurate to the last bit; it needs an error bound. If
// the computed w lies farther from every float rounding midpoint than w can
// be from the reference loop's w, both round to the same float, and the
// sample is the reference sample (tone/rounding_certainty.h). theta is
// decided the same way: it too is a double rounded to float. Lanes that lie
// too close to a midpoint, between 1 in 17,000 and 1 in 100,000 of them
// (bench/fallback_rate.cpp), are recomputed with the reference loop.
//
// The error budget, every term with its unit and where it is bounded:
//
//   term                            unit             value       bounded at
//   theta: q against Q              ulps of Q        37          running_theta.h kThetaDriftUlps
//                                                                (5.01 at an anchor, + 1/2 a block)
//   theta's window                  ulps of Q        64          running_theta.h kThetaWindow
//   small-theta sine (|theta| < 4e8, fast_sine.h SmallThetaSine):
//     approximation                 u |sin|          616.88      proofs/sine_coefficients.sollya
//     evaluation                    u |sin|          6.2         proofs/sine_bounds.cpp
//     reduction                     u |sin|          2.01 x      kFusedReductionError times
//                                                    x / sin x   XOverSinXAtMost(1.5709)
//     bound                         u |sin|          640         kBound (the three, asserted)
//   large-theta sine (fast_sine.h LargeThetaSine; any theta with fused
//   multiply-adds, below 2^34 without):
//     approximation, evaluation     u |sin|          3.44, 7.2   as above
//     reduction                     u |sin|          2.01 x      XOverSinXAtMost(1.66)
//                                                                (kPlainLargeReductionError 2.002)
//     bound                         u |sin|          14          kBound
//   reference sine                  ulps of w        1           correctly rounded (half an ulp)
//   the two w = amplitude * sine    ulps of w        1 + 1       one rounding each
//   w's window                      ulps of w        4096, 64    kWindow >= 3 (bound + 1 + 2),
//                                                                CoveredByItsWindow
//
// u = 2^-53; an error of B u |sin| is at most B ulps of w, since w is the
// sine times the amplitude, rounded once. Every sum and window is checked at
// compile time beside its terms; ./build.sh proofs reruns every generator.
//
// Included by one file per instruction set, each built with its own flags:
// everything here has internal linkage, so that no copy compiled for one
// instruction set can stand in for another's. Each file supplies a type that
// satisfies `Lanes` (tone/lanes.h) and instantiates SynthesizeFast with it.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "tone/byte_order.h"
#include "tone/fast_sine.h"
#include "tone/lanes.h"
#include "tone/rounding_certainty.h"
#include "tone/running_theta.h"
#include "tone/sample_format.h"
#include "tone/synthesis.h"

namespace quillox {
namespace {  // NOLINT: internal linkage on purpose, see above

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

// One form of the loop: a Lanes type, a sine, and whether the amplitude may
// saturate or is a power of two. Each pass stores one block and computes the
// sines of the next, so that the processor overlaps the two: the loop is
// bound by how much work it can keep in flight.
template <Lanes L, typename Kernel, bool kSaturate, bool kPowerOfTwo>
class BlockLoop {
public:
    static constexpr unsigned kVectors = L::kVectors;
    static constexpr unsigned kBlock = L::kLanes * kVectors;

    explicit BlockLoop(const SampleRun &run)
        : firstIndex_(run.firstIndex),
          out_(run.out),
          amplitude_(run.amplitude),
          period_(kSamplesPerSecond / static_cast<float>(run.frequencyHz)),
          perSample_(L::Splat(PhasePerSample(period_))),
          step_(L::Splat(kBlock * PhasePerSample(period_))),  // exact: kBlock is 2^n
          amplitudes_(L::Splat(static_cast<double>(run.amplitude))),
          scale_(kPowerOfTwo ? run.amplitude : 1.0f) {
        ForEachVector<kVectors>([&](auto j) {
            double lanes[L::kLanes];
            for (unsigned lane = 0; lane < L::kLanes; ++lane) {
                lanes[lane] = L::SampleOffset(j, lane);
            }
            offsets_[j] = L::Load(lanes);
        });
    }

    // `blocks` whole blocks from run.firstIndex on. The last pass computes
    // the sines of one block too many, and stores nothing of them.
    void Run(std::uint32_t blocks) {
        Anchor(0);
        typename L::Doubles current[kVectors];
        NextSines(current);
        for (std::uint32_t block = 0; block < blocks; ++block) {
            if ((block + 1) % kAnchorBlocks == 0) Anchor(block + 1);
            typename L::Doubles next[kVectors];
            NextSines(next);
            Store(current, block);
            ForEachVector<kVectors>([&](auto j) { current[j] = next[j]; });
        }
    }

private:
    // q for each lane afresh from the index of the block's first sample.
    void Anchor(std::uint32_t block) {
        const double first = static_cast<double>(firstIndex_) + double{kBlock} * block;
        ForEachVector<kVectors>([&](auto j) {
            q_[j] = AnchoredProduct<L>(L::Add(L::Splat(first), offsets_[j]), perSample_);
        });
    }

    // w of the next block, or the sine alone for power-of-two amplitudes;
    // a value on a midpoint where theta is unsure, so that the check of w
    // sends that lane to the reference too (one check a lane, no mask kept).
    void NextSines(typename L::Doubles (&next)[kVectors]) {
        ForEachVector<kVectors>([&](auto j) {
            typename L::Mask thetaUnsure;
            const typename L::Doubles theta = ThetaFromProduct<L>(q_[j], thetaUnsure);
            q_[j] = NextProduct<L>(q_[j], step_);
            const typename L::Doubles s = Kernel::template Sine<L>(theta);
            next[j] = L::Select(thetaUnsure, L::Splat(kOnMidpoint),
                                kPowerOfTwo ? s : L::Mul(s, amplitudes_));
        });
    }

    // The samples of `block`, the unsure lanes by the reference.
    void Store(const typename L::Doubles (&w)[kVectors], std::uint32_t block) {
        const std::uint32_t first = firstIndex_ + kBlock * block;
        std::uint8_t *const out = out_ + std::size_t{kBytesPerSample} * kBlock * block;
        typename L::Mask unsure[kVectors];
        ForEachVector<kVectors>(
            [&](auto j) { unsure[j] = NearMidpoint<L, Kernel::kWindow>(w[j]); });
        L::template StoreBlock<kSaturate>(w, scale_, out);
        if (L::AnySet(unsure)) [[unlikely]] {
            ForEachVector<kVectors>([&](auto j) {
                if (const unsigned lanes = L::LaneBits(unsure[j])) {
                    Redo(lanes, j, period_, amplitude_, first, out);
                }
            });
        }
    }

    // The samples of the lanes set in `lanes` of vector j of the block from
    // sample `first` on, by the reference. (Static, so that the loop's state
    // never has its address taken and stays in registers.)
    [[gnu::cold, gnu::noinline]] static void Redo(unsigned lanes, unsigned j, float period,
                                                  float amplitude, std::uint32_t first,
                                                  std::uint8_t *out) {
        for (unsigned lane = 0; lanes != 0; ++lane, lanes >>= 1) {
            if ((lanes & 1) == 0) continue;
            const unsigned offset = L::SampleOffset(j, lane);
            WriteLE16(out + std::size_t{kBytesPerSample} * offset,
                      ReferenceSample(period, amplitude, first + offset));
        }
    }

    const std::uint32_t firstIndex_;
    std::uint8_t *const out_;
    const float amplitude_;
    const float period_;
    const typename L::Doubles perSample_;
    const typename L::Doubles step_;
    const typename L::Doubles amplitudes_;
    const float scale_;
    typename L::Doubles offsets_[kVectors];
    typename L::Doubles q_[kVectors];
};

// `blocks` whole blocks with the sine Kernel, in the form the amplitude
// needs.
template <Lanes L, typename Kernel>
void SynthesizeBlocks(const SampleRun &run, std::uint32_t blocks) {
    const bool saturate = !(std::fabs(run.amplitude) <= kLargestUnsaturatedAmplitude);
    const bool powerOfTwo = IsPowerOfTwo(run.amplitude);
    if (saturate) {
        powerOfTwo ? BlockLoop<L, Kernel, true, true>(run).Run(blocks)
                   : BlockLoop<L, Kernel, true, false>(run).Run(blocks);
    } else {
        powerOfTwo ? BlockLoop<L, Kernel, false, true>(run).Run(blocks)
                   : BlockLoop<L, Kernel, false, false>(run).Run(blocks);
    }
}

// How many of `blocks` whole blocks from sample `first` on have every
// |theta| below `limit`. |theta| never falls as the index grows (each step
// of it rounds monotonically), so those blocks come first, and a search
// over the blocks' last samples finds where they end.
template <unsigned kBlock>
std::uint32_t BlocksBelow(double limit, float period, std::uint32_t first, std::uint32_t blocks) {
    const auto below = [&](std::uint32_t count) {  // the first `count` blocks
        const double a = static_cast<double>(first + kBlock * count - 1) * kPhaseFactor;
        return std::fabs(static_cast<float>(a / static_cast<double>(period))) < limit;
    };
    if (below(blocks)) return blocks;
    std::uint32_t low = 0;        // below(low), or low = 0
    std::uint32_t high = blocks;  // not below(high)
    while (high - low > 1) {
        const std::uint32_t middle = low + (high - low) / 2;
        (below(middle) ? low : high) = middle;
    }
    return low;
}

// The samples of `run`: its whole blocks by the fast loop, each with the
// cheapest sine its theta allows, the rest by the reference. Needs
// run.firstIndex + run.count <= 2^32 (the reference's index would wrap past
// it, and the sines' bounds assume it).
template <Lanes L>
void SynthesizeFast(const SampleRun &run) {
    constexpr unsigned kBlock = L::kLanes * L::kVectors;
    const std::uint32_t blocks = run.count / kBlock;
    const std::uint32_t done = kBlock * blocks;
    // Blocks `from` to `to` of the run.
    const auto part = [&](std::uint32_t from, std::uint32_t to) {
        return SampleRun{run.frequencyHz, run.amplitude, run.firstIndex + kBlock * from,
                         kBlock * (to - from),
                         run.out + std::size_t{kBytesPerSample} * kBlock * from};
    };
    if (blocks != 0) {
        const float period = kSamplesPerSecond / static_cast<float>(run.frequencyHz);
        // Below kSmallThetaLimit the small-theta sine, then the large-theta
        // one; without fused multiply-adds, only below kPlainLargeThetaLimit,
        // and the reference past it.
        const std::uint32_t small =
            BlocksBelow<kBlock>(kSmallThetaLimit, period, run.firstIndex, blocks);
        const std::uint32_t large =
            L::kFusedMultiplyAdd
                ? blocks
                : BlocksBelow<kBlock>(kPlainLargeThetaLimit, period, run.firstIndex, blocks);
        if (small != 0) SynthesizeBlocks<L, SmallThetaSine>(run, small);
        if (small < large) SynthesizeBlocks<L, LargeThetaSine>(part(small, large), large - small);
        if (large < blocks) SynthesizeReference(part(large, blocks));
    }
    if (done < run.count) {
        SynthesizeReference({run.frequencyHz, run.amplitude, run.firstIndex + done,
                             run.count - done, run.out + std::size_t{kBytesPerSample} * done});
    }
}

}  // namespace
}  // namespace quillox
