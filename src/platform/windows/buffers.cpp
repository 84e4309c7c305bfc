#include <cstdlib>

#include "platform/platform.h"

namespace quillox {

// Plain malloc: the C runtime has no aligned allocation that std::free takes.
void *AllocateBuffer(std::size_t bytes) { return std::malloc(bytes); }

}  // namespace quillox
