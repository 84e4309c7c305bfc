# Run by CPack once the Debian packages are made (CPACK_POST_BUILD_SCRIPTS):
# gives the runtime package's control what CPack 3.25 cannot, Multi-Arch:
# same, and takes out the postinst and postrm it wrote to call ldconfig,
# whose work the package's ldconfig trigger does. The files (data.tar.*)
# and their md5sums are untouched; the control archive is written again
# with root as owner, as CPack wrote it.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  if(NOT name MATCHES "^${CPACK_QUILLOX_RUNTIME_PACKAGE}_.*\\.deb$")
    continue()
  endif()
  set(work ${deb}.control)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work}/control)
  execute_process(COMMAND ar x ${deb} WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND tar -xzf ../control.tar.gz WORKING_DIRECTORY ${work}/control
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${work}/control/postinst ${work}/control/postrm)
  file(READ ${work}/control/control control)
  if(NOT control MATCHES "\nMulti-Arch: ")
    string(REGEX REPLACE "(Architecture: [^\n]*\n)" "\\1Multi-Arch: same\n" control "${control}")
    file(WRITE ${work}/control/control "${control}")
  endif()
  file(GLOB entries RELATIVE ${work}/control ${work}/control/*)
  list(SORT entries)
  execute_process(COMMAND tar --owner=0 --group=0 --numeric-owner --mtime=@0 --sort=name -czf
                          ../control.tar.gz ${entries}
                  WORKING_DIRECTORY ${work}/control COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB data RELATIVE ${work} ${work}/data.tar.*)
  file(REMOVE ${deb})
  execute_process(COMMAND ar rc ${deb} debian-binary control.tar.gz ${data}
                  WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${work})
endforeach()
