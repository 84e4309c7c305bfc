// Numbers as the unevaluated sum of two doubles, hi + lo with |lo| at most
// half an ulp of hi: about 106 bits. The error-free steps the reference sine
// builds on (Dekker, Knuth); each bound is relative to the exact result.
//
// Every operation must round to double: no excess precision (see
// tone/synthesis.h) and no contraction into fused multiply-adds except
// where written.
#pragma once

#include <cmath>

namespace quillox {

struct DoubleDouble {
    double hi;
    double lo;
};

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

// a + b, relative error below 2^-104 where they do not cancel (same signs,
// or |b| < |a| / 2 as everywhere they are used here).
inline DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble sum = TwoSum(a.hi, b.hi);
    return FastTwoSum(sum.hi, sum.lo + (a.lo + b.lo));
}

// a * b, relative error below 2^-103.
inline DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
    const DoubleDouble product = TwoProduct(a.hi, b.hi);
    return FastTwoSum(product.hi, product.lo + (a.hi * b.lo + a.lo * b.hi));
}

// a * b for a double b, relative error below 2^-104.
inline DoubleDouble Multiply(DoubleDouble a, double b) {
    const DoubleDouble product = TwoProduct(a.hi, b);
    return FastTwoSum(product.hi, product.lo + a.lo * b);
}

}  // namespace
}  // namespace quillox
