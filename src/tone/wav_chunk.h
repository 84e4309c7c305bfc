// The three chunks of a tone file, built in memory before the file is opened.
//
// Each chunk buffer holds an 8-byte header (a 4-character tag and a 32-bit
// little-endian length) followed by the chunk's own bytes:
//
//   offset  0  "RIFF", 36 + D, "WAVE"                 riff chunk, 12 bytes
//   offset 12  "fmt ", 16, PCM, mono, 44100, 88200,   format chunk, 24 bytes
//              block align 2, 16 bits
//   offset 36  "data", D, samples                     data chunk, D + 8 bytes
//
// D = seconds * 44100 * 2 is the number of sample bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "QuilloxWAVFrequency.h"
#include "platform/platform.h"
#include "tone/sample_format.h"
#include "tone/synthesis.h"

namespace quillox {

// The longest tone whose RIFF length, everything after the RIFF chunk's own
// header (36 + D), still fits in 32 bits.
inline constexpr std::uint32_t kMaxSeconds =
    (UINT32_MAX - (kFileHeaderBytes - kChunkHeaderBytes)) / kBytesPerSecond;
static_assert(kMaxSeconds == WAVHZ_MAX_SECONDS);

struct FreeBytes {
    void operator()(std::uint8_t *bytes) const { std::free(bytes); }
};

struct WavChunk {
    std::uint32_t size = 0;                            // bytes after the 8-byte header
    std::unique_ptr<std::uint8_t[], FreeBytes> bytes;  // size + 8 bytes
};

// Fill `chunk` from toneSettings. Each fails with kErrorNoMemory when its
// buffer cannot be allocated, the data chunk with kErrorToneTooLong for a
// duration above kMaxSeconds (the caller's status 1 for both). The samples
// come from `loop`: a benchmark names each in turn to time its whole tone.
[[nodiscard]] ErrorCode BuildDataChunk(WavChunk &chunk, SynthesisLoop loop = FastestLoop());
[[nodiscard]] ErrorCode BuildFormatChunk(WavChunk &chunk);
// Reads only the size fields of the other two chunks.
[[nodiscard]] ErrorCode BuildRiffChunk(WavChunk &chunk, const WavChunk &formatChunk,
                                       const WavChunk &dataChunk);

}  // namespace quillox
