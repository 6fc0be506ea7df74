# The Debian package: `cpack -G DEB` in the build folder, after the build.
# Dependencies are computed from the programs by dpkg-shlibdeps (package dpkg-dev).

# The Debian files every package carries in its documentation folder.
set(UMBRA_DEBIAN_DOC ${CMAKE_INSTALL_DATADIR}/doc/umbradisc)
set(UMBRA_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
find_program(UMBRA_PACKAGING_GZIP gzip)
if(UMBRA_PACKAGING_GZIP)
  add_custom_command(OUTPUT ${UMBRA_CHANGELOG_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${UMBRA_PACKAGING_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${UMBRA_CHANGELOG_GZ}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    COMMENT "Compressing the package's change log")
  add_custom_target(umbra_changelog ALL DEPENDS ${UMBRA_CHANGELOG_GZ})
  install(FILES ${UMBRA_CHANGELOG_GZ} DESTINATION ${UMBRA_DEBIAN_DOC} COMPONENT Unspecified)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${UMBRA_DEBIAN_DOC})

set(CPACK_PACKAGE_NAME umbradisc)
set(CPACK_PACKAGE_VENDOR "Korvantis Software Inc.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Korvantis Software Inc. <umbradisc@korvantissoft.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hide folders inside a CD image before burning it")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Umbradisc protects folders on a data disc by hiding them inside the disc's\n"
  "image before it is burned: it rewrites the hidden flags of each chosen\n"
  "folder's record in every file-system tree the image has (ISO 9660, Joliet,\n"
  "UDF). A hidden folder no longer shows in readers that honour those flags,\n"
  "while programs that know its full path can still reach what it holds;\n"
  "readers that ignore the flags still list it.\n"
  "\n"
  "The package holds the window (umbradisc), the command line tool\n"
  "umbradisc-cli, the image maker cdimage, the help page and manual pages.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The icons are drawn by Qt's SVG plug-ins, which are loaded at run time: no library names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
