// What differs between POSIX systems and Windows, behind small
// declarations. Each is defined once in src/platform/posix/ and once in
// src/platform/windows/, in the file named beside it; the build takes one of
// the two folders. Nothing else in src/ asks which platform it is on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "QuilloxWAVFrequency.h"

namespace quillox {

// The narrow file name with its terminator must fit in this many bytes.
inline constexpr std::size_t kOutputPathBytes = WAVHZ_MAX_NAME_BYTES + 1;

// What a step of a request gives back: kSucceeded, or the system's own
// number for why it failed (an errno value on POSIX systems, a GetLastError
// value on Windows), which WAVHZTryCreate hands to its caller in the same
// place. Never 0 for a failure.
using ErrorCode = int;
inline constexpr ErrorCode kSucceeded = 0;

// system_error.cpp: the reasons the request itself finds, in the system's
// numbers; and the caller's errno (or last error) set to one.
extern const ErrorCode kErrorNoMemory;         // ENOMEM; ERROR_NOT_ENOUGH_MEMORY
extern const ErrorCode kErrorToneTooLong;      // EOVERFLOW: its sizes do not fit 32 bits
extern const ErrorCode kErrorNullPath;         // EINVAL; ERROR_INVALID_PARAMETER
extern const ErrorCode kErrorNoNarrowForm;     // EILSEQ; ERROR_NO_UNICODE_TRANSLATION
extern const ErrorCode kErrorNameTooLong;      // ENAMETOOLONG; ERROR_FILENAME_EXCED_RANGE
extern const ErrorCode kErrorNameKeepsMoving;  // ELOOP; ERROR_SHARING_VIOLATION
void SetCallerError(ErrorCode error);

// narrow_path.cpp: converts the NUL-terminated UTF-16 `path` to the narrow
// name in `name`, terminator included: UTF-8 on POSIX systems, whatever the
// process locale (it is what file names use there); the ANSI code page on
// Windows. Fails, leaving `name` unspecified, when the path is null
// (kErrorNullPath), has no exact narrow form (kErrorNoNarrowForm: an
// unpaired surrogate; on Windows a character the code page lacks), or does
// not fit in kOutputPathBytes with its terminator (kErrorNameTooLong): a
// name cut short or with a character substituted would name a different
// file.
ErrorCode ConvertPathToNarrow(const WAVHZPathChar *path, char (&name)[kOutputPathBytes]);

// buffers.cpp: memory for `bytes` bytes, released with std::free, or null.
void *AllocateBuffer(std::size_t bytes);

// write_whole_file.cpp: writes `pieces`, one after another, as the whole
// contents of the file `name`, creating it or replacing it in place as
// fopen's "wb" does. Fails, with the system's reason, when the file cannot
// be opened or written, having touched nothing but the file it opened: a file it created
// is removed; an existing file keeps its contents where the failure could
// be foreseen and is emptied where it could not; links, devices and pipes
// are never removed. A file on disk gets the first piece last, its place
// cleared before anything else is written: one cut short at any point
// (a killed writer, a clean-up that failed too) never starts with it.
struct FilePiece {
    const std::uint8_t *bytes;
    std::size_t count;
};
ErrorCode WriteWholeFile(const char *name, const FilePiece *pieces, std::size_t pieceCount);

// request_lock.cpp: the lock that makes overlapping calls take turns. On
// POSIX systems a process forked while another thread holds it starts with
// it free: that thread does not exist in the child, whose own calls would
// otherwise wait for ever.
void LockRequests();
void UnlockRequests();
// Where the thread may be cancelled (POSIX: a cancellation point), called
// as a call ends, once it holds nothing: a cancel that came during the call,
// which the call holds off, acts here.
void CancellationPoint();

// process_exit.cpp: ends the whole process at once with `status`: no atexit
// handlers of the host, no stdio flush.
[[noreturn]] void EndProcessNow(int status);

// load_hooks.cpp: the runtime's start-up (on attach) or shut-down (on
// detach) around ModuleMain, whose result it returns. On POSIX systems a
// load-time constructor and an unload-time destructor call ModuleEntry; on
// Windows the loader calls it as the DLL's entry point.
std::int32_t RunModuleMainInRuntime(void *instance, std::uint32_t reason, void *reserved);

}  // namespace quillox
