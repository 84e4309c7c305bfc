// Writes the reference sine's test cases with their expected values, from
// MPFR on the build machine, for reference_sine_test.cpp on every target
// (cross builds read the native build's file: they have no MPFR):
//   sine THETA SIN(THETA)                  sin correctly rounded, hex floats
//   sample FREQUENCY_HZ LEVEL INDEX VALUE  a sample of the formula with it
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include <mpfr.h>

#include "tone/sample_format.h"
#include "tone/sample_mapping.h"
#include "tone/tone_settings.h"

namespace {

mpfr_t exact;

double Sine(double theta) {
    mpfr_set_d(exact, theta, MPFR_RNDN);
    mpfr_sin(exact, exact, MPFR_RNDN);  // 53 bits, correctly rounded
    return mpfr_get_d(exact, MPFR_RNDN);
}

// The float nearest to `multiple` times mpfr's pi / `divisor`, and its two
// neighbours.
void NearMultiple(std::vector<float> &thetas, double multiple, unsigned divisor) {
    mpfr_const_pi(exact, MPFR_RNDN);
    mpfr_mul_d(exact, exact, multiple, MPFR_RNDN);
    mpfr_div_ui(exact, exact, divisor, MPFR_RNDN);
    const float nearest = mpfr_get_flt(exact, MPFR_RNDN);
    thetas.insert(thetas.end(),
                  {std::nextafter(nearest, 0.0f), nearest, std::nextafter(nearest, INFINITY)});
}

// Sample `index` of the tone, the formula's steps with MPFR's sine.
std::uint16_t Sample(std::int32_t frequencyHz, std::int32_t level, std::uint32_t index) {
    const float period = quillox::kSamplesPerSecond / static_cast<float>(frequencyHz);
    const double a = static_cast<double>(index) * quillox::kPhaseFactor;
    const float theta = static_cast<float>(a / static_cast<double>(period));
    const double amplitude = quillox::AmplitudeFromLevel(level);
    return quillox::SampleFromScaledSine(static_cast<float>(amplitude * Sine(theta)));
}

}  // namespace

int main() {
    mpfr_init2(exact, 53);
    std::vector<float> thetas = {
        0x1.47d0fep+34f,  // the float nearest a multiple of pi / 2 below 2^51
        0x1.47d0fep+35f,  // and of pi
        0x1p-149f,       0x1p-27f,       0x1.fffffep-27f, 0x1p-26f,
        0x1.000002p-26f, 0x1.921fb4p-1f, 0x1.921fb6p-1f,  // either side of pi / 4
        0x1.fffffep+50f,                                  // the largest float below 2^51
    };
    std::mt19937_64 random(20261209);  // fixed: the same cases on every run
    std::uniform_real_distribution<double> exponent(-30, 51);
    for (int k = 0; k < 30'000; ++k) {
        const float theta = static_cast<float>(std::exp2(exponent(random)));
        if (theta < 0x1p51f) thetas.push_back(theta);
    }
    for (double multiple = 1; multiple < 0x1p51; multiple = std::floor(multiple * 1.5) + 1) {
        NearMultiple(thetas, multiple, 2);
        NearMultiple(thetas, multiple, 4);
    }
    for (const float theta : thetas) {
        if (theta < 0x1p51f) std::printf("sine %a %a\n", double{theta}, Sine(theta));
    }
    // Requests where the library's earlier sine (within 1 ulp) gave another
    // sample than the correctly rounded one: frequency, level, index.
    const struct {
        std::int32_t frequencyHz, level;
        std::uint32_t index;
    } samples[] = {{19324, 147431, 929}, {11399, -131039, 4328}};
    for (const auto &s : samples) {
        std::printf("sample %d %d %u %d\n", s.frequencyHz, s.level, s.index,
                    static_cast<std::int16_t>(Sample(s.frequencyHz, s.level, s.index)));
    }
    mpfr_clear(exact);
    return 0;
}
