// The fast sines' error budgets (src/tone/fast_sine.h), checked:
//   - the coefficients and approximation errors against what
//     proofs/sine_coefficients.sollya printed (the file given as argument);
//   - the evaluation's rounding errors, bounded here by running the
//     header's own OddPolynomial on values that carry a bound on their
//     magnitude and on their error, in both of its forms.
// Prints each bound; exits 1 if the header claims less.
//
// A value is known as |exact| <= m and |computed - exact| <= e, where exact
// is the polynomial evaluated without rounding on the same x. An operation
// on such values rounds once, by at most u |computed result|, and the sums
// and products of m and e are taken with rounding upward, so every bound
// printed is an upper bound.
//
// All terms grow with |x| at least as fast as |x| does, while sin(x) / x
// shrinks: the error relative to sin(x) is largest at the largest |x|,
// which the program confirms on a grid.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tone/fast_sine.h"

namespace {

constexpr double kU = 0x1p-53;

struct Bounded {
    double m;  // |exact| <= m
    double e;  // |computed - exact| <= e
};

// Rounds once: the error of a result whose exact value is within m and
// whose operands' errors already make it off by d.
Bounded Rounded(double m, double d) { return {m, d + kU * (m + d)}; }

template <bool kFused>
struct BoundedLanes {
    using Doubles = Bounded;
    static constexpr bool kFusedMultiplyAdd = kFused;
    static Bounded Splat(double value) { return {std::fabs(value), 0}; }
    static Bounded Add(Bounded a, Bounded b) { return Rounded(a.m + b.m, a.e + b.e); }
    static Bounded Sub(Bounded a, Bounded b) { return Add(a, b); }
    static Bounded Mul(Bounded a, Bounded b) {
        return Rounded(a.m * b.m, a.m * b.e + b.m * a.e + a.e * b.e);
    }
    static Bounded MulAdd(Bounded a, Bounded b, Bounded c) {
        return Rounded(a.m * b.m + c.m, a.m * b.e + b.m * a.e + a.e * b.e + c.e);
    }
    static Bounded NegMulAdd(Bounded a, Bounded b, Bounded c) { return MulAdd(a, b, c); }
};

int failures = 0;

void Check(bool holds, const std::string &claim) {
    std::printf("  %s: %s\n", holds ? "holds" : "FAILS", claim.c_str());
    if (!holds) ++failures;
}

// The evaluation error at |x| = limit relative to sin(limit), in units of u,
// and whether smaller |x| on a grid stay below it.
template <bool kFused, std::size_t N>
double EvaluationError(double limit, const double (&coefficients)[N], bool &largestAtLimit) {
    const auto relative = [&](double x) {
        const Bounded s = quillox::OddPolynomial<BoundedLanes<kFused>>(Bounded{x, 0}, coefficients);
        return s.e / (std::sin(x) * (1 - 0x1p-50)) / kU;
    };
    const double atLimit = relative(limit);
    largestAtLimit = true;
    for (double x = 0x1p-30; x < limit; x *= 1.01) largestAtLimit &= relative(x) <= atLimit;
    return atLimit;
}

// What sine_coefficients.sollya printed: name -> values.
std::map<std::string, std::vector<double>> ReadSollya(const char *path) {
    std::map<std::string, std::vector<double>> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, value;
        if (fields >> name >> value) values[name].push_back(std::strtod(value.c_str(), nullptr));
    }
    return values;
}

template <typename Sine, bool kPlainToo>
void CheckSine(const char *name, double reducedLimit,
               std::map<std::string, std::vector<double>> &sollya) {
    std::printf("%s:\n", name);
    const std::string prefix = name;
    const std::vector<double> &coefficients = sollya[prefix + ".kCoefficients"];
    bool same = coefficients.size() == std::size(Sine::kCoefficients);
    for (std::size_t j = 0; same && j < coefficients.size(); ++j) {
        same = coefficients[j] == Sine::kCoefficients[j];
    }
    Check(same, "kCoefficients are the ones Sollya gives");
    const std::vector<double> &approximation = sollya[prefix + ".kApproximationError"];
    if (approximation.size() == 1) {
        std::printf("  approximation error <= %.4f (Sollya)\n", approximation[0]);
        Check(approximation[0] <= Sine::kApproximationError &&
                  Sine::kApproximationError <= approximation[0] * 1.001 + 0.01,
              "kApproximationError is it, rounded up");
    } else {
        Check(false, "Sollya gave one approximation error");
    }
    // Every form this sine is evaluated in: the larger error counts.
    std::fesetround(FE_UPWARD);
    bool fusedLargest = false, plainLargest = true;
    const double fused = EvaluationError<true>(reducedLimit, Sine::kCoefficients, fusedLargest);
    double plain = 0;
    if constexpr (kPlainToo) {
        plain = EvaluationError<false>(reducedLimit, Sine::kCoefficients, plainLargest);
    }
    std::fesetround(FE_TONEAREST);
    std::printf("  evaluation error <= %.4f with fused multiply-adds", fused);
    if (kPlainToo) std::printf(", %.4f without", plain);
    std::printf("\n");
    Check(fusedLargest && plainLargest, "largest at the largest |x|");
    const double evaluation = std::max(fused, plain);
    Check(
        evaluation <= Sine::kEvaluationError && Sine::kEvaluationError <= evaluation * 1.001 + 0.1,
        "kEvaluationError bounds it, to a tenth");
    std::printf("  bound: %.2f + %.2f + %.2f = %.2f <= kBound = %g\n", Sine::kApproximationError,
                Sine::kEvaluationError, Sine::kReductionError,
                Sine::kApproximationError + Sine::kEvaluationError + Sine::kReductionError,
                Sine::kBound);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sine_bounds SOLLYA_OUTPUT\n");
        return 64;
    }
    auto sollya = ReadSollya(argv[1]);
    // Both sines run with and without fused multiply-adds.
    CheckSine<quillox::SmallThetaSine, true>("SmallThetaSine", quillox::kSmallReducedLimit, sollya);
    CheckSine<quillox::LargeThetaSine, true>("LargeThetaSine", quillox::kLargeReducedLimit, sollya);
    return failures == 0 ? 0 : 1;
}
