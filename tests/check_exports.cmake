# Fails unless the shared library LIBRARY exports exactly WAVHZCreate.
execute_process(COMMAND nm -D --defined-only --format=just-symbols "${LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
string(STRIP "${symbols}" symbols)
if(NOT result EQUAL 0 OR NOT symbols STREQUAL "WAVHZCreate")
  message(FATAL_ERROR "expected WAVHZCreate alone, the library exports:\n${symbols}")
endif()
