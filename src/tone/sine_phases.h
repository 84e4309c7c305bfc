// The reference sine's two phases (tone/correctly_rounded_sine.cpp): the
// sine or cosine of a table angle plus a small t, first in about 66 bits,
// then, where that leaves the rounding open, in about 100.
//
// They are templates over the arithmetic so that proofs/phase_bounds.cpp
// can run them on values that carry error bounds, over every table entry
// and every t, and derive kFirstPhaseBound and kSecondPhaseBound; the
// library runs them on doubles only. The budgets below are what that
// program prints.
#pragma once

#include "tone/double_double.h"
#include "tone/sine_table.h"

namespace quillox {

// sin(theta) for theta = quadrant * pi / 2 + x, x = a + t with a = i / 128
// the nearest table angle (|t| <= 2^-8, a hair more):
//   sin(a + t) = S + C t + S (cos t - 1) + C (sin t - t)
//   cos(a + t) = C - S t + C (cos t - 1) - S (sin t - t)
// with S = sin a, C = cos a from the table. The odd quadrants take the
// cosine: `lead` is S or C, `slope` C or -S.
template <typename T>
struct Expansion {
    Pair<T> lead;
    Pair<T> slope;
    Pair<T> t;
    bool negate;  // the result's sign
};

// The reduction's error, relative to x (tone/correctly_rounded_sine.cpp,
// Reduce): 2^-102.5. It moves sin x or cos x by at most as much relatively,
// since |x cot x| and |x tan x| are below 1 for |x| <= pi / 4.
inline constexpr double kReductionError = 0x1.6a09e667f3bcdp-103;

namespace {  // NOLINT: internal linkage, as the steps they are made of

// The first phase: the table's terms in double-double, the series terms in
// double from t's head: cos t - 1 to t^6 and sin t - t to t^7 (the next
// terms, t^8 / 8! and t^9 / 9! for |t| <= 2^-8, are below 2^-79 and 2^-90
// absolute, about 2^-82.5 |t| and 2^-90 |t| for the larger |t|).
// The series terms are at most 2^-16 of the result (at i = 1 with t near
// -2^-8) and within 2^-50 of their own value; the table's terms within
// 2^-104. Error below 2^-65.48 of the result, largest at i = 1 with t near
// -2^-8, where the terms' errors add while the terms partly cancel
// (proofs/phase_bounds.cpp); the first phase claims 2^-63.
inline constexpr double kFirstPhaseBound = 0x1p-63;

template <typename T>
[[gnu::always_inline]] inline Pair<T> FirstPhase(const Expansion<T> &s) {
    using namespace sine_table;
    const T t = Head(s.t);  // the series need no more of t
    const T z = t * t;
    const T cosMinusOne = z * (-0.5 + z * (kInverseFactorial4.hi - z * kInverseFactorial6));
    const T sinMinusT =
        t * z * (-kInverseFactorial3.hi + z * (kInverseFactorial5.hi - z * kInverseFactorial7));
    const Pair<T> linear = CrossProduct(s.slope, s.t);
    const T series = Head(s.lead) * cosMinusOne + Head(s.slope) * sinMinusT;
    const Pair<T> sum = TwoSum(s.lead.hi, linear.hi);
    return FastTwoSum(sum.hi, sum.lo + (s.lead.lo + linear.lo + series));
}

// The second phase: everything in double-double, cos t - 1 to t^10 and
// sin t - t to t^11 (the next terms are below 2^-124 and 2^-136 absolute,
// about 2^-128.5 |t| and 2^-136 |t|), the coefficients past 1/5! in double,
// where their terms need no more. Error below 2^-100.93 of the result with
// the reduction's 2^-102.5, largest at i = 1 with t near -2^-8
// (proofs/phase_bounds.cpp); the second phase claims 2^-98.
inline constexpr double kSecondPhaseBound = 0x1p-98;

template <typename T>
inline Pair<T> SecondPhase(const Expansion<T> &s) {
    using namespace sine_table;
    const Pair<T> z = Multiply(s.t, s.t);
    // cos t - 1 = z (-1/2 + z (1/4! - z (1/6! - z (1/8! - z / 10!))))
    const T cosInner =
        kInverseFactorial6 - Head(z) * (kInverseFactorial8 - Head(z) * kInverseFactorial10);
    const Pair<T> cosMiddle = Add(kInverseFactorial4, Multiply(z, -cosInner));
    const Pair<T> cosMinusOne = Multiply(z, Add({-0.5, 0}, Multiply(z, cosMiddle)));
    // sin t - t = t z (-1/3! + z (1/5! - z (1/7! - z (1/9! - z / 11!))))
    const T sinInner =
        kInverseFactorial7 - Head(z) * (kInverseFactorial9 - Head(z) * kInverseFactorial11);
    const Pair<T> sinMiddle = Add(kInverseFactorial5, Multiply(z, -sinInner));
    const Pair<T> sinMinusT =
        Multiply(Multiply(s.t, z), Add(Negated(kInverseFactorial3), Multiply(z, sinMiddle)));
    const Pair<T> series = Add(Multiply(s.lead, cosMinusOne), Multiply(s.slope, sinMinusT));
    return Add(Add(s.lead, Multiply(s.slope, s.t)), series);
}

}  // namespace
}  // namespace quillox
