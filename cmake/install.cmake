# SPDX-License-Identifier: MIT
# Installation: the two programs (their install() rules sit with the targets in src/), the desktop
# entry, the icons of the hicolor theme, the man pages; and a .deb through CPack
# (cpack -G DEB in the build folder).
include(GNUInstallDirs)

set(KALIVOR_DATA ${PROJECT_SOURCE_DIR}/data)
if(KALIVOR_BUILD_UI)
  install(FILES ${KALIVOR_DATA}/kalivor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${KALIVOR_DATA}/icons/kalivor.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${KALIVOR_DATA}/icons/hicolor/${size}x${size}/apps/kalivor.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# Man pages and the changelog are installed compressed, as Debian's policy wants them; -n leaves
# the time stamp out, so the same sources give the same package.
set(KALIVOR_COMPRESSED)
function(kalivor_gzip source target)
  add_custom_command(OUTPUT ${target} COMMAND gzip -9n -c ${source} > ${target} DEPENDS ${source}
                     VERBATIM)
  set(KALIVOR_COMPRESSED ${KALIVOR_COMPRESSED} ${target} PARENT_SCOPE)
endfunction()
set(KALIVOR_GZ_DIR ${CMAKE_BINARY_DIR}/compressed)
file(MAKE_DIRECTORY ${KALIVOR_GZ_DIR})
set(KALIVOR_MAN_PAGES kalivor-cli)
if(KALIVOR_BUILD_UI)
  list(APPEND KALIVOR_MAN_PAGES kalivor)
endif()
foreach(page ${KALIVOR_MAN_PAGES})
  kalivor_gzip(${PROJECT_SOURCE_DIR}/man/${page}.1 ${KALIVOR_GZ_DIR}/${page}.1.gz)
  install(FILES ${KALIVOR_GZ_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
kalivor_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${KALIVOR_GZ_DIR}/changelog.gz)
add_custom_target(kalivor_compressed_docs ALL DEPENDS ${KALIVOR_COMPRESSED})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${KALIVOR_GZ_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README's pictures, where its links point.
file(GLOB KALIVOR_DOC_PICTURES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${KALIVOR_DOC_PICTURES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

set(CPACK_PACKAGE_NAME kalivor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Data logger for bench multimeters with scanner cards")
# Debian's extended description, after the summary line: lines of at most 80 characters, "."
# lines between paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "KALIVOR finds the bench digital multimeters that VISA reaches over USB or
GPIB and identifies them and their 10- or 20-channel scanner cards. It sets
up the measuring function of each channel (DC and AC volts, current through a
shunt, resistance, frequency, period, thermocouples, RTDs), runs the scans of
up to four instruments at once, shows the readings live and in a trend chart
and logs every scan into an SQLite record file per instrument.
.
Records can be browsed page by page, charted channel by channel and exported
as CSV. Without a vendor VISA library, KALIVOR talks to usbtmc devices and
linux-gpib boards itself.
.
This package holds the windowed program kalivor and kalivor-cli, which lists,
sets up and runs the instruments and exports the records from scripts.")
set(CPACK_PACKAGE_CONTACT "The KALIVOR developers <kalivor@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) finds the libraries the programs link to; without it the list below
# stands in. The Qt platform plugins are loaded at run time, so no tool finds them.
find_program(KALIVOR_SHLIBDEPS dpkg-shlibdeps)
if(KALIVOR_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(KALIVOR_DEB_DEPENDS "")
else()
  set(KALIVOR_DEB_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libsqlite3-0 (>= 3.34)")
  if(KALIVOR_BUILD_UI)
    string(APPEND KALIVOR_DEB_DEPENDS
           ", libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6printsupport6 (>= 6.4)")
  endif()
endif()
if(KALIVOR_BUILD_UI)
  if(KALIVOR_DEB_DEPENDS)
    string(APPEND KALIVOR_DEB_DEPENDS ", ")
  endif()
  string(APPEND KALIVOR_DEB_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KALIVOR_DEB_DEPENDS}")
# Some of the program's own texts are Chinese (full-width colons, the copy error message).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups, xdg-utils")
include(CPack)
