// WAVHZTryCreate and WAVHZCreate: the library's two exported functions.
#include "QuilloxWAVFrequency.h"

#include "module/fatal_exit.h"
#include "platform/platform.h"
#include "tone/tone_settings.h"
#include "tone/wav_chunk.h"
#include "tone/wave_file.h"

namespace quillox {

ToneSettings toneSettings{};

namespace {

// Calls that overlap take turns: toneSettings holds one request at a time.
class OneRequestAtATime {
public:
    OneRequestAtATime() { LockRequests(); }
    ~OneRequestAtATime() { UnlockRequests(); }
    OneRequestAtATime(const OneRequestAtATime &) = delete;
    OneRequestAtATime &operator=(const OneRequestAtATime &) = delete;
};

// How a request ended: WAVHZ_DONE, or the status it fails with and why.
struct Outcome {
    std::int32_t status;
    ErrorCode error;
};

Outcome CarryOut(const WAVHZPathChar *path, std::int32_t frequencyHz, std::int32_t level,
                 std::uint32_t seconds) {
    const OneRequestAtATime turn;
    toneSettings.seconds = seconds;
    toneSettings.frequencyHz = frequencyHz;
    toneSettings.amplitude = AmplitudeFromLevel(level);

    // The name is settled before anything is built or opened, so a refused
    // name leaves any existing file of that name as it was.
    if (const ErrorCode error = ConvertPathToNarrow(path, toneSettings.outputPath))
        return {kStatusCannotWrite, error};

    // The RIFF chunk comes last: its length needs the sizes of the other two.
    WavChunk dataChunk;
    WavChunk formatChunk;
    WavChunk riffChunk;
    ErrorCode error = BuildDataChunk(dataChunk);
    if (error == kSucceeded) error = BuildFormatChunk(formatChunk);
    if (error == kSucceeded) error = BuildRiffChunk(riffChunk, formatChunk, dataChunk);
    if (error != kSucceeded) return {kStatusNoMemory, error};
    if (const ErrorCode written = WriteWaveFile(riffChunk, formatChunk, dataChunk))
        return {kStatusCannotWrite, written};
    return {WAVHZ_DONE, kSucceeded};
}  // the chunks are released and the lock let go on the way out

}  // namespace
}  // namespace quillox

extern "C" int32_t WAVHZTryCreate(const WAVHZPathChar *path, int32_t frequencyHz, int32_t level,
                                  uint32_t seconds) {
    using namespace quillox;
    const Outcome outcome = CarryOut(path, frequencyHz, level, seconds);
    // A thread cancelled during the call goes now, with nothing of it held.
    CancellationPoint();
    // Set last, once everything is released: nothing after it can change it.
    if (outcome.status != WAVHZ_DONE) SetCallerError(outcome.error);
    return outcome.status;
}

extern "C" int32_t WAVHZCreate(const WAVHZPathChar *path, int32_t frequencyHz, int32_t level,
                               uint32_t seconds) {
    const int32_t status = WAVHZTryCreate(path, frequencyHz, level, seconds);
    if (status != WAVHZ_DONE) quillox::FatalExit(status);
    return status;
}
