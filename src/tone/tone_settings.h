// The current tone request, shared by the entry point, the chunk builders and
// the synthesis loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillox {

// The narrow file name with its terminator must fit in this many bytes.
inline constexpr std::size_t kOutputPathBytes = 200;

struct ToneSettings {
    char outputPath[kOutputPathBytes];  // NUL-terminated narrow name
    float amplitude;                    // level / 10 in whole numbers
    std::int32_t frequencyHz;
    std::uint32_t seconds;
};

// One record for the whole module: every call of WAVHZCreate overwrites it
// before use, under a lock that makes overlapping calls take turns.
extern ToneSettings toneSettings;

}  // namespace quillox
