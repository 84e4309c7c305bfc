#include <unistd.h>

#include "platform/platform.h"

namespace quillox {

void (*beforeProcessEnds)(int status) = nullptr;

void EndProcessNow(int status) {
    if (beforeProcessEnds != nullptr) beforeProcessEnds(status);
    _exit(status);
}

}  // namespace quillox
