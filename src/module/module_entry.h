// What happens when the library is loaded into a process and unloaded:
// registration with the host's application framework.
#pragma once

#include <cstdint>

namespace quillox {

// Reasons the loader gives the entry point.
inline constexpr std::uint32_t kProcessDetach = 0;
inline constexpr std::uint32_t kProcessAttach = 1;

// The three entry functions share one form: the module handle, the reason and
// the loader's reserved pointer; the result is 0 for failure, nonzero for
// success.
using EntryFunction = std::int32_t(void *instance, std::uint32_t reason, void *reserved);

// The entry point. On attach: ModuleStateHook, the runtime's start-up, then
// ModuleMain, whose result it returns. On detach: ModuleMain (whose result
// it returns), the runtime's shut-down, then ModuleStateHook.
EntryFunction ModuleEntry;
// Registers with the framework on attach, deregisters on detach.
EntryFunction ModuleMain;
// On attach, sets the framework's class lists aside; always returns 1.
EntryFunction ModuleStateHook;

}  // namespace quillox
