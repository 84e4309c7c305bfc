// Sample values of the reference loop against known vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

std::vector<std::int16_t> Synthesize(std::int32_t frequencyHz, std::int32_t level,
                                     std::uint32_t first, std::uint32_t count) {
    std::vector<std::uint8_t> bytes(2 * std::size_t{count});
    // The level becomes an amplitude as the entry point makes it.
    SynthesizeReference({frequencyHz, AmplitudeFromLevel(level), first, count, bytes.data()});
    std::vector<std::int16_t> samples(count);
    for (std::uint32_t k = 0; k < count; ++k) {
        samples[k] = static_cast<std::int16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    }
    return samples;
}

struct Vector {
    std::int32_t frequencyHz;
    std::int32_t level;
    std::uint32_t first;
    std::vector<std::int16_t> expected;
};

TEST(Synthesis, KnownSampleVectors) {
    const std::vector<Vector> vectors = {
        {11025,
         10,
         0,
         {-1, 32767, -1, -32768, -1, 32767, -1, -32768, -1, 32767, -1, -32768, -1, 32767, 0}},
        {1000, 10, 0, {-1, 4652, 9210, 13582, 17679, 21417}},
        {1000, 15, 0, {-1, 4652, 9210, 13582, 17679, 21417}},  // 15 / 10 is 1 as well
        {1000, 10, 441000, {-1714, 3017, 7561}},  // ten seconds in: single-precision phase
        {1000, -10, 0, {-1, -4654, -9212, -13584, -17681, -21419}},
        {-1000, 10, 0, {-1, -4654, -9212, -13584, -17681, -21419}},
        {1000, 20, 0, {-1, 9305, 18422, 27165, -30178}},  // the fifth value wraps
        {22050, 10, 0, {-1, -1, -1, -1, -1, -1, -1, 0, -2, 0, -2}},
        // Past 65536 times full scale y leaves the 32-bit range and saturates.
        {11025, INT32_MAX, 0, {-1, -32768, 13690, -32767}},
        {11025, INT32_MIN, 0, {-1, -32767, -13690, -32768}},
    };
    for (const Vector &v : vectors) {
        SCOPED_TRACE(testing::Message()
                     << v.frequencyHz << " Hz, level " << v.level << ", from " << v.first);
        EXPECT_EQ(Synthesize(v.frequencyHz, v.level, v.first,
                             static_cast<std::uint32_t>(v.expected.size())),
                  v.expected);
    }
}

TEST(Synthesis, SilenceIsTheMidline) {
    // Levels -9..9 give amplitude 0 and frequency 0 an infinite period:
    // either way every sample is -1.
    const std::vector<std::int16_t> midline(4410, -1);
    for (std::int32_t level = -9; level <= 9; ++level)
        EXPECT_EQ(Synthesize(1000, level, 0, 4410), midline);
    EXPECT_EQ(Synthesize(0, 10, 0, 4410), midline);
    EXPECT_EQ(Synthesize(0, INT32_MAX, 2'000'000'000, 4410), midline);
}

TEST(Synthesis, FullScaleOverOneSecond) {
    const auto samples = Synthesize(1000, 10, 0, 44100);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 32766);
    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), -32768);
}

TEST(Synthesis, StretchesAgreeWithTheWholeTone) {
    // A sample depends on its index alone, not on where a stretch begins.
    const auto whole = Synthesize(440, 10, 0, 1000);
    const auto tail = Synthesize(440, 10, 700, 300);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + 700));
}

}  // namespace
}  // namespace quillox
