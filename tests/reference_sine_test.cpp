// The reference sine on this target against MPFR's sine rounded to nearest,
// bit for bit: the cases and values sine_cases wrote on the build machine
// (random floats across the whole range, the floats nearest multiples of
// pi / 2 and pi / 4, the hardest reductions, tiny values, each with its
// negation), and samples of requests the earlier sine rounded otherwise.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "tone/correctly_rounded_sine.h"
#include "tone/sample_format.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

TEST(ReferenceSine, IsMpfrsSineRoundedToNearest) {
    std::ifstream cases(QUILLOX_SINE_CASES);
    int sines = 0, samples = 0;
    for (std::string line; std::getline(cases, line);) {
        std::istringstream fields(line);
        std::string kind, theta, expected;
        fields >> kind;
        if (kind == "sine" && fields >> theta >> expected) {
            const double x = std::stod(theta), sine = std::stod(expected);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(CorrectlyRoundedSine(x)),
                      std::bit_cast<std::uint64_t>(sine))
                << "sin(" << theta << ")";
            ASSERT_EQ(CorrectlyRoundedSine(-x), -sine) << "sin(-" << theta << ")";
            ++sines;
        } else if (kind == "sample") {
            std::int32_t frequencyHz = 0, level = 0, value = 0;
            std::uint32_t index = 0;
            fields >> frequencyHz >> level >> index >> value;
            const float period = kSamplesPerSecond / static_cast<float>(frequencyHz);
            EXPECT_EQ(static_cast<std::int16_t>(
                          ReferenceSample(period, AmplitudeFromLevel(level), index)),
                      value)
                << frequencyHz << " Hz, level " << level << ", sample " << index;
            ++samples;
        }
    }
    if (sines == 0) GTEST_SKIP() << "no cases in " << QUILLOX_SINE_CASES << ": build the ci preset";
    EXPECT_GE(sines, 30'000);
    EXPECT_EQ(samples, 2);
}

}  // namespace
}  // namespace quillox
