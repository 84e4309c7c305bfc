# Debian packages with CPack, split the Debian way by install component:
#   libquilloxwavfrequency<major>  the shared libraries (runtime)
#   libquilloxwavfrequency-dev     headers, link names, CMake package, .pc, WAVHZCreate(3)
#   wavhz                          the command, wavhz(1), bash completion
#   python3-quilloxwavfrequency    the Python module (architecture all)
# Built by `./build.sh package` from the `package` preset (a system install
# under /usr, no $ORIGIN search paths, stripped), and for ARM boards from
# `package-aarch64` and `package-armhf` (arm64 and armhf packages).
set(runtime_package libquilloxwavfrequency${PROJECT_VERSION_MAJOR})

# Each package's copyright file and changelog, where Debian keeps them. The
# changelog is made from CHANGELOG.md (cmake/debian_changelog.awk), whose
# newest version must be the project's, with the packages' revision after
# it where that is not 1 (1.0.0.1-2: the library's own version record
# stays, the packages tell the new release apart).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md newest_heading REGEX "^## " LIMIT_COUNT 1)
string(REPLACE "." "\\." version_pattern "${PROJECT_VERSION}")
if(NOT newest_heading MATCHES "^## ${version_pattern}(-([0-9]+))? ")
  message(FATAL_ERROR "CHANGELOG.md's newest entry is '${newest_heading}', not version "
                      "${PROJECT_VERSION}: add the entry for it")
endif()
set(debian_revision 1)
if(CMAKE_MATCH_2)
  set(debian_revision ${CMAKE_MATCH_2})
endif()
set(debian_version ${PROJECT_VERSION}-${debian_revision})
# The packages' Maintainer: DEBFULLNAME and DEBEMAIL, as Debian's own tools
# take them, when the packager gives them; else the author of the source's
# newest commit, whose release this is.
if(DEFINED ENV{DEBEMAIL})
  set(maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
  # (Whoever owns the checkout: git reads it for this one command.)
  execute_process(COMMAND git -c safe.directory=* -C ${PROJECT_SOURCE_DIR} log -1 "--format=%an <%ae>"
                  OUTPUT_VARIABLE maintainer OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(QUILLOX_DEBIAN_MAINTAINER "${maintainer}" CACHE STRING
    "The Debian packages' Maintainer, and the signer of their changelog entries")
if(QUILLOX_DEBIAN_DOCS AND NOT QUILLOX_DEBIAN_MAINTAINER MATCHES "^[^<]+ <[^>]+@[^>]+>$")
  message(FATAL_ERROR "The Debian packages need a maintainer, 'NAME <ADDRESS>': set DEBFULLNAME "
                      "and DEBEMAIL, or QUILLOX_DEBIAN_MAINTAINER")
endif()
function(quillox_debian_docs component package)
  set(folder ${PROJECT_BINARY_DIR}/debian/${package})
  file(MAKE_DIRECTORY ${folder})
  execute_process(COMMAND awk -v package=${package} -v maintainer=${QUILLOX_DEBIAN_MAINTAINER}
                          -f ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.awk
                          ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                  OUTPUT_FILE ${folder}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
  add_custom_command(OUTPUT ${folder}/changelog.Debian.gz
                     COMMAND ${GZIP} -9 -n -k -f ${folder}/changelog.Debian
                     DEPENDS ${folder}/changelog.Debian)
  add_custom_target(debian_changelog_${component} ALL DEPENDS ${folder}/changelog.Debian.gz)
  install(FILES ${folder}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          RENAME copyright COMPONENT ${component})
endfunction()
if(QUILLOX_DEBIAN_DOCS)
  quillox_debian_docs(runtime ${runtime_package})
  quillox_debian_docs(development libquilloxwavfrequency-dev)
  quillox_debian_docs(tool wavhz)
  if(NOT CMAKE_CROSSCOMPILING)
    quillox_debian_docs(python python3-quilloxwavfrequency)
  endif()
endif()

set(CPACK_PACKAGE_NAME QuilloxWAVFrequency)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QuilloxWAVFrequency developers")
set(CPACK_PACKAGE_CONTACT "${QUILLOX_DEBIAN_MAINTAINER}")
# Each package's description is its own, first line included: CPack puts
# the package summary in front of each one unless that is its default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Stripped as Debian strips (dh_strip): the compiler's .comment goes too.
foreach(installed QuilloxWAVFrequency:${CMAKE_INSTALL_LIBDIR}:runtime
                  QuilloxAppFramework:${framework_libdir}:runtime wavhz:${CMAKE_INSTALL_BINDIR}:tool)
  string(REPLACE ":" ";" installed "${installed}")
  list(GET installed 0 target)
  list(GET installed 1 folder)
  list(GET installed 2 component)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${folder}/$<TARGET_FILE_NAME:${target}>\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()" COMPONENT ${component})
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL runtime development tool)
if(QUILLOX_DEBIAN_DOCS AND NOT CMAKE_CROSSCOMPILING)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${debian_revision})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the project's own libraries in the build tree; the
# packages' own Depends name the runtime package for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "library writing sine tones to WAV files, the same bytes everywhere
The QuilloxWAVFrequency shared library: WAVHZTryCreate (or WAVHZCreate,
which ends the process on failure) writes a sine tone of a given frequency,
level and length as a 44.1 kHz 16-bit mono WAV file, the same bytes on
every processor, with the application-framework stand-in it registers
with on load. Its phase is single precision: the tone is clean at first
(about -96 dB of error at 1 kHz) and less clean the higher and the longer
it is (after 10 s, -59 dB at 1 kHz and -35 dB at 10 kHz).")
# A shlibs file, so that packages built against it depend on it (the
# library alone: the framework stand-in lives in its private folder, and no
# other package links it), and the ldconfig trigger Debian asks of shared
# libraries. CPack 3.25 also writes a postinst and a postrm that call
# ldconfig, and cannot write Multi-Arch: same (amd64 beside armhf, as
# Debian's libraries are): cmake/debian_runtime_control.cmake mends the
# package's control once CPack is done.
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
  "libQuilloxWAVFrequency ${PROJECT_VERSION_MAJOR} ${runtime_package} (>= ${PROJECT_VERSION})\n")
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian_runtime_control.cmake)
set(CPACK_QUILLOX_RUNTIME_PACKAGE ${runtime_package})
# And a symbols file: a program that calls WAVHZTryCreate depends on a
# release that has it (from 1.0.0.1-2; "~" sorts before the packages built
# of it, as Debian asks), one that calls WAVHZCreate alone on any.
file(WRITE ${PROJECT_BINARY_DIR}/debian/symbols
  "libQuilloxWAVFrequency.so.${PROJECT_VERSION_MAJOR} ${runtime_package} #MINVER#\n"
  " WAVHZCreate@Base ${PROJECT_VERSION}\n"
  " WAVHZTryCreate@Base ${PROJECT_VERSION}-2~\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers
    ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_BINARY_DIR}/debian/symbols)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquilloxwavfrequency-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${runtime_package} (= ${debian_version})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "library writing sine tones to WAV files - development files
The header, link names, CMake package and pkg-config file for building
programs with the QuilloxWAVFrequency library, and its manual page.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME wavhz)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${runtime_package} (= ${debian_version})")
# Its completion is read by bash-completion.
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS bash-completion)
# Cross-built packages (the package-aarch64 and package-armhf presets) take
# the target's architecture. dpkg-shlibdeps knows the build machine's
# libraries alone, so their C and C++ runtime dependencies are the versions
# of the cross toolchain's own runtime, which Debian builds from the same
# sources as the target's libc6 and libstdc++6. (Other cross builds make no
# packages.)
if(CMAKE_CROSSCOMPILING AND QUILLOX_DEBIAN_DOCS)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  else()
    message(FATAL_ERROR "no Debian architecture for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  set(runtime_depends "")
  foreach(library libc6 libstdc++6)
    execute_process(COMMAND dpkg-query -W -f=\${Version}
                            ${library}-${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}-cross
                    OUTPUT_VARIABLE cross_version COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCH "^[0-9]+(\\.[0-9]+)?" cross_version "${cross_version}")
    list(APPEND runtime_depends "${library} (>= ${cross_version})")
  endforeach()
  list(APPEND runtime_depends "libgcc-s1 (>= 3.0)")
  list(JOIN runtime_depends ", " runtime_depends)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${runtime_depends}")
  string(APPEND CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS ", ${runtime_depends}")
endif()

set(CPACK_DEBIAN_TOOL_DESCRIPTION "write a sine tone to a WAV file, the same bytes everywhere
wavhz writes a sine tone of a given frequency, level and length as a
44.1 kHz 16-bit mono WAV file with the QuilloxWAVFrequency library, the
same bytes on every processor. The tone is less clean the higher and the
longer it is; wavhz(1) gives its error by frequency and time.")

# The module calls WAVHZTryCreate: the release that brought it, at least.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quilloxwavfrequency)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, ${runtime_package} (>= ${PROJECT_VERSION}-2~)")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python 3 module writing sine tones to WAV files
The module quilloxwavfrequency, over the QuilloxWAVFrequency library:
create() writes a tone file and raises OSError or MemoryError on failure,
the interpreter carrying on; samples() gives the tone's samples.")

include(CPack)
