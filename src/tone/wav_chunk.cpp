#include "tone/wav_chunk.h"

#include <cstring>

#include "module/fatal_exit.h"
#include "platform/platform.h"
#include "tone/byte_order.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

// Give `chunk` a buffer for `size` bytes after its header and write the
// header. The tag is copied byte for byte; no terminator is written.
void StartChunk(WavChunk &chunk, const char (&tag)[5], std::uint32_t size) {
    const std::size_t total = std::size_t{size} + kChunkHeaderBytes;
    chunk.bytes.reset(static_cast<std::uint8_t *>(AllocateBuffer(total)));
    if (!chunk.bytes) FatalExit(kStatusNoMemory);
    chunk.size = size;
    std::memcpy(chunk.bytes.get(), tag, 4);
    WriteLE32(chunk.bytes.get() + 4, size);
}

}  // namespace

void BuildDataChunk(WavChunk &chunk, SynthesisLoop loop) {
    // Longer tones would wrap the 32-bit sizes, and the buffer would come out
    // smaller than what is written into it: refuse them as too large to hold.
    if (toneSettings.seconds > kMaxSeconds) FatalExit(kStatusNoMemory);
    const std::uint32_t sampleCount = toneSettings.seconds * kSampleRate;
    StartChunk(chunk, "data", sampleCount * kBytesPerSample);
    SynthesizeTone(chunk.bytes.get() + kChunkHeaderBytes, sampleCount, loop);
}

void BuildFormatChunk(WavChunk &chunk) {
    StartChunk(chunk, "fmt ", kFormatBytes);
    std::uint8_t *const format = chunk.bytes.get() + kChunkHeaderBytes;
    WriteLE16(format + 0, 1);                     // PCM
    WriteLE16(format + 2, 1);                     // one channel
    WriteLE32(format + 4, kSampleRate);           // samples per second
    WriteLE32(format + 8, kBytesPerSecond);       // average bytes per second
    WriteLE16(format + 12, kBytesPerSample);      // block align
    WriteLE16(format + 14, kBytesPerSample * 8);  // bits per sample
}

void BuildRiffChunk(WavChunk &chunk, const WavChunk &formatChunk, const WavChunk &dataChunk) {
    StartChunk(chunk, "RIFF", kRiffFormTypeBytes);
    // The RIFF length counts everything after its own field: "WAVE" and the
    // two other chunks with their headers.
    WriteLE32(chunk.bytes.get() + 4,
              kRiffFormTypeBytes + formatChunk.size + dataChunk.size + 2 * kChunkHeaderBytes);
    std::memcpy(chunk.bytes.get() + kChunkHeaderBytes, "WAVE", kRiffFormTypeBytes);
}

}  // namespace quillox
