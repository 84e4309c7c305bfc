#include "tone/wav_chunk.h"

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

#include <cstdint>
#include <cstring>

#include "module/fatal_exit.h"
#include "tone/synthesis.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Memory for `total` bytes, released with std::free. A large buffer is
// aligned to 2 MiB and asked to come in huge pages: the sample loop touches
// every byte of it once, and faulting it in 4 KiB at a time would cost more
// than computing the samples.
void *AllocateBytes(std::size_t total) {
#if defined(_WIN32)
    return std::malloc(total);  // no aligned_alloc whose memory std::free takes
#else
    if (total < kHugePageBytes) return std::malloc(total);
    // Rounding up must not wrap a 32-bit size_t: a buffer that small would be
    // written past its end. No such process can hold it anyway.
    if (total > SIZE_MAX - kHugePageBytes) return nullptr;
    const std::size_t rounded = (total + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    void *const bytes = std::aligned_alloc(kHugePageBytes, rounded);
#if defined(MADV_HUGEPAGE)
    if (bytes != nullptr) madvise(bytes, rounded, MADV_HUGEPAGE);  // only a hint
#endif
    return bytes;
#endif
}

// Give `chunk` a buffer for `size` bytes after its header and write the
// header. The tag is copied byte for byte; no terminator is written.
void StartChunk(WavChunk &chunk, const char (&tag)[5], std::uint32_t size) {
    const std::size_t total = std::size_t{size} + kChunkHeaderBytes;
    chunk.bytes.reset(static_cast<std::uint8_t *>(AllocateBytes(total)));
    if (!chunk.bytes) FatalExit(kStatusNoMemory);
    chunk.size = size;
    std::memcpy(chunk.bytes.get(), tag, 4);
    WriteLE32(chunk.bytes.get() + 4, size);
}

}  // namespace

void BuildDataChunk(WavChunk &chunk) {
    // Longer tones would wrap the 32-bit sizes, and the buffer would come out
    // smaller than what is written into it: refuse them as too large to hold.
    if (toneSettings.seconds > kMaxSeconds) FatalExit(kStatusNoMemory);
    const std::uint32_t sampleCount = toneSettings.seconds * kSampleRate;
    StartChunk(chunk, "data", sampleCount * kBytesPerSample);
    SynthesizeTone(chunk.bytes.get() + kChunkHeaderBytes, sampleCount);
}

void BuildFormatChunk(WavChunk &chunk) {
    StartChunk(chunk, "fmt ", 16);
    std::uint8_t *const format = chunk.bytes.get() + kChunkHeaderBytes;
    WriteLE16(format + 0, 1);                 // PCM
    WriteLE16(format + 2, 1);                 // one channel
    WriteLE32(format + 4, kSampleRate);       // samples per second
    WriteLE32(format + 8, kBytesPerSecond);   // average bytes per second
    WriteLE16(format + 12, kBytesPerSample);  // block align
    WriteLE16(format + 14, 16);               // bits per sample
}

void BuildRiffChunk(WavChunk &chunk, const WavChunk &formatChunk, const WavChunk &dataChunk) {
    StartChunk(chunk, "RIFF", 4);
    // The RIFF length counts everything after its own field: "WAVE" (4) and
    // the two other chunks with their 8-byte headers.
    WriteLE32(chunk.bytes.get() + 4, formatChunk.size + dataChunk.size + 20);
    std::memcpy(chunk.bytes.get() + kChunkHeaderBytes, "WAVE", 4);
}

}  // namespace quillox
