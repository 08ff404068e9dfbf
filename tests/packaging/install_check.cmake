# cmake --install into a scratch DESTDIR under /usr; every file a desktop
# needs must land where the freedesktop and Debian layouts look for it.
file(REMOVE_RECURSE ${DESTDIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DESTDIR}
          ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(expected
  bin/thlogger-config
  lib/udev/rules.d/70-thlogger-config.rules
  share/applications/thlogger-config.desktop
  share/metainfo/thlogger-config.metainfo.xml
  share/man/man1/thlogger-config.1.gz
  share/icons/hicolor/scalable/apps/thlogger-config.svg)
foreach(size ${ICON_SIZES})
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/thlogger-config.png)
endforeach()
foreach(f ${expected})
  if(NOT EXISTS ${DESTDIR}/usr/${f})
    message(FATAL_ERROR "not installed: /usr/${f}")
  endif()
endforeach()
# A PNG of the wrong size would be ignored or scaled by the icon theme.
foreach(size ${ICON_SIZES})
  file(READ ${DESTDIR}/usr/share/icons/hicolor/${size}x${size}/apps/thlogger-config.png hdr
       LIMIT 24 HEX)
  string(SUBSTRING "${hdr}" 32 16 wh)
  string(SUBSTRING "${wh}" 0 8 wpart)
  string(SUBSTRING "${wh}" 8 8 hpart)
  math(EXPR w "0x${wpart}")
  math(EXPR h "0x${hpart}")
  if(NOT w EQUAL size OR NOT h EQUAL size)
    message(FATAL_ERROR "${size}x${size} icon is ${w}x${h}")
  endif()
endforeach()
