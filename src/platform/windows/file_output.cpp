// Writing a whole file, on Windows.
//
// The file is opened "wb", truncated at once; a write that fails midway
// empties it, so that no cut-off tone stays behind looking like a whole one,
// and a file this call created is removed. The first piece (the header) is
// written last, so that even a writer stopped before it could empty the
// file leaves one that does not start as a complete one. Devices such as
// NUL or CON are written as they are, in order, and never removed.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace quillox {
namespace {

// "N": a handle that child processes do not inherit, so that a host starting
// a program on another thread while a tone is written does not hand it on.
constexpr char kOpenMode[] = "wbN";

}  // namespace

bool WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount) {
    const bool existed = GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
    std::FILE *const file = std::fopen(name, kOpenMode);
    if (file == nullptr) return false;

    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
    // On disk, the pieces from the last to the first, each at its offset
    // (the file is empty, so the bytes before a piece read as zeros until
    // they are written).
    long long offset = 0;
    for (std::size_t k = 0; k < pieceCount; ++k) offset += static_cast<long long>(pieces[k].count);
    bool written = true;
    for (std::size_t n = 0; written && n < pieceCount; ++n) {
        const std::size_t k = regular ? pieceCount - 1 - n : n;
        offset -= static_cast<long long>(pieces[k].count);
        written = (!regular || _fseeki64(file, offset, SEEK_SET) == 0) &&
                  std::fwrite(pieces[k].bytes, 1, pieces[k].count, file) == pieces[k].count;
    }
    written = written && std::fflush(file) == 0;
    if (!written && regular) static_cast<void>(_chsize(_fileno(file), 0));
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    if (regular && !existed) std::remove(name);
    return false;
}

}  // namespace quillox
