# Tests that only Linux has
# A host that loads and unloads the library itself: it must not link it.
add_executable(module_tests module_test.cpp)
target_include_directories(module_tests PRIVATE ${PROJECT_SOURCE_DIR}/include ${generated_include_dir})
# It links the framework's test build, which the tone library then binds to.
target_link_libraries(module_tests PRIVATE QuilloxAppFrameworkTesting quillox_warnings
                      GTest::gtest_main ${CMAKE_DL_LIBS})
target_compile_definitions(module_tests PRIVATE
  QUILLOX_LIBRARY="$<TARGET_FILE:QuilloxWAVFrequency>")
add_dependencies(module_tests QuilloxWAVFrequency)
quillox_add_gtest(module_tests)

# The fuzzer's checks over the checked-in corpus, built with this compiler
# and without libFuzzer (it forks, and compares names with iconv's).
if(NOT CMAKE_CROSSCOMPILING)
  add_executable(fuzz_corpus_replay fuzz/tone_request_fuzzer.cpp fuzz/replay_main.cpp)
  target_link_libraries(fuzz_corpus_replay PRIVATE quillox_tone quillox_warnings)
  target_compile_options(fuzz_corpus_replay PRIVATE -ffp-contract=off)
  add_test(NAME fuzz_corpus_replay
           COMMAND fuzz_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus)
  # Its private folders go here, not into the system's temporary folder.
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz-folders)
  set_tests_properties(fuzz_corpus_replay PROPERTIES
    ENVIRONMENT TMPDIR=${CMAKE_CURRENT_BINARY_DIR}/fuzz-folders)
endif()

# How build.sh installs its packages, against stand-ins for apt-get and dpkg:
# a mirror that fails the refresh, a refused group, out-of-date lists.
if(NOT CMAKE_CROSSCOMPILING AND NOT QUILLOX_SANITIZE)
  add_test(NAME package_installs COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packages_test.sh)
  # And what wavhz's bash completion offers, word by word.
  add_test(NAME wavhz_completion COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh)
endif()

# Valgrind cannot run sanitized programs; there LeakSanitizer does its work.
find_program(VALGRIND valgrind)
if(CMAKE_CROSSCOMPILING)
  quillox_add_skipped_test(module_cycles_valgrind
    "valgrind runs programs of the build machine only, not cross-built ones")
elseif(QUILLOX_SANITIZE)
  quillox_add_skipped_test(module_cycles_valgrind
    "valgrind cannot run sanitized programs (LeakSanitizer checks this build)")
elseif(NOT VALGRIND)
  quillox_add_skipped_test(module_cycles_valgrind "valgrind is not installed")
else()
  add_test(NAME module_cycles_valgrind
           COMMAND ${VALGRIND} --quiet --error-exitcode=1 --leak-check=full
                   --errors-for-leak-kinds=definite,indirect
                   $<TARGET_FILE:module_tests> --gtest_filter=Module.ManyCyclesLeaveNothingBehind)
endif()

# The installed tree, and every example built against it (pkg-config,
# dlopen, find_package, Python's ctypes) writing wavhz's bytes.
find_program(PKG_CONFIG_EXECUTABLE pkg-config)
find_program(PYTHON3_EXECUTABLE python3)
if(CMAKE_CROSSCOMPILING)
  quillox_add_skipped_test(installed_tree_examples
    "the examples are built and run with the build machine's compiler")
elseif(QUILLOX_SANITIZE)
  quillox_add_skipped_test(installed_tree_examples
    "a sanitized library loads only into sanitized hosts")
elseif(NOT PKG_CONFIG_EXECUTABLE OR NOT PYTHON3_EXECUTABLE)
  quillox_add_skipped_test(installed_tree_examples "pkg-config or python3 is not installed")
else()
  add_test(NAME installed_tree_examples
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_installed.sh ${PROJECT_BINARY_DIR}
                   ${PROJECT_VERSION})
endif()
# The library built inside a host's project (examples/embed).
if(CMAKE_CROSSCOMPILING OR QUILLOX_SANITIZE)
  quillox_add_skipped_test(embedded_in_host_project "built natively and unsanitized, as a host would")
else()
  add_test(NAME embedded_in_host_project
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_embedded.sh $<TARGET_FILE:wavhz>)
endif()

# The reference sine over every float below 2^51, each phase trusted within
# its bound; and over every 17th, trusting no bound: both phases run and
# agree, and MPFR gives the same value (the whole strict and MPFR modes run
# under ./build.sh proofs). Natively, as released, with and without fused
# multiply-adds.
if(NOT CMAKE_CROSSCOMPILING AND NOT QUILLOX_SANITIZE)
  include(${PROJECT_SOURCE_DIR}/proofs/exhaustive_sine.cmake)
  foreach(variant IN LISTS exhaustive_sine_variants)
    foreach(mode IN ITEMS fast sample)
      set(name ${variant})
      if(mode STREQUAL "sample")
        set(name ${variant}_sample)
      endif()
      add_test(NAME ${name} COMMAND ${variant} ${mode})
      set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 PROCESSORS 2)
    endforeach()
  endforeach()
endif()

# A multi-threaded host that forks and cancels threads in mid-call: each
# case ends by its own alarm rather than hang.
add_executable(threaded_host threaded_host.c)
target_link_libraries(threaded_host PRIVATE QuilloxWAVFrequency quillox_warnings Threads::Threads)
foreach(case IN ITEMS fork-and-call fork-and-idle fork-holds-nothing first-call cancel)
  if(QUILLOX_SANITIZE AND case MATCHES "^f")
    quillox_add_skipped_test(threaded_host_${case}
      "AddressSanitizer's allocator (GCC 12) stays locked in a child forked while another thread allocates")
    continue()
  endif()
  if(CMAKE_CROSSCOMPILING AND case MATCHES "^f")
    quillox_add_skipped_test(threaded_host_${case}
      "qemu-user itself can hang in a child forked while another guest thread runs (1 run in 5 here)")
    continue()
  endif()
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/threaded-host/${case})
  add_test(NAME threaded_host_${case}
           COMMAND threaded_host ${case} ${CMAKE_CURRENT_BINARY_DIR}/threaded-host/${case})
  set_tests_properties(threaded_host_${case} PROPERTIES
    ENVIRONMENT "${test_environment}" SKIP_RETURN_CODE 77)
endforeach()

# The Python module (python/) over the library, with pytest, by Debian's
# own interpreter where there is one (the one python3-pytest serves).
find_program(QUILLOX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT QUILLOX_PYTHON3)
  set(QUILLOX_PYTHON3 ${PYTHON3_EXECUTABLE})
endif()
if(CMAKE_CROSSCOMPILING)
  quillox_add_skipped_test(python_module "ctypes loads libraries of the build machine's kind only")
elseif(QUILLOX_SANITIZE)
  quillox_add_skipped_test(python_module "a sanitized library loads only into sanitized hosts")
elseif(NOT QUILLOX_PYTHON3)
  quillox_add_skipped_test(python_module "python3 is not installed")
else()
  add_test(NAME python_module
           COMMAND ${QUILLOX_PYTHON3} -m pytest -q -p no:cacheprovider
                   ${PROJECT_SOURCE_DIR}/python/tests)
  set_tests_properties(python_module PROPERTIES ENVIRONMENT
    "QUILLOX_WAV_FREQUENCY_LIBRARY=$<TARGET_FILE:QuilloxWAVFrequency>;PYTHONPATH=${PROJECT_SOURCE_DIR}/python")
endif()
