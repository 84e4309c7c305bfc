// Every other sample loop against the reference loop, byte for byte: the
// fast loops (each with its certainty checks, and once more with every
// sample sent to the fallback), and the loop with the C library's sine as a
// cross-check of the library's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "tone/synthesis.h"
#include "tone/wav_chunk.h"

namespace quillox::test {
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
    // 65536 is the largest amplitude that never saturates; 65537 and -65538 can.
    const float amplitudes[] = {
        0, 1, -1, 2, -2, 3, 65536, 65537, -65538, 214748364.0f, -214748364.0f};
    const std::uint32_t starts[] = {0, 441000 - 5, 123456789, 2147449499 - 40000, kLastIndex + 1};
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

class SynthesisPaths : public testing::TestWithParam<SynthesisPath> {};

TEST_P(SynthesisPaths, MatchTheReferenceLoop) {
    const SynthesisLoop loop = SynthesisLoopFor(GetParam());
    if (loop == nullptr) GTEST_SKIP() << "this build or processor lacks the loop";
#if defined(_WIN32)
    if (GetParam() == SynthesisPath::kLibrarySine) {
        GTEST_SKIP() << "mingw-w64's sine is not within 1 ulp for large arguments";
    }
#endif
    // 50 million samples a loop; a tenth of that under an emulator.
    const std::uint64_t samples = Emulator().empty() ? 50'000'000 : 5'000'000;
    ExpectReferenceBytes(loop, Stretches(samples));
    if (GetParam() != SynthesisPath::kLibrarySine) {
        // The fallback's own path, for every sample of a shorter run.
        ForceFallbackForTesting(true);
        ExpectReferenceBytes(loop, Stretches(samples / 100));
        ForceFallbackForTesting(false);
    }
}

INSTANTIATE_TEST_SUITE_P(, SynthesisPaths,
                         testing::Values(SynthesisPath::kLibrarySine, SynthesisPath::kFastScalar,
                                         SynthesisPath::kSse2, SynthesisPath::kAvx2,
                                         SynthesisPath::kAvx512, SynthesisPath::kNeon),
                         [](const auto &info) -> std::string {
                             switch (info.param) {
                             case SynthesisPath::kLibrarySine: return "LibrarySine";
                             case SynthesisPath::kFastScalar: return "FastScalar";
                             case SynthesisPath::kSse2: return "Sse2";
                             case SynthesisPath::kAvx2: return "Avx2";
                             case SynthesisPath::kAvx512: return "Avx512";
                             default: return "Neon";
                             }
                         });

}  // namespace
}  // namespace quillox::test
