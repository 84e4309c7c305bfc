# 32-bit ARM Linux, hard-float (ARMv7 with VFP), tested under qemu-arm.
set(triple arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(emulator qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/common-linux-gnu.cmake)
