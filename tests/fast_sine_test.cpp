// The error bounds the fast loops' certainty windows rest on: each fast sine
// and the reference's own, measured against MPFR on float arguments theta
// across the range each is given and on the floats nearest to multiples of
// pi, where the reduction loses the most; and the running theta against the
// reference's division. A coefficient or reduction step changed unsafely
// fails here before any sample differs, and so does a theta window narrowed
// below the running product's drift (RunningThetaIsTheReferenceTheta); a
// sine's window narrowed below its error budget fails to compile
// (CoveredByItsWindow in src/tone/fast_sine.h).
#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "scalar_fused_lanes.h"
#include "tone/correctly_rounded_sine.h"
#include "tone/fast_sine.h"
#include "tone/running_theta.h"
#include "tone/scalar_lanes.h"

namespace quillox::test {
namespace {

class RelativeError {
public:
    RelativeError() {
        mpfr_init2(exact_, 200);
        mpfr_init2(difference_, 200);
    }
    ~RelativeError() {
        mpfr_clear(exact_);
        mpfr_clear(difference_);
    }
    RelativeError(const RelativeError &) = delete;
    RelativeError &operator=(const RelativeError &) = delete;

    // |value - sin(theta)| / |sin(theta)| in units of 2^-53.
    double operator()(double theta, double value) {
        mpfr_set_d(exact_, theta, MPFR_RNDN);
        mpfr_sin(exact_, exact_, MPFR_RNDN);
        mpfr_sub_d(difference_, exact_, value, MPFR_RNDN);
        mpfr_div(difference_, difference_, exact_, MPFR_RNDN);
        return std::fabs(mpfr_get_d(difference_, MPFR_RNDN)) * 0x1p53;
    }

private:
    mpfr_t exact_;
    mpfr_t difference_;
};

// Floats log-uniform in [2^-20, top], the floats nearest to k pi (and
// their neighbours) for k from 1 to top / pi, and, of all floats below
// kSmallThetaLimit, those with the smallest |theta - k pi| and the largest
// |k| / |theta - k pi|.
std::vector<double> Arguments(double top) {
    std::vector<double> arguments = {kNearestToMultipleOfPi, kLargestKOverXTheta};
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> exponent(-20, std::log2(top));
    for (int n = 0; n < 400'000; ++n) {
        const float theta = static_cast<float>(std::exp2(exponent(random)));
        if (theta <= top) arguments.push_back(theta);
    }
    for (double k = 1; k * M_PI < top; k = std::floor(k * 1.07) + 1) {
        float theta = static_cast<float>(k * M_PI);
        for (int step = 0; step < 2; ++step) theta = std::nextafter(theta, 0.0f);
        for (int step = 0; step < 5; ++step) {
            if (theta <= top) arguments.push_back(theta);
            theta = std::nextafter(theta, INFINITY);
        }
    }
    return arguments;
}

// Each sine of the fast loops, and the reference's, over the arguments it
// is given: the measured error stays within the proven bound its window
// counts on.
TEST(FastSine, ErrorBoundsHold) {
    struct Sine {
        const char *name;
        double (*sine)(double);
        double top;  // the largest theta it is given
        double bound;
    };
    const Sine sines[] = {
        {"small theta, fused", SmallThetaSine::Sine<ScalarFusedLanes>, kSmallThetaLimit,
         SmallThetaSine::kBound},
        {"small theta, plain", SmallThetaSine::Sine<ScalarLanes>, kSmallThetaLimit,
         SmallThetaSine::kBound},
        {"large theta, fused", LargeThetaSine::Sine<ScalarFusedLanes>, kLargestTheta,
         LargeThetaSine::kBound},
        {"large theta, plain", LargeThetaSine::Sine<ScalarLanes>, kPlainLargeThetaLimit,
         LargeThetaSine::kBound},
        {"reference", CorrectlyRoundedSine, kLargestTheta, kReferenceSineError},
    };
    RelativeError error;
    std::map<double, std::vector<double>> arguments;  // by the largest theta
    for (const Sine &sine : sines) {
        if (!arguments.contains(sine.top)) arguments[sine.top] = Arguments(sine.top);
        double worst = 0;
        for (const double theta : arguments[sine.top]) {
            worst = std::max(worst, error(theta, sine.sine(theta)));
        }
        EXPECT_LE(worst, sine.bound) << sine.name;
        std::printf("%s: max error %.2f x 2^-53 |sin| (bound %g)\n", sine.name, worst, sine.bound);
    }
}

// The reductions without fused multiply-adds, each over every float theta
// it is given (from 1.5, below pi / 2, where k is 0 and x is theta), against
// theta - k pi in fixed point with 124 fraction bits: within the error
// their proofs give. Modulo 2^128: x is small, so the wrap of theta and
// k pi cancels, and the x found (53 bits, |x| > 2^-28) is exact there.
TEST(FastSine, PlainReductionsOverEveryFloat) {
    __extension__ typedef unsigned __int128 Fixed;
    __extension__ typedef __int128 SignedFixed;
    constexpr Fixed kPiFixed = Fixed{0x3243f6a8885a308d} << 64 | 0x313198a2e0370734;  // pi 2^124
    const struct {
        const char *name;
        double (*reduce)(double);
        float from;
        double to, bound;
    } reductions[] = {
        {"small theta",
         [](double theta) { return Reduce<ScalarLanes>(theta, SmallThetaSine::kPlainPiParts); },
         1.5f, kSmallThetaLimit, kPlainReductionError},
        {"large theta",
         [](double theta) { return Reduce<ScalarLanes>(theta, LargeThetaSine::kPlainPiParts); },
         static_cast<float>(kSmallThetaLimit), kPlainLargeThetaLimit, kPlainLargeReductionError},
    };
    for (const auto &reduction : reductions) {
        double worst = 0;
        for (auto bits = std::bit_cast<std::uint32_t>(reduction.from);; ++bits) {
            const float theta = std::bit_cast<float>(bits);
            if (theta >= reduction.to) break;
            const Fixed mantissa = (bits & 0x7FFFFF) | 0x800000;  // theta = mantissa 2^(e - 150)
            const unsigned shift = (bits >> 23) - 26;
            const double k = (theta * kInversePi + kRoundingShift) - kRoundingShift;
            const auto exact = static_cast<SignedFixed>((shift < 128 ? mantissa << shift : 0) -
                                                        static_cast<Fixed>(k) * kPiFixed);
            const double x = reduction.reduce(theta);
            const auto error = static_cast<SignedFixed>(x * 0x1p124) -
                               (static_cast<std::int64_t>(k) % 2 != 0 ? -exact : exact);
            worst =
                std::max(worst, std::fabs(static_cast<double>(error) / static_cast<double>(exact)));
        }
        EXPECT_LE(worst * 0x1p53, reduction.bound) << reduction.name;
        std::printf("%s: max error %.3f x 2^-53 |x|\n", reduction.name, worst * 0x1p53);
    }
}

// theta by a running product against the reference's division, over long
// runs of indices at many periods, anchored and advanced by the loop's own
// steps (AnchoredProduct, NextProduct) as the loop schedules them for
// blocks of 1, 8 and 32 samples: q stays within the drift the window
// counts on, and every lane the window passes has the reference's theta.
TEST(FastSine, RunningThetaIsTheReferenceTheta) {
    std::vector<std::int32_t> frequencies = {
        0,     1,     -1,    7,     440,     1000,      -1000,     11025,
        22050, 44100, 19999, 65537, 1 << 24, INT32_MAX, INT32_MIN, INT32_MIN + 1};
    std::mt19937 random(7);
    for (int k = 0; k < 8; ++k) frequencies.push_back(static_cast<std::int32_t>(random()));
    const std::uint32_t starts[] = {0, 441000, 123456789, 2147449499, 4294967295u - 400'000};
    std::uint64_t compared = 0, unsure = 0;
    for (const std::int32_t frequencyHz : frequencies) {
        const float period = kSamplesPerSecond / static_cast<float>(frequencyHz);
        const double c = PhasePerSample(period);
        for (const std::uint32_t start : starts) {
            for (const std::uint32_t block : {1u, 8u, 32u}) {
                const std::uint32_t span = block * kAnchorBlocks;
                for (std::uint32_t anchor = start; anchor - start < 200'000; anchor += span) {
                    for (std::uint32_t lane = 0; lane < block; ++lane) {
                        double q =
                            AnchoredProduct<ScalarLanes>(static_cast<double>(anchor) + lane, c);
                        for (std::uint32_t i = anchor + lane; i - anchor < span; i += block) {
                            if (i < anchor) break;  // past 2^32 - 1
                            const double exact =
                                static_cast<double>(i) * kPhaseFactor / static_cast<double>(period);
                            const auto ulps =
                                std::bit_cast<std::int64_t>(q) - std::bit_cast<std::int64_t>(exact);
                            ASSERT_LE(std::abs(ulps), kThetaDriftUlps)
                                << frequencyHz << " Hz, sample " << i;
                            bool laneUnsure = false;
                            const double theta = ThetaFromProduct<ScalarLanes>(q, laneUnsure);
                            if (laneUnsure) {
                                ++unsure;
                            } else {
                                ASSERT_EQ(theta, static_cast<float>(exact))
                                    << frequencyHz << " Hz, sample " << i;
                            }
                            ++compared;
                            q = NextProduct<ScalarLanes>(q, block * c);
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 70'000'000u);
    EXPECT_LT(unsure, compared / 100'000);
    std::printf("%llu indices, %llu sent to the reference\n",
                static_cast<unsigned long long>(compared), static_cast<unsigned long long>(unsure));
}

}  // namespace
}  // namespace quillox::test
