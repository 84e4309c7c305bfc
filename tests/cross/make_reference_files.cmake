# Writes the file of every request in REQUESTS with the Linux build's WAVHZ
# into OUT, named FREQUENCY_LEVEL_SECONDS.wav.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
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
