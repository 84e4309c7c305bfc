# The exhaustive check of the reference sine (exhaustive_sine.cpp), built
# from the sine's own source with MPFR: once as the library builds it
# (without fused multiply-adds on x86-64) and, on x86-64, once more with
# them (-mfma), since the sine takes another path for its exact products
# where the processor fuses. Included by the proofs and by the tests; needs
# MPFR_INCLUDE_DIR and MPFR_LIBRARY.
set(exhaustive_sine_variants exhaustive_sine)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  list(APPEND exhaustive_sine_variants exhaustive_sine_fma)
endif()
if(TARGET exhaustive_sine)
  return()
endif()
foreach(variant IN LISTS exhaustive_sine_variants)
  add_executable(${variant} ${PROJECT_SOURCE_DIR}/proofs/exhaustive_sine.cpp
                 ${PROJECT_SOURCE_DIR}/src/tone/correctly_rounded_sine.cpp)
  target_include_directories(${variant} PRIVATE ${PROJECT_SOURCE_DIR}/src ${MPFR_INCLUDE_DIR})
  target_compile_definitions(${variant} PRIVATE QUILLOX_WITH_MPFR)
  target_compile_options(${variant} PRIVATE -ffp-contract=off)
  target_link_libraries(${variant} PRIVATE quillox_warnings Threads::Threads ${MPFR_LIBRARY})
endforeach()
if(TARGET exhaustive_sine_fma)
  target_compile_options(exhaustive_sine_fma PRIVATE -mfma)
endif()
