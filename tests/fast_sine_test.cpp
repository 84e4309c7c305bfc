// The error bounds the fast loops' certainty window rests on, measured
// against MPFR: the fast sine with and without fused multiply-adds, and the
// reference's own sine, on float arguments theta across the tone loop's
// range and on the floats nearest to multiples of pi, where the reduction
// loses the most. A coefficient or reduction step changed unsafely fails
// here before any sample differs.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tone/fast_loop.h"
#include "tone/portable_sine.h"
#include "tone/scalar_lanes.h"

namespace quillox::test {
namespace {

// The bounds, in units of 2^-53 |sin(theta)|, that the window in
// fast_loop.h counts on.
constexpr double kFusedBound = 6;
constexpr double kPlainBound = 7;
constexpr double kReferenceBound = 2;  // 1 ulp

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

// Floats log-uniform in [2^-20, top], and the floats nearest to k pi (and
// their neighbours) for k from 1 to top / pi.
std::vector<double> Arguments(double top) {
    std::vector<double> arguments;
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

TEST(FastSine, ErrorBoundsHold) {
    RelativeError error;
    double fused = 0, plain = 0, reference = 0;
    for (const double theta : Arguments(0x1p50)) {
        fused = std::max(fused, error(theta, FastSine<ScalarFusedLanes>(theta)));
        reference = std::max(reference, error(theta, PortableSine(theta)));
        // Without fused multiply-adds the loop takes only theta below the limit.
        if (theta < kCodyWaiteLimit)
            plain = std::max(plain, error(theta, FastSine<ScalarLanes>(theta)));
    }
    EXPECT_LE(fused, kFusedBound);
    EXPECT_LE(plain, kPlainBound);
    EXPECT_LE(reference, kReferenceBound);
    // The window covers both sines' bounds and the two roundings of w, in
    // ulps of w (one ulp of w is at least 2^-53 |w|), with a margin.
    EXPECT_GE(static_cast<double>(kWindow),
              4 * (std::max(kFusedBound, kPlainBound) + kReferenceBound + 2));
    std::printf("max error in 2^-53 |sin|: fused %.2f, plain %.2f, reference %.2f\n", fused, plain,
                reference);
}

// The quotient without a division (Markstein's correction) against a true
// division, over long runs of indices at many periods: it must be the same
// double every time, or theta would differ.
TEST(FastSine, QuotientIsTheDivision) {
    std::vector<std::int32_t> frequencies = {1,     -1,      7,         440,       1000,
                                             -1000, 11025,   22050,     44100,     19999,
                                             65537, 1 << 24, INT32_MAX, INT32_MIN, INT32_MIN + 1};
    std::mt19937 random(7);
    for (int k = 0; k < 9; ++k) frequencies.push_back(static_cast<std::int32_t>(random()));
    const std::uint32_t starts[] = {0, 441000, 123456789, 2147449499, 4294967295u - 400'000};
    std::uint64_t compared = 0;
    for (const std::int32_t frequencyHz : frequencies) {
        const float period = kSamplesPerSecond / static_cast<float>(frequencyHz);
        const double p = period;
        const double reciprocal = 1.0 / p;
        for (const std::uint32_t start : starts) {
            for (std::uint32_t i = start; i - start < 400'000 && i >= start; ++i) {
                const double a = static_cast<double>(i) * kPhaseFactor;
                const double q = Quotient<ScalarFusedLanes>(a, p, reciprocal, p);
                ASSERT_EQ(q, a / p) << frequencyHz << " Hz, sample " << i;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 40'000'000u);
}

}  // namespace
}  // namespace quillox::test
