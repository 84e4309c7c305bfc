# Writes the file of every request in REQUESTS with the native build's WAVHZ
# into OUT, named FREQUENCY_LEVEL_SECONDS.wav. Without WAVHZ it writes none
# and says why: the comparison then skips.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
if(NOT EXISTS "${WAVHZ}")
  message("skipped: no native wavhz at '${WAVHZ}' to write the reference files"
          " (build the ci preset first, or set QUILLOX_REFERENCE_WAVHZ)")
  return()
endif()
file(STRINGS "${REQUESTS}" lines REGEX "^[-0-9]")
foreach(line IN LISTS lines)
  string(REPLACE " " ";" request "${line}")
  string(REPLACE " " "_" name "${line}")
  execute_process(COMMAND "${WAVHZ}" "${OUT}/${name}.wav" ${request}
                  RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${WAVHZ} failed for ${line}")
  endif()
endforeach()
