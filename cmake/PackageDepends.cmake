# Read by cpack. The window library travels inside the program, where dpkg-shlibdeps does not look,
# so the Qt libraries it links are added to the package's dependencies here, with the versions
# dpkg-shlibdeps finds for them.
if(CPACK_GENERATOR STREQUAL "DEB")
  file(MAKE_DIRECTORY ${CPACK_TANDOR_SHLIBDEPS_DIR}/debian)
  file(TOUCH ${CPACK_TANDOR_SHLIBDEPS_DIR}/debian/control)
  execute_process(COMMAND dpkg-shlibdeps -O ${CPACK_TANDOR_WINDOW_LIBRARY}
    WORKING_DIRECTORY ${CPACK_TANDOR_SHLIBDEPS_DIR}
    OUTPUT_VARIABLE tandor_shlibs ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "^shlibs:Depends=|\n$" "" tandor_shlibs "${tandor_shlibs}")
  string(REPLACE ", " ";" tandor_shlibs "${tandor_shlibs}")
  list(FILTER tandor_shlibs INCLUDE REGEX "^libqt6")
  if(NOT tandor_shlibs)
    message(FATAL_ERROR "no Qt library found in ${CPACK_TANDOR_WINDOW_LIBRARY}")
  endif()
  list(JOIN tandor_shlibs ", " tandor_shlibs)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${tandor_shlibs}")
endif()
