// Ending the host process when a tone request cannot be carried out.
#pragma once

#include "QuilloxWAVFrequency.h"

namespace quillox {

// Exit statuses of FatalExit.
inline constexpr int kStatusNoMemory = WAVHZ_EXIT_NO_MEMORY;        // a chunk buffer cannot be had
inline constexpr int kStatusCannotWrite = WAVHZ_EXIT_CANNOT_WRITE;  // the file cannot be written

// Ends the whole process at once with `status`: the host's atexit handlers
// and stdio buffers are left alone. Never returns.
[[noreturn]] void FatalExit(int status);

}  // namespace quillox
