# Makes the Windows archive of one build:
#   cmake -DBUILD=build/windows -DSOURCE=. -DOUT=dist -DLABEL=win64
#         -DVERSION=1.2.3.4 -DMACHINE=i386:x86-64 -DTRIPLE=x86_64-w64-mingw32
#         -P packaging/windows_archive.cmake
# giving OUT/QuilloxWAVFrequency-VERSION-LABEL.zip: bin/ (the DLLs and
# wavhz.exe), include/, lib/ (the MinGW import library and one for MSVC,
# made from the module-definition file), LICENSE and README.txt.
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
file(COPY ${SOURCE}/LICENSE DESTINATION ${stage})
set(PROJECT_VERSION ${VERSION})
if(LABEL STREQUAL "win64")
  set(ARCHIVE_LABEL 64-bit)
  set(MSVC_PROMPT "x64 Native Tools")
else()
  set(ARCHIVE_LABEL 32-bit)
  set(MSVC_PROMPT "x86 Native Tools")
endif()
set(MINGW_TRIPLE ${TRIPLE})
configure_file(${SOURCE}/packaging/README.txt.in ${stage}/README.txt @ONLY NEWLINE_STYLE CRLF)
file(REMOVE ${OUT}/${name}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip ${name}
                WORKING_DIRECTORY ${OUT} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage})
message(STATUS "${OUT}/${name}.zip")
