#include <stdlib.h>
#include <windows.h>

#include "platform/platform.h"

namespace quillox {

void (*beforeProcessEnds)(int status) = nullptr;

void EndProcessNow(int status) {
    if (beforeProcessEnds != nullptr) beforeProcessEnds(status);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    _exit(status);  // only reached if termination was refused
}

}  // namespace quillox
