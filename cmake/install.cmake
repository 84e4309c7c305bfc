# Installation: the library with its SONAME links, its header, the framework
# stand-in it imports from, wavhz and its man page, a CMake package and a
# pkg-config file. Everything finds everything else relative to where it is,
# so the tree works under any prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The library finds the framework in its private folder through
# $ORIGIN/quillox, wherever both are (build tree, any prefix, /usr). wavhz
# of a relocatable tree finds the library beside it (the build tree) or in
# the tree's library folder; a system install (the Debian packages) needs
# and wants no search path for it. Each is built with the search path it is
# installed with: one that CMake rewrites at install time is built with
# room for the new one made of empty entries, and the loader reads an empty
# entry as the working directory, where anyone's libstdc++ would be found
# first.
option(QUILLOX_RELOCATABLE "Installed programs and libraries find each other relative to themselves" ON)
set(framework_libdir ${CMAKE_INSTALL_LIBDIR}/quillox)
if(NOT WIN32)
  set_target_properties(QuilloxWAVFrequency PROPERTIES INSTALL_RPATH "$ORIGIN/quillox")
endif()
set_target_properties(QuilloxWAVFrequency QuilloxAppFramework PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
if(TARGET wavhz)
  if(QUILLOX_RELOCATABLE)
    set_target_properties(wavhz PROPERTIES INSTALL_RPATH "$ORIGIN:$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
  set_target_properties(wavhz PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
endif()
target_include_directories(QuilloxWAVFrequency PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
if(NOT QUILLOX_INSTALL)
  return()
endif()

# Three components, the Debian packages' split: runtime (the shared
# libraries), development (headers, link names, CMake package, pkg-config
# file) and tool (wavhz and its man page).
install(TARGETS QuilloxWAVFrequency
        EXPORT QuilloxWAVFrequencyTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The framework: its runtime file alone (no host links it; no link name, no
# header).
install(TARGETS QuilloxAppFramework
        EXPORT QuilloxWAVFrequencyTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${framework_libdir} COMPONENT runtime NAMELINK_SKIP
        ARCHIVE DESTINATION ${framework_libdir} COMPONENT development)
if(QUILLOX_BUILD_TOOLS)
  install(TARGETS wavhz RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
# And for Debian, a fourth: the Python module (python/), in the folder every
# Debian Python 3 reads. It is architecture-independent, so only the build
# machine's own packages carry it.
if(QUILLOX_DEBIAN_DOCS AND NOT CMAKE_CROSSCOMPILING)
  install(DIRECTORY python/quilloxwavfrequency DESTINATION lib/python3/dist-packages
          COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
endif()
install(FILES include/QuilloxWAVFrequency.h ${generated_include_dir}/QuilloxWAVFrequencyVersion.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
# The man pages compressed, as man pages are installed (gzip -n: no name or
# time inside, so the same bytes every build): wavhz(1) with the command,
# WAVHZCreate(3) with the header.
find_program(GZIP gzip)
set(pages WAVHZCreate.3:development)
if(QUILLOX_BUILD_TOOLS)
  list(APPEND pages wavhz.1:tool)
endif()
foreach(page ${pages})
  string(REPLACE ":" ";" page "${page}")
  list(GET page 0 name)
  list(GET page 1 component)
  string(REGEX MATCH "[0-9]$" section "${name}")
  set(file ${PROJECT_BINARY_DIR}/man/${name})
  if(GZIP)
    add_custom_command(OUTPUT ${file}.gz COMMAND ${GZIP} -9 -n -k -f ${file} DEPENDS ${file})
    string(REPLACE "." "_" target "man_page_${name}")
    add_custom_target(${target} ALL DEPENDS ${file}.gz)
    set(file ${file}.gz)
  endif()
  install(FILES ${file} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endforeach()
# WAVHZTryCreate(3) is that page too, as a link beside it.
if(GZIP)
  set(try_create_page WAVHZTryCreate.3.gz)
  file(CREATE_LINK WAVHZCreate.3.gz ${PROJECT_BINARY_DIR}/man/${try_create_page} SYMBOLIC)
else()
  set(try_create_page WAVHZTryCreate.3)
  file(CREATE_LINK WAVHZCreate.3 ${PROJECT_BINARY_DIR}/man/${try_create_page} SYMBOLIC)
endif()
install(FILES ${PROJECT_BINARY_DIR}/man/${try_create_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
        COMPONENT development)
# Completion of wavhz's options and of file names for OUTPUT, where
# bash-completion looks for it.
if(QUILLOX_BUILD_TOOLS)
  install(FILES tools/completion/wavhz.bash
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME wavhz
          COMPONENT tool)
endif()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QuilloxWAVFrequency)
install(EXPORT QuilloxWAVFrequencyTargets NAMESPACE QuilloxWAVFrequency::
        DESTINATION ${package_dir} COMPONENT development)
configure_package_config_file(cmake/QuilloxWAVFrequencyConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfig.cmake INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfig.cmake
              ${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfigVersion.cmake
        DESTINATION ${package_dir} COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(cmake/QuilloxWAVFrequency.pc.in ${PROJECT_BINARY_DIR}/QuilloxWAVFrequency.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/QuilloxWAVFrequency.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
