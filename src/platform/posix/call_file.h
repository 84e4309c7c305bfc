// The file a call has open, as the fork handler of request_lock.cpp sees
// it: a process forked while it is open closes its copy at once.
#pragma once

namespace quillox {

// Records `fd` (or -1: none) as the descriptor of the call in flight. A
// fork in the instant between an open and this record leaves the child a
// copy; the call's own unlock before its close (output_file.cpp) keeps even
// that copy from holding the lock past the call.
void SetCallFile(int fd);

}  // namespace quillox
