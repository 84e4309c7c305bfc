// Ending the host process when a tone request cannot be carried out.
#pragma once

namespace quillox {

// Exit statuses of FatalExit.
inline constexpr int kStatusNoMemory = 1;    // a chunk buffer cannot be had
inline constexpr int kStatusCannotWrite = 2; // the output file cannot be written

// Ends the whole process at once with `status`: the host's atexit handlers
// and stdio buffers are left alone. Never returns.
[[noreturn]] void FatalExit(int status);

}  // namespace quillox
