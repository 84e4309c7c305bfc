#include "tone/wave_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "module/fatal_exit.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

constexpr char kOpenMode[] = "wb";

bool WriteChunk(std::FILE *file, const WavChunk &chunk) {
    const std::size_t total = std::size_t{chunk.size} + kChunkHeaderBytes;
    return std::fwrite(chunk.bytes.get(), 1, total, file) == total;
}

}  // namespace

int WriteWaveFile(const WavChunk &riffChunk, const WavChunk &formatChunk, const WavChunk &dataChunk) {
    const char *const name = toneSettings.outputPath;
    std::FILE *const file = std::fopen(name, kOpenMode);
    if (file == nullptr) FatalExit(kStatusCannotWrite);

    // Whether the name is a plain file must be known while it is open: only
    // then may a failed write remove it.
    struct stat status{};
    const bool regular = fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);

    const bool written = WriteChunk(file, riffChunk) && WriteChunk(file, formatChunk) &&
                         WriteChunk(file, dataChunk) && std::fflush(file) == 0;
    const int closed = std::fclose(file);
    if (!written || closed != 0) {
        // A truncated file whose header claims the full length must not stay
        // behind looking like a good one.
        if (regular) unlink(name);
        FatalExit(kStatusCannotWrite);
    }
    return closed;
}

}  // namespace quillox
