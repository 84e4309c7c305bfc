#include "tone/portable_sine.h"

#include <cfloat>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

// The kernels and the two-double arithmetic below need every operation
// rounded to double, not kept at x87 precision.
static_assert(FLT_EVAL_METHOD == 0, "the sine needs double arithmetic without excess precision");

namespace quillox {
namespace {

// The first 256 bits of 2/pi, most significant limb first.
constexpr std::uint32_t kTwoOverPi[8] = {0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0,
                                         0xdb629599, 0x3c439041, 0xfe5163ab, 0xdebbc561};
// Bits of the product m * 2/pi: 24 + 256 of them, in 32-bit limbs, least
// significant first, with room to spare above.
constexpr int kProductLimbs = 9;

// 2^n for -1022 <= n <= 1023, exactly.
double PowerOfTwo(int n) {
    const std::uint64_t bits = static_cast<std::uint64_t>(n + 1023) << 52;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// For a positive normal double d: d = MantissaOf(d) * 2^(ExponentOf(d) - 53),
// with 2^52 <= MantissaOf(d) < 2^53.
int ExponentOf(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return static_cast<int>(bits >> 52) - 1022;
}
std::uint64_t MantissaOf(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return (bits & ((std::uint64_t{1} << 52) - 1)) | std::uint64_t{1} << 52;
}

// A 128-bit integer as two 64-bit halves: plain 64-bit arithmetic, so that
// 32-bit targets compute exactly what 64-bit ones do.
struct Wide {
    std::uint64_t high;
    std::uint64_t low;
};

bool IsNegative(Wide value) { return (value.high >> 63) != 0; }

Wide Negate(Wide value) {
    const std::uint64_t low = ~value.low + 1;
    return {~value.high + (low == 0 ? 1 : 0), low};
}

Wide Subtract(Wide a, Wide b) {
    const std::uint64_t low = a.low - b.low;
    return {a.high - b.high - (a.low < b.low ? 1 : 0), low};
}

// The nonnegative `value`, below 2^128, rounded to the nearest double (ties
// to even), as a conversion from a 128-bit integer rounds.
double ToDouble(Wide value) {
    if (value.high == 0) return static_cast<double>(value.low);
    const int shift = std::countl_zero(value.high);
    // The leading 64 bits, the rest folded into a sticky lowest bit: rounding
    // them to 53 bits decides as rounding all 128 would.
    std::uint64_t top = value.high << shift;
    std::uint64_t rest = value.low;
    if (shift != 0) {
        top |= value.low >> (64 - shift);
        rest = value.low << shift;
    }
    if (rest != 0) top |= 1;
    return static_cast<double>(top) * PowerOfTwo(64 - shift);
}

// The integer value of a double d with |d| < 2^128 that is a whole number.
Wide FromWholeDouble(double d) {
    if (d < 0x1p64) return {0, static_cast<std::uint64_t>(d)};
    const int exponent = ExponentOf(d);  // d = bits * 2^(exponent - 53)
    const std::uint64_t bits = MantissaOf(d);
    const int shift = exponent - 53;  // 12..75
    if (shift >= 64) return {bits << (shift - 64), 0};
    return {bits >> (64 - shift), bits << shift};
}

// The signed `value` as the sum of two doubles, high + low, each rounded to
// nearest: high = value rounded, low = what is left of it, rounded.
void SplitToDoubles(Wide value, double &high, double &low) {
    const bool negative = IsNegative(value);
    const Wide magnitude = negative ? Negate(value) : value;
    high = ToDouble(magnitude);
    const Wide left = Subtract(magnitude, FromWholeDouble(high));
    low = IsNegative(left) ? -ToDouble(Negate(left)) : ToDouble(left);
    if (negative) {
        high = -high;
        low = -low;
    }
}

// 64 bits of `product` from bit `at` up; bits past the top are zero.
std::uint64_t BitsFrom(const std::uint32_t (&product)[kProductLimbs], int at) {
    const int limb = at / 32, offset = at % 32;
    const auto limbAt = [&](int k) -> std::uint64_t { return k < kProductLimbs ? product[k] : 0; };
    const std::uint64_t low = limbAt(limb) | limbAt(limb + 1) << 32;
    if (offset == 0) return low;
    return low >> offset | limbAt(limb + 2) << (64 - offset);
}
// pi/2 as a sum of two doubles.
constexpr double kHalfPiHigh = 1.5707963267948966;
constexpr double kHalfPiLow = 6.123233995736766e-17;

// sin(x + y) and cos(x + y) for |x + y| <= pi/4, |y| tiny: the polynomial
// kernels of fdlibm (k_sin.c, k_cos.c), errors below 1 ulp. Their
// coefficients and expressions come with this notice:
//
//   Copyright (C) 1993 by Sun Microsystems, Inc. All rights reserved.
//
//   Developed at SunPro, a Sun Microsystems, Inc. business.
//   Permission to use, copy, modify, and distribute this
//   software is freely granted, provided that this notice
//   is preserved.
double KernelSin(double x, double y) {
    constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                     S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                     S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double w = z * z;
    const double r = S2 + z * (S3 + z * S4) + z * w * (S5 + z * S6);
    const double v = z * x;
    if (y == 0) return x + v * (S1 + z * r);
    return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

double KernelCos(double x, double y) {
    constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                     C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                     C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double w = z * z;
    const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
    const double hz = 0.5 * z;
    const double one = 1.0 - hz;
    return one + (((1.0 - one) - hz) + (z * r - x * y));
}

// The exact product a * b as p + e (Dekker; needs contraction off).
void TwoProduct(double a, double b, double &p, double &e) {
    const auto split = [](double v, double &high, double &low) {
        const double c = 134217729.0 * v;  // 2^27 + 1
        high = c - (c - v);
        low = v - high;
    };
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    p = a * b;
    e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

}  // namespace

double PortableSine(double theta) {
    const double magnitude = std::fabs(theta);
    if (!(magnitude > 0.785398163397448279)) return KernelSin(theta, 0);  // within pi/4, or 0
    if (!(magnitude < 0x1p51)) return std::sin(theta);  // never from the tone loop

    // magnitude = m * 2^q exactly, with m an integer below 2^24 (a float).
    const int exponent = ExponentOf(magnitude);
    // A float's 24 bits: the 29 below them are 0.
    const std::uint64_t m = MantissaOf(magnitude) >> 29;
    const int q = exponent - 24;  // -24 <= q < 28

    // magnitude * 2/pi = (m * kTwoOverPi) * 2^(q - 256): the 280-bit product.
    // m < 2^24, so each partial product and its carry fit in 64 bits.
    std::uint32_t product[kProductLimbs] = {};
    std::uint64_t carry = 0;
    for (int k = 7; k >= 0; --k) {
        const std::uint64_t limb = m * kTwoOverPi[k] + carry;
        product[7 - k] = static_cast<std::uint32_t>(limb);
        carry = limb >> 32;
    }
    product[8] = static_cast<std::uint32_t>(carry);
    // The binary point sits at bit 256 - q. Take the two bits above it (the
    // quadrant) and the 128 below it (the fraction).
    const int shift = 128 - q;
    const Wide fraction = {BitsFrom(product, shift + 64), BitsFrom(product, shift)};
    unsigned quadrant = static_cast<unsigned>(BitsFrom(product, shift + 128)) & 3;
    // Round to the nearest quadrant: the fraction becomes signed, in [-1/2, 1/2)
    // (read as a two's complement number of 128 bits).
    quadrant = (quadrant + static_cast<unsigned>(fraction.high >> 63)) & 3;

    // r = fraction * pi/2 as a sum of two doubles.
    double fHigh, fLow;
    SplitToDoubles(fraction, fHigh, fLow);
    fHigh *= PowerOfTwo(-128);
    fLow *= PowerOfTwo(-128);
    double p, e;
    TwoProduct(fHigh, kHalfPiHigh, p, e);
    const double tail = e + (fHigh * kHalfPiLow + fLow * kHalfPiHigh);
    const double rHigh = p + tail;
    const double rLow = tail - (rHigh - p);

    double s = 0;
    switch (quadrant) {
    case 0: s = KernelSin(rHigh, rLow); break;
    case 1: s = KernelCos(rHigh, rLow); break;
    case 2: s = -KernelSin(rHigh, rLow); break;
    default: s = -KernelCos(rHigh, rLow); break;
    }
    return theta < 0 ? -s : s;
}

}  // namespace quillox
