#include "module/fatal_exit.h"

#include <unistd.h>

namespace quillox {

void FatalExit(int status) {
    // _exit, not exit: the host's clean-up must not run in the middle of one
    // of our calls, and nothing it buffered may be flushed on our account.
    _exit(status);
}

}  // namespace quillox
