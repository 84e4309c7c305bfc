#include "module/fatal_exit.h"

#include "platform/platform.h"

namespace quillox {

void FatalExit(int status) {
    // The library registers no exit handlers of its own, so there are none to
    // run first. At once: the host's clean-up must not run in the middle of
    // one of our calls, and nothing it buffered may be flushed on our account.
    EndProcessNow(status);
}

}  // namespace quillox
