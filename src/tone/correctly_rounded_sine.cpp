#include "tone/correctly_rounded_sine.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "tone/double_double.h"
#include "tone/sine_phases.h"
#include "tone/sine_table.h"

// Every step rounds to double: x87's excess precision would change results.
static_assert(FLT_EVAL_METHOD == 0, "the sine needs double arithmetic without excess precision");

namespace quillox {
namespace {

using sine_table::kEntries;

// Below 2^-26, sin(theta) = theta (1 - theta^2 / 6 + ...) lies within
// theta^3 / 6 < 2^-54.5 |theta| of theta, under half the gap to the next
// double toward zero (2^-54 |theta| even where theta is a power of two): it
// rounds to theta.
constexpr double kTiny = 0x1p-26;
constexpr double kQuarterPi = 0x1.921fb54442d18p-1;  // RN(pi / 4)
constexpr double kLargest = 0x1p51;

// 2^n exactly, for -1022 <= n <= 1023.
double PowerOfTwo(int n) {
    return std::bit_cast<double>(static_cast<std::uint64_t>(n + 1023) << 52);
}

// theta = quadrant * pi / 2 + x, with |x| <= pi / 4 (a hair more after
// rounding).
struct Reduced {
    unsigned quadrant;
    DoubleDouble x;
};

// Bits [from, from + 64) of the number whose 32-bit limbs, least
// significant first, are `limbs` (zero beyond the ninth).
[[gnu::always_inline]] inline std::uint64_t BitsFrom(const std::uint32_t (&limbs)[11], int from) {
    const int limb = from / 32;
    const int shift = from % 32;
    const std::uint64_t low = std::uint64_t{limbs[limb + 1]} << 32 | limbs[limb];
    if (shift == 0) return low;
    return low >> shift | std::uint64_t{limbs[limb + 2]} << (64 - shift);
}

// The reduction of a float theta in [pi / 4, 2^51): theta * 2 / pi modulo 4
// in fixed point, from integer products alone, so that every target
// computes it exactly alike. Of the product, the two bits above the point
// are the quadrant and the 192 below it the fraction f.
constexpr int kExponentBias = 1023 + 52;    // a double is its 53-bit integer significand
                                            // times 2^(exponent field - kExponentBias)
constexpr int kFloatDroppedBits = 52 - 23;  // a float's significand has 24 bits: the
                                            // double's low 29 are 0
constexpr int kTwoOverPiBits = 256;         // of 2 / pi, in sine_table::kTwoOverPi
constexpr int kWordBits = 64;
constexpr int kDoubleBits = 53;
// The premise, from proofs/reduction_search.cpp: |f| = |theta - k pi / 2|
// 2 / pi >= 2^-29.55 puts f's first bit among its top 30.
static_assert(kSmallestQuarterTurnRemainder / 0x1.921fb54442d18p+0 > 0x1p-30);

[[gnu::always_inline]] inline Reduced Reduce(double theta) {
    if (theta < kQuarterPi) return {0, {theta, 0}};
    const auto bits = std::bit_cast<std::uint64_t>(theta);
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
    // theta = m 2^e exactly, m < 2^24, -24 <= e <= 27 (pi / 4 <= theta < 2^51).
    const auto m = static_cast<std::uint32_t>(mantissa >> kFloatDroppedBits);
    const int e = static_cast<int>(bits >> 52) - kExponentBias + kFloatDroppedBits;
    // m times the first 256 bits of 2 / pi: exact in 280 bits. The bits of
    // 2 / pi left out change theta * 2 / pi by less than m 2^(e - 256) <=
    // 2^-205.
    std::uint32_t product[11] = {};
    std::uint64_t carry = 0;
    for (int k = 0; k < 8; ++k) {
        const std::uint64_t sum = std::uint64_t{m} * sine_table::kTwoOverPi[7 - k] + carry;
        product[k] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
    }
    product[8] = static_cast<std::uint32_t>(carry);
    const int point = kTwoOverPiBits - e;  // theta * 2 / pi = product 2^-point, point in [229, 280]
    unsigned quadrant = static_cast<unsigned>(BitsFrom(product, point)) & 3;
    std::uint64_t f2 = BitsFrom(product, point - kWordBits);
    std::uint64_t f1 = BitsFrom(product, point - 2 * kWordBits);
    std::uint64_t f0 = BitsFrom(product, point - 3 * kWordBits);
    const bool negative = (f2 >> 63) != 0;  // f >= 1/2: take f - 1 and the next quadrant
    if (negative) {
        quadrant = (quadrant + 1) & 3;
        f0 = ~f0 + 1;
        f1 = ~f1 + (f0 == 0 ? 1 : 0);
        f2 = ~f2 + (f0 == 0 && f1 == 0 ? 1 : 0);
    }
    // 2^-29.55 <= |f| <= 1/2: its first bit is among f2's top 30 (above),
    // so f keeps at least 162 significant bits. (The shifts in two steps
    // stay defined where lead is 0.)
    const int lead = std::countl_zero(f2);
    const std::uint64_t top = f2 << lead | (f1 >> 1) >> (kWordBits - 1 - lead);
    const std::uint64_t next = f1 << lead | (f0 >> 1) >> (kWordBits - 1 - lead);
    // f's first 53 bits, exactly; then its next 64, rounded to a double:
    // the pair is within 2^-104.99 |f| of f (the tail's rounding, half an
    // ulp of a tail below 2^-52 |f|, is 2^-105 |f|; the bits past the 117th
    // add less than 2^-116 |f|).
    constexpr int kTailShift = kWordBits - kDoubleBits;
    const double head = static_cast<double>(top >> kTailShift) * PowerOfTwo(-kDoubleBits - lead);
    const double tail = static_cast<double>(top << kDoubleBits | next >> kTailShift) *
                        PowerOfTwo(-kDoubleBits - kWordBits - lead);
    // Times pi / 2 as a double-double: x within 2^-102.5 of its value,
    // relatively.
    const DoubleDouble x = Multiply(FastTwoSum(head, tail), sine_table::kHalfPi);
    return {quadrant, negative ? Negated(x) : x};
}

// The table entry nearest x and the t left over (tone/sine_phases.h).
[[gnu::always_inline]] inline Expansion<double> Expand(const Reduced &reduced) {
    const bool cosine = (reduced.quadrant & 1) != 0;
    const bool negativeX = reduced.x.hi < 0;
    const DoubleDouble x = negativeX ? Negated(reduced.x) : reduced.x;
    const int i = static_cast<int>(x.hi * 128 + 0.5);
    // x.hi - i / 128 is exact: both are multiples of x.hi's ulp, and the
    // difference is below 2^-7 <= x.hi (or i = 0).
    const DoubleDouble t = TwoSum(x.hi - i * 0x1p-7, x.lo);
    const sine_table::Entry &entry = kEntries[i];
    return {cosine ? entry.cosine : entry.sine, cosine ? Negated(entry.sine) : entry.cosine, t,
            (reduced.quadrant >= 2) != (negativeX && !cosine)};
}

// The double nearest to y + (an error within bound |y|), if every value in
// that range rounds to it. (bound covers the roundings of the test itself:
// y.lo +- e rounds by at most 2^-105 |y|.)
[[gnu::always_inline]] inline SineAttempt Round(DoubleDouble y, double bound, bool negate) {
    const double error = bound * std::fabs(y.hi);
    const double low = y.hi + (y.lo - error);
    const double high = y.hi + (y.lo + error);
    return {negate ? -low : low, low == high};
}

// The expansion of theta's sine, with theta's own sign folded in (the sine
// is odd); theta at least kTiny in magnitude.
[[gnu::always_inline]] inline Expansion<double> ExpandTheta(double theta) {
    Expansion<double> expansion = Expand(Reduce(std::fabs(theta)));
    expansion.negate = expansion.negate != (theta < 0);
    return expansion;
}

SineAttempt First(const Expansion<double> &expansion) {
    return Round(FirstPhase(expansion), kFirstPhaseBound, expansion.negate);
}
SineAttempt Second(const Expansion<double> &expansion) {
    return Round(SecondPhase(expansion), kSecondPhaseBound, expansion.negate);
}

bool IsFloatArgument(double theta) {
    return std::fabs(theta) < kLargest && static_cast<double>(static_cast<float>(theta)) == theta;
}

// The library on x86-64 builds this file twice: as it is, and once more
// with fused multiply-adds (tone/correctly_rounded_sine_fused.cpp), whose
// exact products are cheaper and give the same pairs. The first calls the
// second where the processor has them.
#if defined(QUILLOX_FUSED_SINE_COPY)
#define QUILLOX_SINE_ENTRY CorrectlyRoundedSineFused
#else
#define QUILLOX_SINE_ENTRY CorrectlyRoundedSine
#if defined(QUILLOX_X86_64_LOOPS) && !defined(__FMA__)
#define QUILLOX_SINE_DISPATCH

// A load and a bit test of what the runtime learnt of the processor at load
// time: no static of our own to set up inside a call.
bool HasFusedMultiplyAdd() { return __builtin_cpu_supports("fma"); }
#endif
#endif

}  // namespace

#if !defined(QUILLOX_FUSED_SINE_COPY)
SineAttempt SineFirstPhase(double theta) {
    return std::fabs(theta) < kTiny ? SineAttempt{theta, true} : First(ExpandTheta(theta));
}
SineAttempt SineSecondPhase(double theta) {
    return std::fabs(theta) < kTiny ? SineAttempt{theta, true} : Second(ExpandTheta(theta));
}
#endif

// The reduction and the table lookup are done once for both phases.
double QUILLOX_SINE_ENTRY(double theta) {
#if defined(QUILLOX_SINE_DISPATCH)
    if (HasFusedMultiplyAdd()) return CorrectlyRoundedSineFused(theta);
#endif
    if (!IsFloatArgument(theta)) return std::sin(theta);
    if (std::fabs(theta) < kTiny) return theta;
    const Expansion<double> expansion = ExpandTheta(theta);
    const SineAttempt first = First(expansion);
    // The second phase decides every float argument: proofs/exhaustive_sine
    // strict runs it on each (under ./build.sh proofs) and fails on one it
    // leaves open; its sample mode, in the test command, on every 17th.
    return first.decided ? first.value : Second(expansion).value;
}

}  // namespace quillox
