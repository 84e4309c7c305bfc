# Fails unless the shared library LIBRARY exports exactly WAVHZCreate: NM -D
# on ELF; on a Windows DLL the export name table of OBJDUMP -p, an entry
# point (without one the loader never runs the load and unload sequence), and
# imports from Windows itself and the framework alone (a compiler runtime DLL
# among them would be missing on the hosts' machines). None of this runs the
# library, so it is checked wherever the library builds.
if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_@]*\n" symbols "${CMAKE_MATCH_1}")
  string(STRIP "${symbols}" symbols)
  string(REGEX MATCH "AddressOfEntryPoint[ \t]+([0-9a-fA-F]+)" entry "${dump}")
  if(NOT entry OR CMAKE_MATCH_1 MATCHES "^0+$")
    message(FATAL_ERROR "${LIBRARY} has no entry point")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]*" imports "${dump}")
  list(TRANSFORM imports REPLACE "^DLL Name: " "")
  list(SORT imports CASE INSENSITIVE)
  if(NOT imports STREQUAL "KERNEL32.dll;msvcrt.dll;QuilloxAppFramework.dll")
    message(FATAL_ERROR "${LIBRARY} imports from ${imports}, not just Windows and the framework")
  endif()
else()
  execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols "${LIBRARY}"
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
  string(STRIP "${symbols}" symbols)
endif()
if(NOT result EQUAL 0 OR NOT symbols STREQUAL "WAVHZCreate")
  message(FATAL_ERROR "expected WAVHZCreate alone, the library exports:\n${symbols}")
endif()
