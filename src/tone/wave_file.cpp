#include "tone/wave_file.h"

#include "platform/platform.h"
#include "tone/tone_settings.h"

namespace quillox {

ErrorCode WriteWaveFile(const WavChunk &riffChunk, const WavChunk &formatChunk,
                        const WavChunk &dataChunk) {
    // Each chunk whole, header and all, in file order.
    const FilePiece pieces[] = {
        {riffChunk.bytes.get(), std::size_t{riffChunk.size} + kChunkHeaderBytes},
        {formatChunk.bytes.get(), std::size_t{formatChunk.size} + kChunkHeaderBytes},
        {dataChunk.bytes.get(), std::size_t{dataChunk.size} + kChunkHeaderBytes},
    };
    return WriteWholeFile(toneSettings.outputPath, pieces, std::size(pieces));
}

}  // namespace quillox
