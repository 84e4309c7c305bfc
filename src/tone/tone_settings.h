// The current tone request, shared by the entry point, the chunk builders and
// the synthesis loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QuilloxWAVFrequency.h"
#include "platform/platform.h"

namespace quillox {

struct ToneSettings {
    char outputPath[kOutputPathBytes];  // NUL-terminated narrow name
    float amplitude;                    // AmplitudeFromLevel(level)
    std::int32_t frequencyHz;
    std::uint32_t seconds;
};

// Whole-number division, not level / 10.0: 0..9 give 0, 10..19 give 1,
// -10..-19 give -1.
inline float AmplitudeFromLevel(std::int32_t level) { return static_cast<float>(level / 10); }

// One record for the whole module: every call of WAVHZCreate overwrites it
// before use, under a lock that makes overlapping calls take turns.
extern ToneSettings toneSettings;

}  // namespace quillox
