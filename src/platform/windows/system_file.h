// What the Windows half of writing a whole file keeps of the file a call
// writes (see platform/output_file.h).
#pragma once

#include <windows.h>

namespace quillox {

struct SystemFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED lock{};  // the writers' lock, once taken
};

}  // namespace quillox
