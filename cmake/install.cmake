# SPDX-License-Identifier: GPL-3.0-or-later
# Installation as a desktop application: the three programs, the desktop
# entry, AppStream metadata, the icon in the hicolor theme, manual pages, the
# user guide, the account server's systemd unit, and a Debian package of it
# all through CPack (tools/package.sh).
include(GNUInstallDirs)

set(ORDIKA_APP_ID "org.ordika.Ordika" CACHE STRING "Application id: names the desktop entry, metainfo and icon")
set(ORDIKA_HOMEPAGE "https://ordika.example.org" CACHE STRING "Project web site named by the metainfo and the package")
set(ORDIKA_MAINTAINER "The Ordika developers <maintainers@ordika.example.org>" CACHE STRING "Debian package maintainer")

# Paths compiled into installed files must be those of the final location,
# not of a DESTDIR staging tree.
set(ORDIKA_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}")

# --- Programs ---------------------------------------------------------------
foreach(prog ordika ordika-cli ordika-server)
  if(TARGET ${prog})
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(staged ${PROJECT_BINARY_DIR}/install)

# --- Desktop entry, metainfo, icons (only with the window) ------------------
if(ORDIKA_GUI)
  # The screenshot's size goes into the metainfo: read from the PNG header.
  set(shot ${PROJECT_SOURCE_DIR}/resources/screenshots/main-window.png)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${shot})
  file(READ ${shot} png_ihdr OFFSET 16 LIMIT 8 HEX)
  string(SUBSTRING "${png_ihdr}" 0 8 w)
  string(SUBSTRING "${png_ihdr}" 8 8 h)
  math(EXPR ORDIKA_SCREENSHOT_WIDTH "0x${w}")
  math(EXPR ORDIKA_SCREENSHOT_HEIGHT "0x${h}")
  configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/ordika.desktop.in
                 ${staged}/${ORDIKA_APP_ID}.desktop @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/resources/desktop/ordika.metainfo.xml.in
                 ${staged}/${ORDIKA_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${staged}/${ORDIKA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${staged}/${ORDIKA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  set(icon_svg ${PROJECT_SOURCE_DIR}/resources/ordika.svg)
  install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${ORDIKA_APP_ID}.svg)
  # Bitmap sizes for menus and docks that do not scale SVG themselves.
  find_program(RSVG_CONVERT rsvg-convert)
  if(RSVG_CONVERT)
    set(icon_pngs)
    foreach(size 16 22 24 32 48 64 128 256)
      set(png ${staged}/icons/${size}x${size}/${ORDIKA_APP_ID}.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${staged}/icons/${size}x${size}
        COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --keep-aspect-ratio --format=png
                --output=${png} ${icon_svg}
        DEPENDS ${icon_svg}
        VERBATIM)
      list(APPEND icon_pngs ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(ordika_icon_pngs ALL DEPENDS ${icon_pngs})
  else()
    message(WARNING "rsvg-convert (librsvg2-bin, tools/deps.sh) not found: only the scalable icon is installed")
  endif()
endif()

# --- Manual pages, compressed as Debian ships them ---------------------------
set(man_gz)
foreach(page ordika ordika-cli ordika-server)
  if(page STREQUAL "ordika" AND NOT ORDIKA_GUI)
    continue()
  endif()
  # Version and date from the project, as the about box and metainfo have them.
  set(src ${staged}/man/${page}.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${src} @ONLY)
  set(gz ${staged}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${staged}/man
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${src} ${gz}
    DEPENDS ${src}
    VERBATIM)
  list(APPEND man_gz ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(ordika_man_pages ALL DEPENDS ${man_gz})

# --- User guide, one HTML tree per language ------------------------------------
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/guide)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/guide/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/guide)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The Debian changelog of this release, dated by its release date.
execute_process(COMMAND date -u -R -d "${ORDIKA_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE ORDIKA_RELEASE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE date_rc)
if(NOT date_rc EQUAL 0)
  message(FATAL_ERROR "ORDIKA_RELEASE_DATE '${ORDIKA_RELEASE_DATE}' is not a date (YYYY-MM-DD)")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in ${staged}/changelog @ONLY)
add_custom_command(OUTPUT ${staged}/changelog.gz
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh ${staged}/changelog ${staged}/changelog.gz
  DEPENDS ${staged}/changelog
  VERBATIM)
add_custom_target(ordika_changelog ALL DEPENDS ${staged}/changelog.gz)
install(FILES ${staged}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Every Debian package states its copyright beside its changelog.
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/copyright.in ${staged}/copyright @ONLY)
install(FILES ${staged}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- The account server as a system service -------------------------------------
# Under the prefix, not GNUInstallDirs' multiarch LIBDIR: systemd looks in
# lib/systemd/system and lib/sysusers.d of /usr and /usr/local.
configure_file(${PROJECT_SOURCE_DIR}/server/ordika-server.service.in ${staged}/ordika-server.service @ONLY)
install(FILES ${staged}/ordika-server.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/server/ordika-server.sysusers DESTINATION lib/sysusers.d
        RENAME ordika-server.conf)
# Many instances on one PostgreSQL database, one per port, behind haproxy
# (deploy/, and the administrators' page of the guide).
configure_file(${PROJECT_SOURCE_DIR}/deploy/ordika-server@.service.in ${staged}/ordika-server@.service @ONLY)
install(FILES ${staged}/ordika-server@.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/haproxy.cfg DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# --- Debian package ---------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ordika)
set(CPACK_PACKAGE_VENDOR "The Ordika developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "personal organizer with encrypted repositories")
# The extended description; CPack puts the summary above it as the synopsis
# and indents every line itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ordika keeps notes, tasks, events, contacts and keys (web accounts with
their passwords) under a tree of tags, with reminders, recurrence and a
calendar. Items live in repositories, SQLite databases encrypted page by
page with AES-256, unlocked by one master password; every change is one
undo step and earlier versions are kept encrypted.

The package holds the desktop program (ordika), its command-line companion
(ordika-cli) and the self-hostable account server that synchronises
repositories end to end encrypted (ordika-server, with a systemd unit that
is not enabled by default).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORDIKA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ORDIKA_HOMEPAGE}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies from dpkg-shlibdeps; the SVG pixbuf loader that draws
# the compiled-in icons is loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ORDIKA_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "librsvg2-common")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, hicolor-icon-theme")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/deb/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
