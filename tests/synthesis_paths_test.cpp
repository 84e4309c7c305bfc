// Every other sample loop against the reference loop, byte for byte: each
// fast loop of this build, and the loop with the C library's sine as a
// cross-check of the library's own. The fast loops send between 1 lane in
// 17,000 and 1 in 100,000 to the reference (bench/fallback_rate.cpp): over
// millions of samples each comparison also covers lanes the reference
// redoes, and where a loop would redo the wrong lane, its bytes differ.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "tone/synthesis.h"
#include "tone/wav_chunk.h"

namespace quillox {

// A loop prints as its name in test names and failures.
void PrintTo(const FastLoop &loop, std::ostream *out) { *out << loop.name; }

namespace test {
namespace {

// The last sample index of the longest tone the file sizes allow.
constexpr std::uint32_t kLastIndex = kMaxSeconds * kSampleRate - 1;

struct Stretch {
    std::int32_t frequencyHz;
    float amplitude;
    std::uint32_t first;
    std::uint32_t count;
};

// Frequencies, amplitudes and positions where loops go wrong if they do:
// silence, the extremes of the arguments, saturating amplitudes, theta near
// its largest, deep into the longest tone; counts that are not multiples of
// any vector width. About `samples` samples in all.
std::vector<Stretch> Stretches(std::uint64_t samples) {
    std::vector<std::int32_t> frequencies = {
        0,     1,         -1,        440,           1000,  -1000,   22050,
        44100, INT32_MAX, INT32_MIN, INT32_MIN + 1, 19999, 1 << 24, 16777217};
    std::mt19937 random(20261208);  // fixed, so that a failure repeats
    for (int k = 0; k < 4; ++k) frequencies.push_back(static_cast<std::int32_t>(random()));
    // 65536 is the largest amplitude that never saturates; 65537 and -65538
    // can. +-131072 (level 1310720) saturate and are powers of two: a form
    // of the loop of its own.
    const float amplitudes[] = {
        0, 1, -1, 2, -2, 3, 65536, 65537, -65538, 131072, -131072, 214748364.0f, -214748364.0f};
    // 140381796: where 19999 Hz first reaches kSmallThetaLimit (4e8), so
    // the fast loops change sines within the stretch; 7187189: where 2^24
    // Hz reaches kPlainLargeThetaLimit (2^34), so the loops without fused
    // multiply-adds change from the large-theta sine to the reference.
    const std::uint32_t starts[] = {0,
                                    441000 - 5,
                                    123456789,
                                    140381796 - 20000,
                                    7187189 - 1000,
                                    2147449499 - 40000,
                                    kLastIndex + 1};
    const std::uint64_t cases = frequencies.size() * std::size(amplitudes) * std::size(starts);
    const auto count = static_cast<std::uint32_t>(samples / cases) | 1;
    std::vector<Stretch> stretches;
    for (const std::int32_t frequencyHz : frequencies) {
        for (const float amplitude : amplitudes) {
            for (const std::uint32_t start : starts) {
                const std::uint32_t n = count - static_cast<std::uint32_t>(stretches.size() % 8);
                const std::uint32_t first = start == kLastIndex + 1 ? start - n : start;
                stretches.push_back({frequencyHz, amplitude, first, n});
            }
        }
    }
    return stretches;
}

// Compares `loop` with the reference over `stretches`; stores past a
// stretch's end are caught too.
void ExpectReferenceBytes(SynthesisLoop loop, const std::vector<Stretch> &stretches) {
    std::vector<std::uint8_t> expected;
    std::vector<std::uint8_t> actual;
    for (const Stretch &s : stretches) {
        expected.assign(2 * std::size_t{s.count}, 0);
        actual.assign(2 * std::size_t{s.count} + 16, 0xA5);
        SynthesizeReference({s.frequencyHz, s.amplitude, s.first, s.count, expected.data()});
        loop({s.frequencyHz, s.amplitude, s.first, s.count, actual.data()});
        ASSERT_EQ(std::memcmp(expected.data(), actual.data(), expected.size()), 0)
            << s.frequencyHz << " Hz, amplitude " << s.amplitude << ", from sample " << s.first;
        ASSERT_EQ(actual[expected.size()], 0xA5) << "stored past the end";
    }
}

// The loops to compare: the C library's, then every fast loop of the build.
std::vector<FastLoop> Loops() {
    std::vector<FastLoop> loops = {{"LibrarySine", [] { return true; }, SynthesizeLibrarySine}};
    for (const FastLoop &loop : FastLoops()) loops.push_back(loop);
    return loops;
}

class SynthesisPaths : public testing::TestWithParam<FastLoop> {};

TEST_P(SynthesisPaths, MatchTheReferenceLoop) {
    if (!GetParam().available()) GTEST_SKIP() << "this processor lacks the loop's instructions";
#if defined(_WIN32)
    if (GetParam().synthesize == SynthesizeLibrarySine) {
        GTEST_SKIP() << "mingw-w64's sine is not within 1 ulp for large arguments";
    }
#endif
    // 50 million samples a loop; a tenth of that under an emulator.
    const std::uint64_t samples = Emulator().empty() ? 50'000'000 : 5'000'000;
    ExpectReferenceBytes(GetParam().synthesize, Stretches(samples));
}

INSTANTIATE_TEST_SUITE_P(, SynthesisPaths, testing::ValuesIn(Loops()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace test
}  // namespace quillox
