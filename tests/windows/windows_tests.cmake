# Tests that only Windows has: a host that loads the DLL as Windows hosts do,
# and wavhz.exe as users run it.

# It links the framework's test build and sits beside it in bin/testing;
# run from bin/, it finds QuilloxWAVFrequency.dll there, which binds to the
# framework DLL already loaded.
add_executable(windows_host_test windows/windows_host_test.cpp)
target_link_libraries(windows_host_test PRIVATE QuilloxAppFrameworkTesting quillox_warnings
                      GTest::gtest_main version)
target_include_directories(windows_host_test PRIVATE ${PROJECT_SOURCE_DIR}/include
                           ${generated_include_dir} ${CMAKE_CURRENT_SOURCE_DIR})
set_target_properties(windows_host_test PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin/testing)
add_dependencies(windows_host_test QuilloxWAVFrequency)
quillox_add_gtest(windows_host_test WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# wavhz.exe, as a user runs it: each passes only with its exit status and
# its message, so that a crash or a Wine failure is never taken for the
# failure expected.
function(add_wavhz_test name status pattern)
  add_test(NAME wavhz_${name}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/expect_status.sh ${status} ${pattern}
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:wavhz> ${ARGN})
endfunction()
add_wavhz_test(writes 0 "wavhz.wav: 88244 bytes, 1 s" ${CMAKE_CURRENT_BINARY_DIR}/wavhz.wav 440 10 1)
add_wavhz_test(usage_error 64 "^usage: wavhz" t.wav 44o 10 1)
add_wavhz_test(cannot_write 2 "^wavhz: cannot write '.*missing.t\\.wav': ."
               ${CMAKE_CURRENT_BINARY_DIR}/missing/t.wav 440 10 1)
# A name quoted as Windows users write it: one backslash, not two.
add_wavhz_test(cannot_write_backslash 2 "^wavhz: cannot write 'missing\\\\t\\.wav': ."
               "missing\\t.wav" 440 10 1)
# Standard output is not offered, and refused with why.
add_wavhz_test(help_without_standard_output 0 "cannot be written on Windows" --help)
add_wavhz_test(standard_output 64 "^wavhz: OUTPUT - \\(standard output\\) cannot be written on Windows"
               - 440 10 1)
# And on a full disk, next to the Linux ones (root mounts it; skipped without).
add_test(NAME wavhz_full_disk
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/full_disk.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                 $<TARGET_FILE:wavhz>)

# The Windows examples, built as their comments say (the import library;
# LoadLibraryExW and GetProcAddress), run where the DLL is and compared with
# the build machine's wavhz.
if(QUILLOX_REFERENCE_WAVHZ)
  add_executable(example_link ${PROJECT_SOURCE_DIR}/examples/c/link.c)
  target_link_libraries(example_link PRIVATE QuilloxWAVFrequency quillox_warnings)
  add_executable(example_carry_on ${PROJECT_SOURCE_DIR}/examples/c/carry_on.c)
  target_link_libraries(example_carry_on PRIVATE QuilloxWAVFrequency quillox_warnings)
  add_executable(example_load_library ${PROJECT_SOURCE_DIR}/examples/windows/load_library.c)
  target_include_directories(example_load_library PRIVATE ${PROJECT_SOURCE_DIR}/include
                             ${generated_include_dir})
  target_link_libraries(example_load_library PRIVATE quillox_warnings)
  target_link_options(example_load_library PRIVATE -municode)
  add_dependencies(example_load_library QuilloxWAVFrequency)
  set(example_dir ${CMAKE_CURRENT_BINARY_DIR}/examples)
  file(MAKE_DIRECTORY ${example_dir})
  add_test(NAME example_link
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/example_same_bytes.sh a440.wav
                   ${QUILLOX_REFERENCE_WAVHZ} 440 10 2
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:example_link>
           WORKING_DIRECTORY ${example_dir})
  # The failure returned, with Windows' reason, and the program going on.
  add_test(NAME example_carry_on
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/example_same_bytes.sh carried.wav
                   ${QUILLOX_REFERENCE_WAVHZ} 1000 10 1
                   ${CMAKE_CURRENT_SOURCE_DIR}/windows/expect_status.sh 0
                   "^no-such-folder/carried.wav: not written \\(status 2: .+\\); carrying on"
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:example_carry_on>
           WORKING_DIRECTORY ${example_dir})
  add_test(NAME example_load_library
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/example_same_bytes.sh windows.wav
                   ${QUILLOX_REFERENCE_WAVHZ} 1000 10 1
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:example_load_library>
           WORKING_DIRECTORY ${example_dir})
  # ... and from its own folder only: a copy kept apart from the DLLs, run
  # in their folder, does not load them from there (error 126, not found).
  set(apart_dir ${example_dir}/apart)
  file(MAKE_DIRECTORY ${apart_dir})
  add_custom_command(TARGET example_load_library POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:example_load_library> ${apart_dir}/)
  add_test(NAME example_load_library_not_from_working_directory
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/expect_status.sh 1
                   "^LoadLibraryExW failed: error 126"
                   ${CMAKE_CROSSCOMPILING_EMULATOR} ${apart_dir}/example_load_library.exe
           WORKING_DIRECTORY $<TARGET_FILE_DIR:QuilloxWAVFrequency>)
endif()
