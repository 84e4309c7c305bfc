#include "tone/wav_chunk.h"

#include <cstring>

#include "platform/platform.h"
#include "tone/byte_order.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

// Give `chunk` a buffer for `size` bytes after its header and write the
// header. The tag is copied byte for byte; no terminator is written.
[[nodiscard]] ErrorCode StartChunk(WavChunk &chunk, const char (&tag)[5], std::uint32_t size) {
    const std::size_t total = std::size_t{size} + kChunkHeaderBytes;
    chunk.bytes.reset(static_cast<std::uint8_t *>(AllocateBuffer(total)));
    if (!chunk.bytes) return kErrorNoMemory;
    chunk.size = size;
    std::memcpy(chunk.bytes.get(), tag, 4);
    WriteLE32(chunk.bytes.get() + 4, size);
    return kSucceeded;
}

}  // namespace

ErrorCode BuildDataChunk(WavChunk &chunk, SynthesisLoop loop) {
    // Longer tones would wrap the 32-bit sizes, and the buffer would come out
    // smaller than what is written into it: refuse them as too large to hold.
    if (toneSettings.seconds > kMaxSeconds) return kErrorToneTooLong;
    const std::uint32_t sampleCount = toneSettings.seconds * kSampleRate;
    if (const ErrorCode error = StartChunk(chunk, "data", sampleCount * kBytesPerSample))
        return error;
    SynthesizeTone(chunk.bytes.get() + kChunkHeaderBytes, sampleCount, loop);
    return kSucceeded;
}

ErrorCode BuildFormatChunk(WavChunk &chunk) {
    if (const ErrorCode error = StartChunk(chunk, "fmt ", kFormatBytes)) return error;
    std::uint8_t *const format = chunk.bytes.get() + kChunkHeaderBytes;
    WriteLE16(format + 0, 1);                     // PCM
    WriteLE16(format + 2, 1);                     // one channel
    WriteLE32(format + 4, kSampleRate);           // samples per second
    WriteLE32(format + 8, kBytesPerSecond);       // average bytes per second
    WriteLE16(format + 12, kBytesPerSample);      // block align
    WriteLE16(format + 14, kBytesPerSample * 8);  // bits per sample
    return kSucceeded;
}

ErrorCode BuildRiffChunk(WavChunk &chunk, const WavChunk &formatChunk, const WavChunk &dataChunk) {
    if (const ErrorCode error = StartChunk(chunk, "RIFF", kRiffFormTypeBytes)) return error;
    // The RIFF length counts everything after its own field: "WAVE" and the
    // two other chunks with their headers.
    WriteLE32(chunk.bytes.get() + 4,
              kRiffFormTypeBytes + formatChunk.size + dataChunk.size + 2 * kChunkHeaderBytes);
    std::memcpy(chunk.bytes.get() + kChunkHeaderBytes, "WAVE", kRiffFormTypeBytes);
    return kSucceeded;
}

}  // namespace quillox
