// The one sound format the library writes, and the constants of its sample
// formula: every loop, the chunk builders, wavhz and the tests read them
// from here.
#pragma once

#include <cstdint>

#include "QuilloxWAVFrequency.h"

namespace quillox {

// PCM, one channel, 44,100 samples per second, 16 bits a sample.
inline constexpr std::uint32_t kSampleRate = 44100;
inline constexpr std::uint32_t kBytesPerSample = 2;
inline constexpr std::uint32_t kBytesPerSecond = kSampleRate * kBytesPerSample;

// The file: "RIFF" header (12 bytes), format chunk (24), data chunk header
// (8), then the samples.
inline constexpr std::uint32_t kChunkHeaderBytes = 8;   // a 4-character tag, a 32-bit length
inline constexpr std::uint32_t kRiffFormTypeBytes = 4;  // "WAVE"
inline constexpr std::uint32_t kFormatBytes = 16;       // the format chunk after its header
inline constexpr std::uint32_t kRiffChunkBytes = kChunkHeaderBytes + kRiffFormTypeBytes;
inline constexpr std::uint32_t kFormatChunkBytes = kChunkHeaderBytes + kFormatBytes;
inline constexpr std::uint32_t kFileHeaderBytes =
    kRiffChunkBytes + kFormatChunkBytes + kChunkHeaderBytes;
static_assert(WAVHZ_FILE_BYTES(0) == kFileHeaderBytes);
static_assert(WAVHZ_FILE_BYTES(1) == kFileHeaderBytes + kBytesPerSecond);

// The sample formula's constants, in the precision each step uses (see
// tone/synthesis.h for the steps).
inline constexpr double kPhaseFactor = 6.28318;          // the decimal literal, not 2 pi
inline constexpr float kSamplesPerSecond = kSampleRate;  // over the frequency: the period
inline constexpr float kMappingOffset = 1.0f;            // x + 1 ...
inline constexpr float kMappingHalf = 0.5f;              // ... times 0.5 ...
inline constexpr float kMappingScale = -65535.0f;        // ... times -65535 is y
inline constexpr std::int32_t kMappingBias = -32768;     // v = -32768 - int32(y)
// -2^31: y at or below it converts to INT32_MIN, at or above its negation to
// INT32_MAX (saturation: the conversion itself is undefined out there).
inline constexpr float kInt32Low = -2147483648.0f;

}  // namespace quillox
