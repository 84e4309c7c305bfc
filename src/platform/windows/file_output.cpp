// Writing the assembled chunks to the output file, on Windows.
//
// The file is opened "wb", truncated at once; a write that fails midway
// empties it, so that no cut-off tone stays behind looking like a whole one,
// and a file this call created is removed. Devices such as NUL or CON are
// written as they are and never removed.
#include "tone/wave_file.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

#include "module/fatal_exit.h"
#include "tone/tone_settings.h"

namespace quillox {
namespace {

// "N": a handle that child processes do not inherit, so that a host starting
// a program on another thread while a tone is written does not hand it on.
constexpr char kOpenMode[] = "wbN";

bool WriteChunk(std::FILE *file, const WavChunk &chunk) {
    const std::size_t total = std::size_t{chunk.size} + kChunkHeaderBytes;
    return std::fwrite(chunk.bytes.get(), 1, total, file) == total;
}

}  // namespace

int WriteWaveFile(const WavChunk &riffChunk, const WavChunk &formatChunk, const WavChunk &dataChunk) {
    const char *const name = toneSettings.outputPath;
    const bool existed = GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
    std::FILE *const file = std::fopen(name, kOpenMode);
    if (file == nullptr) FatalExit(kStatusCannotWrite);

    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
    const bool written = WriteChunk(file, riffChunk) && WriteChunk(file, formatChunk) &&
                         WriteChunk(file, dataChunk) && std::fflush(file) == 0;
    if (!written && regular) static_cast<void>(_chsize(_fileno(file), 0));
    const int closed = std::fclose(file);
    if (!written || closed != 0) {
        if (regular && !existed) std::remove(name);
        FatalExit(kStatusCannotWrite);
    }
    return closed;
}

}  // namespace quillox
