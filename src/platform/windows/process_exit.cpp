#include <stdlib.h>
#include <windows.h>

#include "platform/platform.h"

namespace quillox {

void EndProcessNow(int status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    _exit(status);  // only reached if termination was refused
}

}  // namespace quillox
