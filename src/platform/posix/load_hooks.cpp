// POSIX loaders call no entry point with reason codes: a load-time
// constructor and an unload-time destructor call ModuleEntry in its place,
// with the library's own handle, its base address.
#include <dlfcn.h>

#include "module/module_entry.h"
#include "platform/platform.h"

namespace quillox {

// The dynamic loader has run the C++ runtime's start-up before the
// constructor below, and runs its shut-down after the destructor.
std::int32_t RunModuleMainInRuntime(void *instance, std::uint32_t reason, void *reserved) {
    return ModuleMain(instance, reason, reserved);
}

namespace {

void *OwnHandle() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void *>(&ModuleEntry), &info) != 0 ? info.dli_fbase : nullptr;
}

// A failed initialisation cannot fail the load here, as it would where the
// loader reads the entry point's result: the library then stays unregistered
// and its tone function still works.
__attribute__((constructor)) void OnLoad() { ModuleEntry(OwnHandle(), kProcessAttach, nullptr); }
__attribute__((destructor)) void OnUnload() { ModuleEntry(OwnHandle(), kProcessDetach, nullptr); }

}  // namespace
}  // namespace quillox
