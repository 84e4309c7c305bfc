// Every other sample loop against the reference loop, byte for byte: the
// vectorised ones, and the one with the library's own sine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tone/synthesis.h"
#include "tone/tone_settings.h"
#include "tone/wav_chunk.h"

namespace quillox {
namespace {

// The last sample index of the longest tone the file sizes allow.
constexpr std::uint32_t kLastIndex = kMaxSeconds * kSampleRate - 1;

class SynthesisPaths : public testing::TestWithParam<SynthesisPath> {};

TEST_P(SynthesisPaths, MatchTheReferenceLoop) {
    const SynthesisLoop loop = SynthesisLoopFor(GetParam());
    if (loop == nullptr) GTEST_SKIP() << "this build or processor lacks the loop";
#if defined(QUILLOX_PORTABLE_SINE)
    if (GetParam() == SynthesisPath::kScalarPortableSine) {
        GTEST_SKIP() << "the library's own sine is this build's reference: nothing to compare";
    }
#endif

    std::vector<std::int32_t> frequencies = {
        0,     1,     -1,        440,       -440,          1000,    -1000,   11025,
        22050, 44100, INT32_MAX, INT32_MIN, INT32_MIN + 1, 1 << 24, 16777217};
    std::mt19937 random(20261208);  // fixed, so that a failure repeats
    for (int k = 0; k < 8; ++k) frequencies.push_back(static_cast<std::int32_t>(random()));
    const std::int32_t levels[] = {0,  9,      -9,      10,     -10,       15,
                                   20, 655369, -655369, 655370, INT32_MAX, INT32_MIN};
    // Counts that are not multiples of the vector width exercise the tails.
    const std::uint32_t count = 19003;
    const std::uint32_t starts[] = {0, 441000 - 5, 123456789, 1'000'000'001,
                                    kLastIndex + 1 - count};

    std::vector<std::uint8_t> expected(2 * count + 16);
    std::vector<std::uint8_t> actual(expected.size());
    std::uint64_t compared = 0;
    for (const std::int32_t frequencyHz : frequencies) {
        for (const std::int32_t level : levels) {
            for (const std::uint32_t first : starts) {
                const std::uint32_t n = count - static_cast<std::uint32_t>(compared % 8);
                const SampleRun run = {frequencyHz, AmplitudeFromLevel(level), first, n, nullptr};
                std::fill(actual.begin(), actual.end(), 0xA5);  // catches stores past the end
                SampleRun reference = run;
                reference.out = expected.data();
                SynthesizeScalar(reference);
                SampleRun vector = run;
                vector.out = actual.data();
                loop(vector);
                ASSERT_EQ(std::memcmp(expected.data(), actual.data(), 2 * n), 0)
                    << frequencyHz << " Hz, level " << level << ", from sample " << first;
                ASSERT_EQ(actual[2 * n], 0xA5);
                compared += n;
            }
        }
    }
    EXPECT_GT(compared, 26'000'000u);  // per loop
}

INSTANTIATE_TEST_SUITE_P(, SynthesisPaths,
                         testing::Values(SynthesisPath::kScalarPortableSine, SynthesisPath::kAvx2,
                                         SynthesisPath::kAvx512),
                         [](const auto &info) -> std::string {
                             switch (info.param) {
                             case SynthesisPath::kScalarPortableSine: return "PortableSine";
                             case SynthesisPath::kAvx2: return "Avx2";
                             default: return "Avx512";
                             }
                         });

}  // namespace
}  // namespace quillox
