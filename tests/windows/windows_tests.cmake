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

# wavhz.exe, as a user runs it.
add_test(NAME wavhz_writes COMMAND wavhz ${CMAKE_CURRENT_BINARY_DIR}/wavhz.wav 440 10 1)
set_tests_properties(wavhz_writes PROPERTIES PASS_REGULAR_EXPRESSION "88244 bytes, 1 s")
add_test(NAME wavhz_usage_error COMMAND wavhz t.wav 44o 10 1)
set_tests_properties(wavhz_usage_error PROPERTIES WILL_FAIL TRUE)
add_test(NAME wavhz_cannot_write COMMAND wavhz ${CMAKE_CURRENT_BINARY_DIR}/missing/t.wav 440 10 1)
set_tests_properties(wavhz_cannot_write PROPERTIES PASS_REGULAR_EXPRESSION "wavhz: cannot write")

# Where Wine cannot run this target's programs at all (a kernel without
# 32-bit support), the wrapper says why and exits 77: a skip, not a pass.
get_property(wine_tests DIRECTORY PROPERTY TESTS)
set_tests_properties(${wine_tests} PROPERTIES SKIP_RETURN_CODE 77)
