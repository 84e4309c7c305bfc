# Makes the Windows archive of one build:
#   cmake -DBUILD=build/windows -DSOURCE=. -DOUT=dist -DLABEL=win64
#         -DVERSION=1.2.3.4 -DMACHINE=i386:x86-64 -DTRIPLE=x86_64-w64-mingw32
#         -DDESCRIPTION="..." -P packaging/windows_archive.cmake
# giving OUT/QuilloxWAVFrequency-VERSION-LABEL.zip: bin/ (the DLLs and
# wavhz.exe), include/, lib/ (the MinGW import library and one for MSVC,
# made from the module-definition file; the CMake package in
# lib/cmake/QuilloxWAVFrequency, the pkg-config file in lib/pkgconfig),
# LICENSE and README.txt.
set(name QuilloxWAVFrequency-${VERSION}-${LABEL})
set(stage ${OUT}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/bin ${stage}/include ${stage}/lib)
file(COPY ${BUILD}/bin/QuilloxWAVFrequency.dll ${BUILD}/bin/QuilloxAppFramework.dll
          ${BUILD}/bin/wavhz.exe DESTINATION ${stage}/bin)
file(COPY ${SOURCE}/include/QuilloxWAVFrequency.h
          ${BUILD}/include/QuilloxWAVFrequencyVersion.h DESTINATION ${stage}/include)
file(COPY ${BUILD}/libQuilloxWAVFrequency.dll.a DESTINATION ${stage}/lib)
find_program(DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
execute_process(COMMAND ${DLLTOOL} -m ${MACHINE} -d ${SOURCE}/src/QuilloxWAVFrequency.def
                        -l ${stage}/lib/QuilloxWAVFrequency.lib
                COMMAND_ERROR_IS_FATAL ANY)
# find_package(QuilloxWAVFrequency) and pkg-config, relative to where the
# archive is unpacked.
include(CMakePackageConfigHelpers)
set(package_dir ${stage}/lib/cmake/QuilloxWAVFrequency)
configure_file(${SOURCE}/packaging/QuilloxWAVFrequencyConfig.cmake.in
               ${package_dir}/QuilloxWAVFrequencyConfig.cmake COPYONLY)
if(LABEL STREQUAL "win64")
  set(CMAKE_SIZEOF_VOID_P 8)
else()
  set(CMAKE_SIZEOF_VOID_P 4)
endif()
write_basic_package_version_file(${package_dir}/QuilloxWAVFrequencyConfigVersion.cmake
  VERSION ${VERSION} COMPATIBILITY SameMajorVersion)
set(pc_to_prefix ../..)
set(CMAKE_INSTALL_LIBDIR lib)
set(CMAKE_INSTALL_INCLUDEDIR include)
set(PROJECT_DESCRIPTION ${DESCRIPTION})
set(PROJECT_VERSION ${VERSION})
configure_file(${SOURCE}/cmake/QuilloxWAVFrequency.pc.in
               ${stage}/lib/pkgconfig/QuilloxWAVFrequency.pc @ONLY)
file(COPY ${SOURCE}/LICENSE DESTINATION ${stage})
if(LABEL STREQUAL "win64")
  set(ARCHIVE_LABEL 64-bit)
  set(MSVC_PROMPT "x64 Native Tools")
  # Debian's wine picks the 32-bit loader, which machines without 32-bit
  # support cannot run.
  set(WINE_COMMAND wine64)
else()
  set(ARCHIVE_LABEL 32-bit)
  set(MSVC_PROMPT "x86 Native Tools")
  set(WINE_COMMAND wine)
endif()
set(MINGW_TRIPLE ${TRIPLE})
configure_file(${SOURCE}/packaging/README.txt.in ${stage}/README.txt @ONLY NEWLINE_STYLE CRLF)
file(REMOVE ${OUT}/${name}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip ${name}
                WORKING_DIRECTORY ${OUT} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage})
message(STATUS "${OUT}/${name}.zip")
