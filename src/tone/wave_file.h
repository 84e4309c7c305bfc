// Writing the assembled chunks to the output file.
#pragma once

#include "tone/wav_chunk.h"

namespace quillox {

// Creates or truncates the file named by toneSettings.outputPath ("wb") and
// writes the three chunks whole, one write each, in file order. Returns the
// result of the close, 0. When the file cannot be opened, or a write, the
// flush or the close fails, the process ends with status 2; a partial
// regular file is removed first (devices, pipes and other special files are
// never removed).
int WriteWaveFile(const WavChunk &riffChunk, const WavChunk &formatChunk, const WavChunk &dataChunk);

}  // namespace quillox
