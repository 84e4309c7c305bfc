# 32-bit x86 Linux, tested under qemu-i386.
set(triple i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(emulator qemu-i386)
# SSE2 arithmetic: x87 registers keep excess precision, which changes samples.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# qemu-i386 (Debian 12, qemu 7.2) crashes or hangs in a forked child and in a
# new thread: tests that need either are skipped there, saying so.
set(QUILLOX_EMULATOR_CANNOT_FORK ON)
include(${CMAKE_CURRENT_LIST_DIR}/common-linux-gnu.cmake)
