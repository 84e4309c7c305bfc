# 64-bit ARM Linux, tested under qemu-aarch64.
set(triple aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(emulator qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/common-linux-gnu.cmake)
