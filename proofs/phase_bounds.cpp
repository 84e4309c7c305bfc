// The reference sine's phase bounds (src/tone/sine_phases.h), derived by
// running the phases' own code on values that carry error bounds, for each
// table entry, sine and cosine, and t in small pieces of [-2^-8, 2^-8].
// Prints each phase's largest relative error and where it lies; exits 1 if
// kFirstPhaseBound or kSecondPhaseBound claims less than it needs.
//
// A value is known as |ideal| <= m and |computed - ideal| <= e. Each double
// operation rounds once, by at most u |computed result|; the sums and
// products of m and e are taken with rounding upward, so every bound is an
// upper bound. The ideal is the sine's own formula in real arithmetic:
//   - the error-free steps (TwoSum, FastTwoSum, TwoProduct) give a pair
//     whose sum is exact; its head's ideal is the head itself and its
//     tail's the rest, so errors carry through the tail alone;
//   - a head read alone (Head) stands for the whole pair: off by its tail;
//   - CrossProduct leaves out a.lo b.lo: counted here;
//   - each constant is off from its 1/k! by what MPFR finds, and the series
//     end with the largest k the phase reads: their remainders are counted
//     from it;
//   - the table's entries are off from sin(i / 128) and cos(i / 128) by
//     what MPFR finds; the reduction adds kReductionError (relatively).
// Taken as given, from the steps' own comments: FastTwoSum's larger
// operand comes first, and nothing underflows (|t| >= 2^-29, the terms'
// tails stay above 2^-1000).
#include <mpfr.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "tone/sine_phases.h"

namespace bounds {

constexpr double kU = 0x1p-53;

// What MPFR finds, rounded up to a double: |value - 1/k!| or the like.
double DistanceUp(mpfr_t exact, double hi, double lo) {
    mpfr_t d;
    mpfr_init2(d, 300);
    mpfr_sub_d(d, exact, hi, MPFR_RNDN);
    mpfr_sub_d(d, d, lo, MPFR_RNDN);
    mpfr_abs(d, d, MPFR_RNDN);
    const double up = mpfr_get_d(d, MPFR_RNDU);
    mpfr_clear(d);
    return up;
}

// The constants the phases may read, alone or as pairs: their distance
// from the 1/k! they stand for, and k. Reading one records its k.
struct Known {
    double error;
    int k;
};
std::map<double, Known> singles;
std::map<std::pair<double, double>, Known> pairs;
int largestEven = 0, largestOdd = 0;
bool unknownConstant = false;

void Use(int k) {
    int &largest = k % 2 == 0 ? largestEven : largestOdd;
    largest = std::max(largest, k);
}

void LearnConstants() {
    using namespace quillox::sine_table;
    const std::pair<int, double> single[] = {{6, kInverseFactorial6},    {7, kInverseFactorial7},
                                             {8, kInverseFactorial8},    {9, kInverseFactorial9},
                                             {10, kInverseFactorial10},  {11, kInverseFactorial11},
                                             {3, kInverseFactorial3.hi}, {4, kInverseFactorial4.hi},
                                             {5, kInverseFactorial5.hi}, {2, 0.5}};
    const std::pair<int, quillox::DoubleDouble> pair[] = {
        {3, kInverseFactorial3}, {4, kInverseFactorial4}, {5, kInverseFactorial5}, {2, {0.5, 0}}};
    mpfr_t inverse;
    mpfr_init2(inverse, 300);
    const auto inverseFactorial = [&](int k) {
        mpfr_fac_ui(inverse, static_cast<unsigned long>(k), MPFR_RNDN);
        mpfr_ui_div(inverse, 1, inverse, MPFR_RNDN);
    };
    for (const auto &[k, value] : single) {
        inverseFactorial(k);
        singles[value] = {DistanceUp(inverse, value, 0), k};
    }
    for (const auto &[k, value] : pair) {
        inverseFactorial(k);
        pairs[{value.hi, value.lo}] = {DistanceUp(inverse, value.hi, value.lo), k};
    }
    singles[0] = {0, 0};
    mpfr_clear(inverse);
}

struct Bounded {
    double m = 0;  // |ideal| <= m
    double e = 0;  // |computed - ideal| <= e

    static Bounded Exact(double m) { return {m, 0.0}; }
    Bounded() = default;
    Bounded(double m_, double e_) : m(m_), e(e_) {}
    // A constant written in the phase: one of the known ones.
    Bounded(double constant) {  // NOLINT: the phases mix constants in
        const auto found = singles.find(std::fabs(constant));
        if (found == singles.end()) {
            if (!unknownConstant) {
                std::printf("  FAILS: the phase reads a constant this program does not know: %a\n",
                            constant);
            }
            unknownConstant = true;
            return;
        }
        if (found->second.k != 0) Use(found->second.k);
        e = found->second.error;
        m = std::fabs(constant) + e;
    }
};

// One rounding of a result whose ideal is within m and whose operands'
// errors already put it off by d.
Bounded Rounded(double m, double d) { return {m, d + kU * (m + d)}; }
Bounded operator+(Bounded a, Bounded b) { return Rounded(a.m + b.m, a.e + b.e); }
Bounded operator-(Bounded a, Bounded b) { return a + b; }
Bounded operator-(Bounded a) { return a; }
Bounded operator*(Bounded a, Bounded b) {
    return Rounded(a.m * b.m, a.m * b.e + b.m * a.e + a.e * b.e);
}

using Pair = quillox::Pair<Bounded>;

// An exact pair from operands off by d in all and a head within h: the
// head is its own ideal, the tail (at most u h) carries d.
Pair ErrorFree(double h, double d) { return {Bounded::Exact(h), Bounded(kU * h + d, d)}; }
Pair TwoSum(Bounded a, Bounded b) {
    return ErrorFree((a.m + b.m + a.e + b.e) * (1 + kU), a.e + b.e);
}
Pair FastTwoSum(Bounded a, Bounded b) { return TwoSum(a, b); }
Pair TwoProduct(Bounded a, Bounded b) {
    return ErrorFree((a.m + a.e) * (b.m + b.e) * (1 + kU), a.m * b.e + b.m * a.e + a.e * b.e);
}
Bounded Head(Pair a) { return {a.hi.m + a.lo.m, a.hi.e + a.lo.m}; }
Pair CrossProduct(Pair a, Pair b) {
    Pair product = quillox::CrossProduct<Bounded>(a, b);
    const double dropped = a.lo.m * b.lo.m;
    product.lo = {product.lo.m + dropped, product.lo.e + dropped};
    return product;
}
// A constant pair: its head exact, its tail carrying its distance.
Pair Constant(quillox::DoubleDouble c) {
    const auto found = pairs.find({std::fabs(c.hi), std::fabs(c.lo)});
    if (found == pairs.end()) {
        if (!unknownConstant) {
            std::printf("  FAILS: the phase reads a pair this program does not know: %a + %a\n",
                        c.hi, c.lo);
        }
        unknownConstant = true;
        return {};
    }
    Use(found->second.k);
    const double d = found->second.error;
    return {Bounded::Exact(std::fabs(c.hi)), Bounded(std::fabs(c.lo) + d, d)};
}
Pair Add(quillox::DoubleDouble a, Pair b) { return quillox::Add<Bounded>(Constant(a), b); }

// sin(i / 128) or cos(i / 128) as the table holds it, off by what MPFR finds.
Pair Entry(quillox::DoubleDouble value, int i, bool sine) {
    mpfr_t exact;
    mpfr_init2(exact, 300);
    mpfr_set_ui(exact, static_cast<unsigned long>(i), MPFR_RNDN);
    mpfr_div_ui(exact, exact, 128, MPFR_RNDN);
    if (sine) {
        mpfr_sin(exact, exact, MPFR_RNDN);
    } else {
        mpfr_cos(exact, exact, MPFR_RNDN);
    }
    const double d = DistanceUp(exact, value.hi, value.lo);
    mpfr_clear(exact);
    return {Bounded::Exact(std::fabs(value.hi)), Bounded(std::fabs(value.lo) + d, d)};
}

// sin(a + t) or cos(a + t) at its smallest for |t| <= tau (rounded down),
// a = i / 128; for i = 0 the sine's t is at least tauLow.
double SmallestResult(int i, bool sine, double tauLow, double tau) {
    mpfr_t x;
    mpfr_init2(x, 300);
    mpfr_set_ui(x, static_cast<unsigned long>(i), MPFR_RNDN);
    mpfr_div_ui(x, x, 128, MPFR_RNDN);
    if (sine) {
        if (i == 0) {
            mpfr_set_d(x, tauLow, MPFR_RNDN);
        } else {
            mpfr_sub_d(x, x, tau, MPFR_RNDN);
        }
        mpfr_sin(x, x, MPFR_RNDD);
    } else {
        mpfr_add_d(x, x, tau, MPFR_RNDN);
        mpfr_cos(x, x, MPFR_RNDD);
    }
    const double smallest = mpfr_get_d(x, MPFR_RNDD);
    mpfr_clear(x);
    return smallest;
}

// tau^k / k!, rounded up: the first term a series leaves out.
double Remainder(double tau, int k) {
    double term = 1;
    for (int j = 1; j <= k; ++j) term = term * tau / j;
    return term;
}

struct Worst {
    double relative = 0;
    int i = 0;
    bool sine = true;
    double tau = 0;
    double rounding = 0, series = 0;
};

// The relative error of one phase over |t| in [tauLow, tau], as the pair's
// error plus the series' remainders, over the smallest result.
template <typename Phase>
void Measure(Phase phase, int i, bool sine, double tauLow, double tau, Worst &worst) {
    using quillox::sine_table::kEntries;
    const auto &entry = kEntries[i];
    largestEven = largestOdd = 0;
    const Pair lead = sine ? Entry(entry.sine, i, true) : Entry(entry.cosine, i, false);
    const Pair slope = sine ? Entry(entry.cosine, i, false) : Entry(entry.sine, i, true);
    const quillox::Expansion<Bounded> terms{
        lead, slope, {Bounded::Exact(tau), Bounded::Exact(kU * tau)}, false};
    const Pair y = phase(terms);
    const double leadM = lead.hi.m + lead.lo.m, slopeM = slope.hi.m + slope.lo.m;
    // cos t - 1 ends with t^largestEven, sin t - t with t^largestOdd; each
    // alternating series is off by less than its first term left out.
    const double series =
        leadM * Remainder(tau, largestEven + 2) + slopeM * Remainder(tau, largestOdd + 2);
    const double smallest = SmallestResult(i, sine, tauLow, tau);
    const double relative = (y.hi.e + y.lo.e + series) / smallest + quillox::kReductionError;
    if (relative > worst.relative) {
        worst = {relative, i, sine, tau, (y.hi.e + y.lo.e) / smallest, series / smallest};
    }
}

template <typename Phase>
Worst Derive(Phase phase) {
    Worst worst;
    constexpr double kLargestT = 0x1p-8 * (1 + 0x1p-40);  // "a hair more"
    constexpr int kPieces = 64;
    for (int i = 0; i < static_cast<int>(std::size(quillox::sine_table::kEntries)); ++i) {
        for (const bool sine : {true, false}) {
            if (i == 0 && sine) {
                // sin t alone: t = x >= 2^-29 (the reduction's premise; below
                // pi / 4, x = theta >= 2^-26), in pieces 2^(1/16) apart.
                for (double tau = 0x1p-29; tau < kLargestT; tau *= 0x1.0b5586cf9890fp+0) {
                    Measure(phase, i, sine, tau, std::min(tau * 0x1.0b5586cf9890fp+0, kLargestT),
                            worst);
                }
                continue;
            }
            for (int piece = 1; piece <= kPieces; ++piece) {
                Measure(phase, i, sine, 0, kLargestT * piece / kPieces, worst);
            }
        }
    }
    return worst;
}

int failures = 0;

void Report(const char *name, const Worst &worst, double claimed, const char *constant) {
    std::printf(
        "%s: error <= 2^%.2f of the result (roundings, constants and table 2^%.2f, "
        "series' remainders 2^%.2f, reduction 2^%.2f), largest at i = %d, %s, |t| <= "
        "%a\n",
        name, std::log2(worst.relative), std::log2(worst.rounding), std::log2(worst.series),
        std::log2(quillox::kReductionError), worst.i, worst.sine ? "sine" : "cosine", worst.tau);
    // Round's own test: the bound is scaled by the head, not the pair
    // (within 2^-52), and y.lo -+ that rounds by up to 2^-105 |y|.
    const bool covers = claimed * (1 - 0x1p-52) >= worst.relative * (1 + 0x1p-52) + 0x1p-105;
    std::printf("  %s: %s = 2^%.0f covers it with Round's own roundings\n",
                covers ? "holds" : "FAILS", constant, std::log2(claimed));
    // The margin stays small: a looser claim sends more arguments on to the
    // next phase, or to none.
    const bool tight = claimed <= worst.relative * 8;
    std::printf("  %s: and claims at most 3 bits more\n", tight ? "holds" : "FAILS");
    if (!covers || !tight) ++failures;
}

}  // namespace bounds

int main() {
    using namespace bounds;
    LearnConstants();
    std::fesetround(FE_UPWARD);
    const Worst first = Derive([](const auto &s) { return quillox::FirstPhase<Bounded>(s); });
    const Worst second = Derive([](const auto &s) { return quillox::SecondPhase<Bounded>(s); });
    std::fesetround(FE_TONEAREST);
    Report("first phase", first, quillox::kFirstPhaseBound, "kFirstPhaseBound");
    Report("second phase", second, quillox::kSecondPhaseBound, "kSecondPhaseBound");
    if (unknownConstant) ++failures;
    return failures == 0 ? 0 : 1;
}
