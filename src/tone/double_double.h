// Numbers as the unevaluated sum of two doubles, hi + lo with |lo| at most
// half an ulp of hi: about 106 bits. The error-free steps the reference sine
// builds on (Dekker, Knuth); each bound is relative to the exact result.
//
// Every operation must round to double: no excess precision (see
// tone/synthesis.h) and no contraction into fused multiply-adds except
// where written.
//
// The compound steps are templates over the arithmetic, so that
// proofs/phase_bounds.cpp can run them on values that carry error bounds;
// the library instantiates them for double only.
#pragma once

#include <cmath>

namespace quillox {

template <typename T>
struct Pair {
    T hi;
    T lo;
};
using DoubleDouble = Pair<double>;

namespace {  // NOLINT: internal linkage, so that no other build of these can stand in

// a + b exactly, for |a| >= |b| (or a = 0).
inline DoubleDouble FastTwoSum(double a, double b) {
    const double sum = a + b;
    return {sum, b - (sum - a)};
}

// a + b exactly, any order.
inline DoubleDouble TwoSum(double a, double b) {
    const double sum = a + b;
    const double bPart = sum - a;
    return {sum, (a - (sum - bPart)) + (b - bPart)};
}

// a * b exactly (where it neither overflows nor underflows): by a fused
// multiply-add where the processor has one, else by Dekker's splitting into
// halves of 26 bits, whose products are exact. Both give the same pair.
inline DoubleDouble TwoProduct(double a, double b) {
    const double product = a * b;
#if defined(__FMA__) || defined(__ARM_FEATURE_FMA)
    return {product, std::fma(a, b, -product)};
#else
    constexpr double kSplitter = 0x1p27 + 1;
    const double aScaled = kSplitter * a;
    const double aHigh = aScaled - (aScaled - a);
    const double aLow = a - aHigh;
    const double bScaled = kSplitter * b;
    const double bHigh = bScaled - (bScaled - b);
    const double bLow = b - bHigh;
    return {product, ((aHigh * bHigh - product) + aHigh * bLow + aLow * bHigh) + aLow * bLow};
#endif
}

// a's head standing alone for all of a: off by |a.lo|, at most 2^-53 |a|.
// (Where a step reads a.hi and a.lo together, it reads them as members.)
template <typename T>
inline T Head(Pair<T> a) {
    return a.hi;
}

template <typename T>
inline Pair<T> Negated(Pair<T> a) {
    return {-a.hi, -a.lo};
}

// a * b as an unnormalised pair: a.hi b.hi exactly, plus the cross terms
// rounded. a.lo b.lo is left out: below 2^-106 |a b|.
template <typename T>
inline Pair<T> CrossProduct(Pair<T> a, Pair<T> b) {
    const Pair<T> product = TwoProduct(a.hi, b.hi);
    return {product.hi, product.lo + (a.hi * b.lo + a.lo * b.hi)};
}

// a + b, relative error below 2^-104 where they do not cancel (same signs,
// or |b| < |a| / 2 as everywhere they are used here).
template <typename T>
inline Pair<T> Add(Pair<T> a, Pair<T> b) {
    const Pair<T> sum = TwoSum(a.hi, b.hi);
    return FastTwoSum(sum.hi, sum.lo + (a.lo + b.lo));
}

// a * b, relative error below 2^-103.
template <typename T>
inline Pair<T> Multiply(Pair<T> a, Pair<T> b) {
    const Pair<T> product = CrossProduct(a, b);
    return FastTwoSum(product.hi, product.lo);
}

// a * b for a single b, relative error below 2^-104.
template <typename T>
inline Pair<T> Multiply(Pair<T> a, T b) {
    const Pair<T> product = TwoProduct(a.hi, b);
    return FastTwoSum(product.hi, product.lo + a.lo * b);
}

}  // namespace
}  // namespace quillox
