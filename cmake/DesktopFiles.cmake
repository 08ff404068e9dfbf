# Installs what makes the tool a desktop application: the launcher, the icon
# (the hand-drawn SVG, and PNGs rendered from it at build time for the sizes
# menus ask for), the AppStream metadata and the manual page.
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${_pkg}/thlogger-config.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/thlogger-config.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_pkg}/thlogger-config.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(THLOGGER_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(_pngs)
  foreach(size ${THLOGGER_ICON_SIZES})
    set(_png ${CMAKE_BINARY_DIR}/icons/${size}/thlogger-config.png)
    add_custom_command(OUTPUT ${_png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${_png} ${_pkg}/thlogger-config.svg
      DEPENDS ${_pkg}/thlogger-config.svg VERBATIM)
    list(APPEND _pngs ${_png})
    install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(thlogger_icons ALL DEPENDS ${_pngs})
else()
  message(WARNING "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
endif()

# Compressed, as Debian policy asks; man reads it so everywhere.
find_program(GZIP gzip REQUIRED)
set(_man ${CMAKE_BINARY_DIR}/man/thlogger-config.1.gz)
add_custom_command(OUTPUT ${_man}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND sh -c "${GZIP} -9n < '${_pkg}/thlogger-config.1' > '${_man}'"
  DEPENDS ${_pkg}/thlogger-config.1 VERBATIM)
add_custom_target(thlogger_man ALL DEPENDS ${_man})
install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
