#include "tone/wave_file.h"

#include "module/fatal_exit.h"
#include "platform/platform.h"
#include "tone/tone_settings.h"

namespace quillox {

int WriteWaveFile(const WavChunk &riffChunk, const WavChunk &formatChunk,
                  const WavChunk &dataChunk) {
    // Each chunk whole, header and all, in file order.
    const FilePiece pieces[] = {
        {riffChunk.bytes.get(), std::size_t{riffChunk.size} + kChunkHeaderBytes},
        {formatChunk.bytes.get(), std::size_t{formatChunk.size} + kChunkHeaderBytes},
        {dataChunk.bytes.get(), std::size_t{dataChunk.size} + kChunkHeaderBytes},
    };
    if (!WriteWholeFile(toneSettings.outputPath, pieces, std::size(pieces))) {
        FatalExit(kStatusCannotWrite);
    }
    return 0;  // the close succeeded
}

}  // namespace quillox
