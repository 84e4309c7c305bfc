#include "module/fatal_exit.h"

#if defined(_WIN32)
#include <stdlib.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quillox {

void FatalExit(int status) {
    // At once: the host's clean-up must not run in the middle of one of our
    // calls, and nothing it buffered may be flushed on our account.
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
#endif
    _exit(status);  // on Windows only reached if termination was refused
}

}  // namespace quillox
