# Installation: the library with its SONAME links, its header, the framework
# stand-in it imports from, wavhz and its man page, a CMake package and a
# pkg-config file. Everything finds everything else relative to where it is,
# so the tree works under any prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(QuilloxWAVFrequency QuilloxAppFramework PROPERTIES INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH bin_to_lib "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(wavhz PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
target_include_directories(QuilloxWAVFrequency PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(QuilloxAppFramework PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS QuilloxWAVFrequency QuilloxAppFramework wavhz
        EXPORT QuilloxWAVFrequencyTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/QuilloxWAVFrequency.h ${generated_include_dir}/QuilloxWAVFrequencyVersion.h
              platform/framework/QuilloxAppFramework.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_BINARY_DIR}/man/wavhz.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QuilloxWAVFrequency)
install(EXPORT QuilloxWAVFrequencyTargets NAMESPACE QuilloxWAVFrequency::
        DESTINATION ${package_dir})
configure_package_config_file(cmake/QuilloxWAVFrequencyConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfig.cmake INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfig.cmake
              ${PROJECT_BINARY_DIR}/QuilloxWAVFrequencyConfigVersion.cmake
        DESTINATION ${package_dir})

# pkg-config: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(cmake/QuilloxWAVFrequency.pc.in ${PROJECT_BINARY_DIR}/QuilloxWAVFrequency.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/QuilloxWAVFrequency.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
