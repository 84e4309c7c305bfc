// On Windows the loader calls ModuleEntry itself, as the DLL's entry point,
// with reason codes. The C runtime's own entry point, which starts and stops
// the runtime around DllMain, runs inside it; DllMain is ModuleMain.
#include <windows.h>

#include "module/module_entry.h"
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return quillox::ModuleMain(instance, reason, reserved);
}

// The entry point the linker writes into the DLL (--entry).
extern "C" BOOL WINAPI QuilloxModuleEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return quillox::ModuleEntry(instance, reason, reserved);
}

namespace quillox {

std::int32_t RunModuleMainInRuntime(void *instance, std::uint32_t reason, void *reserved) {
    return DllMainCRTStartup(instance, reason, reserved);
}

}  // namespace quillox
