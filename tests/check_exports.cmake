# Fails unless the shared library LIBRARY exports exactly WAVHZCreate: NM -D
# on ELF; on a Windows DLL the export name table of OBJDUMP -p, and an entry
# point (without one the loader never runs the load and unload sequence).
if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_@]*\n" symbols "${CMAKE_MATCH_1}")
  string(STRIP "${symbols}" symbols)
  string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" entry "${dump}")
  if(NOT entry OR CMAKE_MATCH_1 MATCHES "^0+$")
    message(FATAL_ERROR "${LIBRARY} has no entry point")
  endif()
else()
  execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols "${LIBRARY}"
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
  string(STRIP "${symbols}" symbols)
endif()
if(NOT result EQUAL 0 OR NOT symbols STREQUAL "WAVHZCreate")
  message(FATAL_ERROR "expected WAVHZCreate alone, the library exports:\n${symbols}")
endif()
