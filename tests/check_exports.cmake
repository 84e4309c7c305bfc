# Fails unless the shared library LIBRARY exports exactly WAVHZCreate and
# WAVHZTryCreate: NM -D on ELF, where it may not take a function-local
# static's guard either (__cxa_guard_acquire: a fork while another thread
# holds one leaves the child's calls waiting for ever); on a Windows DLL the export name table of OBJDUMP -p, an entry
# point (without one the loader never runs the load and unload sequence), and
# imports from Windows itself and the framework alone (a compiler runtime DLL
# among them would be missing on the hosts' machines). None of this runs the
# library, so it is checked wherever the library builds.
if(LIBRARY MATCHES "\\.dll$")
  execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_@]*\n" symbols "${CMAKE_MATCH_1}")
  list(TRANSFORM symbols STRIP)
  list(SORT symbols)
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
  string(REPLACE "\n" ";" symbols "${symbols}")
  list(SORT symbols)
  execute_process(COMMAND ${NM} -D --undefined-only --format=just-symbols "${LIBRARY}"
                  OUTPUT_VARIABLE imports)
  if(imports MATCHES "__cxa_guard_acquire")
    message(FATAL_ERROR "${LIBRARY} sets up a function-local static inside a call "
                        "(__cxa_guard_acquire): do it at load time or through pthread_once")
  endif()
endif()
if(NOT result EQUAL 0 OR NOT symbols STREQUAL "WAVHZCreate;WAVHZTryCreate")
  message(FATAL_ERROR "expected WAVHZCreate and WAVHZTryCreate, the library exports:\n${symbols}")
endif()
