// Writing the assembled chunks to the output file.
#pragma once

#include "tone/wav_chunk.h"

namespace quillox {

// Creates or replaces the file named by toneSettings.outputPath, as "wb"
// does, and writes the three chunks whole, one write each: on disk the
// samples first and the RIFF header last, its place cleared first, so that
// a file cut short anywhere has no "RIFF" and no reader takes it for a
// whole one. Returns the result of the close, 0 (kSucceeded). When the
// file cannot be opened or written it fails with the system's reason (the
// caller's status 2), having touched nothing but the file it opened: a
// file it created is removed; an existing file keeps its contents where the
// failure could be foreseen (a full disk, a file-size limit: on POSIX
// systems room for the tone is reserved or, where it cannot be, checked
// first) and is emptied where it could not. Symbolic links, devices, pipes
// and other special files are never removed.
[[nodiscard]] ErrorCode WriteWaveFile(const WavChunk &riffChunk, const WavChunk &formatChunk,
                                      const WavChunk &dataChunk);

}  // namespace quillox
