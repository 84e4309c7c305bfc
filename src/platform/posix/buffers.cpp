#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

namespace quillox {
namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

}  // namespace

// A large buffer is aligned to 2 MiB and asked to come in huge pages: the
// sample loop touches every byte of it once, and faulting it in 4 KiB at a
// time would cost more than computing the samples.
void *AllocateBuffer(std::size_t bytes) {
    if (bytes < kHugePageBytes) return std::malloc(bytes);
    // Rounding up must not wrap a 32-bit size_t: a buffer that small would be
    // written past its end. No such process can hold it anyway.
    if (bytes > SIZE_MAX - kHugePageBytes) return nullptr;
    const std::size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    void *const buffer = std::aligned_alloc(kHugePageBytes, rounded);
#if defined(MADV_HUGEPAGE)
    if (buffer != nullptr) madvise(buffer, rounded, MADV_HUGEPAGE);  // only a hint
#endif
    return buffer;
}

}  // namespace quillox
