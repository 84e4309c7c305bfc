#include "tone/portable_sine.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace quillox {
namespace {

__extension__ typedef unsigned __int128 u128;
__extension__ typedef __int128 i128;

// The first 256 bits of 2/pi.
constexpr std::uint64_t kTwoOverPi[4] = {0xa2f9836e4e441529, 0xfc2757d1f534ddc0,
                                        0xdb6295993c439041, 0xfe5163abdebbc561};
// pi/2 as a sum of two doubles.
constexpr double kHalfPiHigh = 1.5707963267948966;
constexpr double kHalfPiLow = 6.123233995736766e-17;

// sin(x + y) and cos(x + y) for |x + y| <= pi/4, |y| tiny: the polynomial
// kernels of fdlibm (Sun Microsystems), errors below 1 ulp.
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
    int exponent = 0;
    const double mantissa = std::frexp(magnitude, &exponent);
    const auto m = static_cast<std::uint64_t>(std::ldexp(mantissa, 24));
    const int q = exponent - 24;  // -24 < q < 28

    // magnitude * 2/pi = (m * kTwoOverPi) * 2^(q - 256): the 280-bit product,
    // least significant limb first.
    std::uint64_t product[5] = {};
    u128 carry = 0;
    for (int k = 3; k >= 0; --k) {
        const u128 limb = static_cast<u128>(m) * kTwoOverPi[k] + carry;
        product[3 - k] = static_cast<std::uint64_t>(limb);
        carry = limb >> 64;
    }
    product[4] = static_cast<std::uint64_t>(carry);
    // The binary point sits at bit 256 - q. Take the two bits above it (the
    // quadrant) and the 128 below it (the fraction).
    const int shift = 128 - q;
    const auto bitsFrom = [&](int at) -> u128 {  // 128 bits from bit `at` up
        const int limb = at / 64, offset = at % 64;
        u128 value = static_cast<u128>(product[limb]) >> offset;
        if (limb + 1 < 5) value |= static_cast<u128>(product[limb + 1]) << (64 - offset);
        if (offset != 0 && limb + 2 < 5) value |= static_cast<u128>(product[limb + 2]) << (128 - offset);
        return value;
    };
    const u128 fraction = bitsFrom(shift);
    unsigned quadrant = static_cast<unsigned>(bitsFrom(shift + 128)) & 3;
    // Round to the nearest quadrant: the fraction becomes signed, in [-1/2, 1/2).
    quadrant = (quadrant + static_cast<unsigned>(fraction >> 127)) & 3;
    const auto signedFraction = static_cast<i128>(fraction);

    // r = fraction * pi/2 as a sum of two doubles.
    const double fHigh = std::ldexp(static_cast<double>(signedFraction), -128);
    const double fLow = std::ldexp(
        static_cast<double>(signedFraction - static_cast<i128>(std::ldexp(fHigh, 128))), -128);
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
