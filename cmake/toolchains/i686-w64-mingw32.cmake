# 32-bit Windows, cross-built with MinGW-w64, tested under 32-bit Wine.
set(triple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
# SSE2 arithmetic: x87 registers keep excess precision, which changes samples.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/common-mingw-w64.cmake)
