# Tests that only Windows has: a host that loads the DLL as Windows hosts do,
# and compares its files with the Linux build's.

# The Linux build's wavhz writes the reference files (./build.sh test builds
# it first).
set(QUILLOX_LINUX_WAVHZ ${PROJECT_SOURCE_DIR}/build/ci/wavhz CACHE FILEPATH
    "wavhz of a Linux build, for the files to compare with")
set(linux_files ${CMAKE_CURRENT_BINARY_DIR}/linux-files)
set(requests ${CMAKE_CURRENT_SOURCE_DIR}/windows/requests.txt)
add_test(NAME linux_reference_files
         COMMAND ${CMAKE_COMMAND} -DWAVHZ=${QUILLOX_LINUX_WAVHZ} -DREQUESTS=${requests}
                 -DOUT=${linux_files} -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/make_linux_files.cmake)
set_tests_properties(linux_reference_files PROPERTIES FIXTURES_SETUP linux_files)

add_executable(windows_host_test windows/windows_host_test.cpp)
target_link_libraries(windows_host_test PRIVATE QuilloxAppFramework quillox_warnings
                      GTest::gtest_main version)
target_include_directories(windows_host_test PRIVATE ${PROJECT_SOURCE_DIR}/include
                           ${CMAKE_CURRENT_SOURCE_DIR})
add_dependencies(windows_host_test QuilloxWAVFrequency)
# Wine sees the Linux file system as drive Z:.
add_test(NAME windows_host_test COMMAND windows_host_test)
set_tests_properties(windows_host_test PROPERTIES
  FIXTURES_REQUIRED linux_files
  ENVIRONMENT "QUILLOX_LINUX_FILES=Z:${linux_files};QUILLOX_REQUESTS=Z:${requests}")

# wavhz.exe, as a user runs it.
add_test(NAME wavhz_writes COMMAND wavhz ${CMAKE_CURRENT_BINARY_DIR}/wavhz.wav 440 10 1)
set_tests_properties(wavhz_writes PROPERTIES PASS_REGULAR_EXPRESSION "88244 bytes, 1 s")
add_test(NAME wavhz_usage_error COMMAND wavhz t.wav 44o 10 1)
set_tests_properties(wavhz_usage_error PROPERTIES WILL_FAIL TRUE)
add_test(NAME wavhz_cannot_write COMMAND wavhz ${CMAKE_CURRENT_BINARY_DIR}/missing/t.wav 440 10 1)
set_tests_properties(wavhz_cannot_write PROPERTIES PASS_REGULAR_EXPRESSION "wavhz: cannot write")
