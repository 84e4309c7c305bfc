// The reduction's constants and the two numbers its error bounds rest on,
// found by trying every float theta, and compared with src/tone/fast_sine.h:
//   - the smallest |theta - k pi|, k not 0, over every float below 2^51;
//   - the largest |k| / |theta - k pi| over every float below
//     kSmallThetaLimit;
//   - pi and 1/pi as the header splits and rounds them;
//   - for the reference sine (src/tone/correctly_rounded_sine.h), the
//     smallest |theta - k pi / 2| over every float in [pi / 4, 2^51) and
//     where it lies, the premise its reduction rests on.
// Prints what it finds; exits 1 if the headers say otherwise.
//
// Each binade holds the floats theta = m 2^e, 2^23 <= m < 2^24. With F the
// fraction bits of 2^e / pi (128 of them, from MPFR), m F modulo 2^128 is the
// fraction of theta / pi to within m 2^-128 < 2^-104: its distance to the
// nearest integer times pi is |theta - k pi|. Binades below 2 hold no
// theta with both k not 0 and |theta - k pi| < 1. The same with the fraction
// bits of 2^(e + 1) / pi gives theta's distance to multiples of pi / 2.
#include <bit>
#include <cmath>
#include <cstdint>  // before mpfr.h, for its intmax_t functions
#include <cstdio>
#include <initializer_list>

#include <mpfr.h>

#include "tone/correctly_rounded_sine.h"
#include "tone/fast_sine.h"

namespace {

__extension__ typedef unsigned __int128 Fixed;  // a fraction in units of 2^-128

using quillox::kInversePi;
using quillox::kPi1;

int failures = 0;

void Check(bool holds, const char *claim) {
    std::printf("  %s: %s\n", holds ? "holds" : "FAILS", claim);
    if (!holds) ++failures;
}

// The fraction of 2^e / pi, as 128 bits.
Fixed FractionOfPowerOverPi(int e) {
    mpfr_t value, whole;
    mpfr_inits2(512, value, whole, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(value, MPFR_RNDN);
    mpfr_ui_div(value, 1, value, MPFR_RNDN);
    mpfr_mul_2si(value, value, e, MPFR_RNDN);
    mpfr_frac(value, value, MPFR_RNDN);
    mpfr_mul_2ui(value, value, 64, MPFR_RNDN);
    mpfr_floor(whole, value);
    const Fixed high = mpfr_get_uj(whole, MPFR_RNDZ);
    mpfr_sub(value, value, whole, MPFR_RNDN);
    mpfr_mul_2ui(value, value, 64, MPFR_RNDN);
    const Fixed low = mpfr_get_uj(value, MPFR_RNDZ);
    mpfr_clears(value, whole, static_cast<mpfr_ptr>(nullptr));
    return high << 64 | low;
}

// value - the sum of parts, rounded to nearest double (parts exact in MPFR).
double Remainder(mpfr_srcptr value, std::initializer_list<double> parts) {
    mpfr_t rest;
    mpfr_init2(rest, 512);
    mpfr_set(rest, value, MPFR_RNDN);
    for (const double part : parts) mpfr_sub_d(rest, rest, part, MPFR_RNDN);
    const double result = mpfr_get_d(rest, MPFR_RNDN);
    mpfr_clear(rest);
    return result;
}

}  // namespace

int main() {
    std::printf("The constants of the reduction:\n");
    mpfr_t pi, inverse;
    mpfr_inits2(512, pi, inverse, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_ui_div(inverse, 1, pi, MPFR_RNDN);
    Check(kInversePi == mpfr_get_d(inverse, MPFR_RNDN), "kInversePi = RN(1/pi)");
    const double inverseError = std::fabs(Remainder(inverse, {kInversePi}));
    std::printf("  |RN(1/pi) - 1/pi| = %.4g = 2^%.2f\n", inverseError, std::log2(inverseError));
    Check(inverseError <= quillox::kInversePiError, "kInversePiError bounds it");
    Check(kPi1 == mpfr_get_d(pi, MPFR_RNDN), "kPi1 = RN(pi)");
    Check(quillox::kPi2 == Remainder(pi, {kPi1}), "kPi2 = RN(pi - kPi1)");
    Check(quillox::kPi3 == Remainder(pi, {kPi1, quillox::kPi2}), "kPi3 = RN(pi - kPi1 - kPi2)");
    const double tail = std::fabs(Remainder(pi, {kPi1, quillox::kPi2}));
    std::printf("  |pi - kPi1 - kPi2| = 2^%.2f\n", std::log2(tail));
    Check(tail <= quillox::kPiTailBeyond2, "kPiTailBeyond2 bounds it");
    // 25 bits each: k times either is exact while |k| < 2^27.
    const auto bits25 = [](double value) {
        return (std::bit_cast<std::uint64_t>(value) & ((std::uint64_t{1} << 28) - 1)) == 0;
    };
    Check(bits25(quillox::kPiA) && bits25(quillox::kPiB) && quillox::kPiA + quillox::kPiB == kPi1,
          "kPiA + kPiB = kPi1, 25 bits each");
    // Without fused multiply-adds past kSmallThetaLimit: pi's bits down to
    // 2^-18, 2^-38, 2^-51 and 2^-71, a part each, then RN of the rest.
    const auto truncated = [&](std::initializer_list<double> parts, int lowest) {
        mpfr_t rest;
        mpfr_init2(rest, 512);
        mpfr_set(rest, pi, MPFR_RNDN);
        for (const double part : parts) mpfr_sub_d(rest, rest, part, MPFR_RNDN);
        mpfr_mul_2si(rest, rest, lowest, MPFR_RNDN);
        mpfr_trunc(rest, rest);
        mpfr_div_2si(rest, rest, lowest, MPFR_RNDN);
        const double result = mpfr_get_d(rest, MPFR_RNDN);
        mpfr_clear(rest);
        return result;
    };
    using quillox::kPiC1, quillox::kPiC2, quillox::kPiC3, quillox::kPiC4, quillox::kPiC5;
    Check(kPiC1 == truncated({}, 18) && kPiC2 == truncated({kPiC1}, 38) &&
              kPiC3 == truncated({kPiC1, kPiC2}, 51) &&
              kPiC4 == truncated({kPiC1, kPiC2, kPiC3}, 71),
          "kPiC1 ... kPiC4 are pi's bits to 2^-18, 2^-38, 2^-51 and 2^-71");
    // k < 2^33 times each is exact: at most 20 bits.
    const auto bits20 = [](double value) {
        return (std::bit_cast<std::uint64_t>(value) & ((std::uint64_t{1} << 33) - 1)) == 0;
    };
    Check(bits20(kPiC1) && bits20(kPiC2) && bits20(kPiC3) && bits20(kPiC4),
          "each of 20 bits or fewer");
    Check(kPiC5 == Remainder(pi, {kPiC1, kPiC2, kPiC3, kPiC4}),
          "kPiC5 = RN(pi - kPiC1 - ... - kPiC4)");
    const double tailC4 = std::fabs(Remainder(pi, {kPiC1, kPiC2, kPiC3, kPiC4}));
    const double tailC5 = std::fabs(Remainder(pi, {kPiC1, kPiC2, kPiC3, kPiC4, kPiC5}));
    std::printf("  |pi - kPiC1 - ... - kPiC4| = 2^%.2f, and - kPiC5: 2^%.2f\n", std::log2(tailC4),
                std::log2(tailC5));
    Check(tailC4 <= quillox::kPiTailBeyondC4 && tailC5 <= quillox::kPiTailBeyondC5,
          "kPiTailBeyondC4 and kPiTailBeyondC5 bound them");
    mpfr_clears(pi, inverse, static_cast<mpfr_ptr>(nullptr));

    std::printf("Every float theta in [2, 2^51), binade by binade:\n");
    Fixed nearest = ~Fixed{0};  // the smallest distance of theta / pi to an integer
    double nearestTheta = 0;
    double largestRatio = 0;  // of |k| / |x| below kSmallThetaLimit
    double largestRatioTheta = 0;
    Fixed nearestSmall = ~Fixed{0};
    double nearestSmallTheta = 0;
    for (int e = -22; e <= 27; ++e) {
        const Fixed fraction = FractionOfPowerOverPi(e);
        const double scale = std::ldexp(1.0, e);
        for (std::uint64_t m = 1u << 23; m < (1u << 24); ++m) {
            const Fixed f = fraction * m;
            const Fixed distance = (f >> 127) != 0 ? -f : f;
            if (distance < nearest) {
                nearest = distance;
                nearestTheta = static_cast<double>(m) * scale;
            }
            const double theta = static_cast<double>(m) * scale;
            if (theta >= quillox::kSmallThetaLimit) continue;
            if (distance < nearestSmall) {
                nearestSmall = distance;
                nearestSmallTheta = theta;
            }
            // |k| / |x| = (theta / pi) / (pi distance): compared without the
            // constant factors, in doubles (a relative error of 2^-50 at most).
            const double ratio = theta / static_cast<double>(distance >> 64);
            if (ratio > largestRatio) {
                largestRatio = ratio;
                largestRatioTheta = theta;
            }
        }
    }
    const auto reduced = [](Fixed distance) {
        return std::ldexp(static_cast<double>(distance >> 64), -64) * M_PI;
    };
    const double smallest = reduced(nearest);
    std::printf("  smallest |theta - k pi| = %.4g = 2^%.2f at theta = %a\n", smallest,
                std::log2(smallest), nearestTheta);
    Check(quillox::kSmallestReduced <= smallest && smallest < 1.01 * quillox::kSmallestReduced,
          "kSmallestReduced is it, to two digits and from below");
    const double smallestSmall = reduced(nearestSmall);
    std::printf("  below kSmallThetaLimit: %.4g = 2^%.2f at theta = %a\n", smallestSmall,
                std::log2(smallestSmall), nearestSmallTheta);
    Check(nearestSmallTheta == quillox::kNearestToMultipleOfPi, "kNearestToMultipleOfPi is it");
    const double ratio = largestRatio * 0x1p64 / (M_PI * M_PI);
    std::printf("  largest |k| / |x| below kSmallThetaLimit = %.4g = 2^%.2f at theta = %a\n", ratio,
                std::log2(ratio), largestRatioTheta);
    Check(ratio <= quillox::kLargestKOverX && quillox::kLargestKOverX < 1.01 * ratio,
          "kLargestKOverX is it, to two digits and from above");
    Check(largestRatioTheta == quillox::kLargestKOverXTheta, "kLargestKOverXTheta is it");

    std::printf("Every float theta in [pi / 4, 2^51), for the reference sine:\n");
    Fixed nearestQuarter = ~Fixed{0};  // the smallest distance of theta * 2 / pi to an integer
    double nearestQuarterTheta = 0;
    for (int e = -24; e <= 27; ++e) {
        const Fixed fraction = FractionOfPowerOverPi(e + 1);
        const double scale = std::ldexp(1.0, e);
        for (std::uint64_t m = 1u << 23; m < (1u << 24); ++m) {
            const double theta = static_cast<double>(m) * scale;
            if (theta < M_PI / 4) continue;  // not reduced
            const Fixed f = fraction * m;
            const Fixed distance = (f >> 127) != 0 ? -f : f;
            if (distance < nearestQuarter) {
                nearestQuarter = distance;
                nearestQuarterTheta = theta;
            }
        }
    }
    const double smallestQuarter = reduced(nearestQuarter) / 2;
    std::printf("  smallest |theta - k pi / 2| = %.4g = 2^%.2f at theta = %a\n", smallestQuarter,
                std::log2(smallestQuarter), nearestQuarterTheta);
    Check(quillox::kSmallestQuarterTurnRemainder <= smallestQuarter &&
              smallestQuarter < 1.01 * quillox::kSmallestQuarterTurnRemainder,
          "kSmallestQuarterTurnRemainder is it, to two digits and from below");
    Check(nearestQuarterTheta == quillox::kNearestToQuarterTurn, "kNearestToQuarterTurn is it");
    return failures == 0 ? 0 : 1;
}
