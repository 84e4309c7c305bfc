// How often the fast loop cannot decide a sample and asks the reference:
// the share of lanes redone in a minute of each of a dozen tones, with and
// without fused multiply-adds (the plain C++ lanes, eight samples a block,
// counted as they are redone). `./build.sh bench` prints it.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "../tests/scalar_fused_lanes.h"
#include "tone/fast_loop.h"
#include "tone/scalar_lanes.h"
#include "tone/tone_settings.h"

namespace {

using quillox::ScalarLanes;
using quillox::test::ScalarFusedLanes;

// Base's lanes, counting each lane sent to the reference.
template <typename Base>
struct Counting : Base {
    static inline std::uint64_t redone = 0;
    static unsigned LaneBits(bool set) {
        redone += set ? 1 : 0;
        return Base::LaneBits(set);
    }
};

template <typename L>
double Rate(const quillox::SampleRun &run) {
    L::redone = 0;
    quillox::SynthesizeFast<L>(run);
    return static_cast<double>(L::redone) / run.count;
}

}  // namespace

int main() {
    struct Tone {
        std::int32_t frequencyHz;
        std::int32_t level;
        std::uint32_t firstSecond;
    };
    // Common tones at two levels (a power-of-two amplitude and another), and
    // minutes late in long tones, where theta is large.
    const Tone tones[] = {{440, 10, 0},       {440, 30, 0},      {1000, 10, 0}, {1000, 30, 0},
                          {19999, 10, 0},     {19999, 30, 0},    {50, 320, 0},  {12345, 1000, 0},
                          {1000, 30, 40'000}, {19999, 30, 3600}, {-7, 70, 0},   {22050, 30, 0}};
    constexpr std::uint32_t kSamples = 60 * quillox::kSampleRate;
    std::vector<std::uint8_t> out(std::size_t{2} * kSamples);
    std::printf("%10s %6s %8s  %-18s %-18s\n", "Hz", "level", "from s", "plain: 1 lane in",
                "fused: 1 lane in");
    for (const Tone &tone : tones) {
        const quillox::SampleRun run{tone.frequencyHz, quillox::AmplitudeFromLevel(tone.level),
                                     tone.firstSecond * quillox::kSampleRate, kSamples, out.data()};
        const double plain = Rate<Counting<ScalarLanes>>(run);
        const double fused = Rate<Counting<ScalarFusedLanes>>(run);
        const auto oneIn = [](double rate) { return rate == 0 ? 0.0 : 1 / rate; };
        std::printf("%10d %6d %8u  %-18.0f %-18.0f\n", tone.frequencyHz, tone.level,
                    tone.firstSecond, oneIn(plain), oneIn(fused));
    }
    std::printf("(0: no lane redone; plain loops give theta past 2^34 to the reference whole)\n");
    return 0;
}
