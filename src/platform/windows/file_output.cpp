// Writing a whole file, on Windows.
//
// The file is opened "wb", truncated at once; a write that fails midway
// empties it, so that no cut-off tone stays behind looking like a whole one,
// and a file this call created is removed. Devices such as NUL or CON are
// written as they are and never removed.
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
    bool written = true;
    for (std::size_t k = 0; written && k < pieceCount; ++k) {
        written = std::fwrite(pieces[k].bytes, 1, pieces[k].count, file) == pieces[k].count;
    }
    written = written && std::fflush(file) == 0;
    if (!written && regular) static_cast<void>(_chsize(_fileno(file), 0));
    const bool closed = std::fclose(file) == 0;
    if (written && closed) return true;
    if (regular && !existed) std::remove(name);
    return false;
}

}  // namespace quillox
