#include "module/module_entry.h"

#include "QuilloxAppFramework.h"
#include "platform/platform.h"

namespace quillox {
namespace {

// Ours, zero at load; only the framework's functions change its contents.
AppExtensionModule extensionModule{};
// Whether the framework accepted extensionModule: detach must not terminate
// what was never initialised.
bool initialised = false;

constexpr std::size_t kRegistrationBytes = 64;
static_assert(sizeof(AppDllRegistration) <= kRegistrationBytes);

// Called first on attach and last on detach.
EntryFunction *const moduleStateHook = ModuleStateHook;

}  // namespace

std::int32_t ModuleStateHook(void *, std::uint32_t reason, void *) {
    if (reason == kProcessAttach) {
        // Start this library's class lists empty, keeping the heads they had
        // in the slots beside them.
        AppModuleState *const state = AppCurrentModuleState();
        state->classListInitialHead = state->classListHead;
        state->classListHead = nullptr;
        state->factoryListInitialHead = state->factoryListHead;
        state->factoryListHead = nullptr;
    }
    return 1;
}

std::int32_t ModuleMain(void *instance, std::uint32_t reason, void *) {
    if (reason == kProcessAttach) {
        if (AppInitExtensionModule(&extensionModule, instance) == 0) return 0;
        initialised = true;
        // Without memory for the registration object the library is simply
        // not in the chain; the load still succeeds.
        if (void *memory = AppAllocate(kRegistrationBytes)) {
            AppConstructDllRegistration(memory, &extensionModule, /*systemFlag=*/0);
        }
    } else if (reason == kProcessDetach && initialised) {
        AppTermExtensionModule(&extensionModule, /*terminateAll=*/0);
        initialised = false;
    }
    return 1;
}

std::int32_t ModuleEntry(void *instance, std::uint32_t reason, void *reserved) {
    if (reason == kProcessAttach) moduleStateHook(instance, reason, reserved);
    // On attach: the runtime's start-up, then ModuleMain. On detach:
    // ModuleMain, then the runtime's shut-down. The library itself has no
    // static initialisers and no exit handlers.
    const std::int32_t result = RunModuleMainInRuntime(instance, reason, reserved);
    if (reason == kProcessDetach) moduleStateHook(instance, reason, reserved);
    return result;
}

}  // namespace quillox
