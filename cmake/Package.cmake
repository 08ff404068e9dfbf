# `cpack -G DEB` in the build folder (tools/dev package): a Debian package
# installing under /usr, so the udev rule lands in /usr/lib/udev/rules.d.
set(THLOGGER_MAINTAINER "thlogger-config maintainers <thlogger-config@example.org>"
    CACHE STRING "The Debian package's maintainer")

# Debian wants a compressed changelog and a copyright file in the doc folder.
set(_changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND sh -c "${GZIP} -9n < '${PROJECT_SOURCE_DIR}/packaging/debian/changelog' > '${_changelog}'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(thlogger_changelog ALL DEPENDS ${_changelog})
install(FILES ${_changelog} ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# What `apply` takes: the profile's fields, and an example profile.
install(FILES ${PROJECT_SOURCE_DIR}/docs/profile.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/cold-room.json DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME thlogger-config)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${THLOGGER_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${THLOGGER_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure USB temperature/humidity data loggers")
# The summary is the first line; this the long description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"A desktop tool that prepares USB temperature/humidity data loggers: it reads
a plugged-in logger's parameters into one form, and Configure writes the
edited form to the logger together with the PC clock and time zone. Drive
loggers (USB mass storage) and HID loggers are supported.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
