# Installation and the Debian package (scripts/package.sh builds it with CPack).
include(GNUInstallDirs)

# Every program the project builds goes to /usr/bin: the executables of this folder and its
# sub-folders, but for the tests and benchmarks. Included last, so that it sees them all.
function(tandor_install_programs directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    if(NOT subdirectory MATCHES "/(tests|bench)$")
      tandor_install_programs(${subdirectory})
    endif()
  endforeach()
endfunction()
tandor_install_programs(${PROJECT_SOURCE_DIR})

# Debian wants the man page and the changelog compressed without a time stamp.
set(tandor_package_dir ${PROJECT_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${tandor_package_dir})
string(TIMESTAMP tandor_package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${tandor_package_dir}/changelog
  "tandor (${PROJECT_VERSION}) stable; urgency=medium\n\n"
  "  * Tandor ${PROJECT_VERSION}.\n\n"
  " -- Tandor maintainers <maintainers@users.noreply.c-seed-8417183d.example>  "
  "${tandor_package_date}\n")
find_program(TANDOR_GZIP gzip REQUIRED)
foreach(pair "packaging/Tandor.1:Tandor.1.gz" "packaging/tandor-publish.1:tandor-publish.1.gz"
    "packaging/tandor-sign.1:tandor-sign.1.gz" "${tandor_package_dir}/changelog:changelog.gz")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  if(NOT IS_ABSOLUTE ${from})
    set(from ${PROJECT_SOURCE_DIR}/${from})
  endif()
  execute_process(COMMAND ${TANDOR_GZIP} -9nc ${from}
    OUTPUT_FILE ${tandor_package_dir}/${to} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(tandor_doc ${CMAKE_INSTALL_DATADIR}/doc/tandor)
install(FILES ${tandor_package_dir}/Tandor.1.gz ${tandor_package_dir}/tandor-publish.1.gz
  ${tandor_package_dir}/tandor-sign.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${tandor_package_dir}/changelog.gz packaging/copyright
  DESTINATION ${tandor_doc})
install(FILES packaging/tandor-publisher.desktop packaging/tandor-net.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tandor.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tandor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tandor maintainers <maintainers@users.noreply.c-seed-8417183d.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps client programs up to date from an FTP or HTTP server")
set(CPACK_PACKAGE_DESCRIPTION
  "Tandor brings the files of a family of client programs up to date each time\n"
  "a product starts it: it downloads the product's manifest, installs what is new\n"
  "or missing, keeps an installation record and starts the product. It also\n"
  "carries the publisher window that edits and uploads manifests, and a display\n"
  "of the machine's network addresses.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries the programs link: libarchive, loaded at the first extraction; Korean
# glyphs, the publisher's monospace font, Qt's Korean texts, the SVG icon.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libarchive13, fonts-nanum, fonts-liberation2, qt6-translations-l10n, libqt6svg6")
set(CPACK_TANDOR_WINDOW_LIBRARY ${TANDOR_WINDOW_LIBRARY})
set(CPACK_TANDOR_SHLIBDEPS_DIR ${tandor_package_dir}/shlibdeps)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageDepends.cmake)
include(CPack)
