// WAVHZCreate: the library's one exported function.
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

}  // namespace
}  // namespace quillox

extern "C" int32_t WAVHZCreate(const WAVHZPathChar *path, int32_t frequencyHz, int32_t level,
                               uint32_t seconds) {
    using namespace quillox;
    const OneRequestAtATime turn;
    toneSettings.seconds = seconds;
    toneSettings.frequencyHz = frequencyHz;
    toneSettings.amplitude = AmplitudeFromLevel(level);

    // The name is settled before anything is built or opened, so a refused
    // name leaves any existing file of that name as it was.
    if (!ConvertPathToNarrow(path, toneSettings.outputPath)) FatalExit(kStatusCannotWrite);

    // The RIFF chunk comes last: its length needs the sizes of the other two.
    WavChunk dataChunk;
    WavChunk formatChunk;
    WavChunk riffChunk;
    BuildDataChunk(dataChunk);
    BuildFormatChunk(formatChunk);
    BuildRiffChunk(riffChunk, formatChunk, dataChunk);
    WriteWaveFile(riffChunk, formatChunk, dataChunk);
    return WAVHZ_DONE;  // the chunks are released on the way out
}
