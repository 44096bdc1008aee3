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
  install(FILES ${PROJECT_SOURCE_DIR}/man/kalivor.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/man/kalivor-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME kalivor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Data logger for bench multimeters with scanner cards")
set(CPACK_PACKAGE_DESCRIPTION
    "KALIVOR finds the bench multimeters VISA reaches over USB or GPIB, configures the channel scan of their scanner cards, runs the scans, shows the readings live and in a trend chart and logs every scan into SQLite record files that can be browsed, charted and exported as CSV. kalivor-cli does the same without windows.")
set(CPACK_PACKAGE_CONTACT "KALIVOR developers <kalivor@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kalivor.example.org/")
# Listed rather than found by dpkg-shlibdeps, so a package builds without dpkg-dev.
set(KALIVOR_DEB_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libsqlite3-0 (>= 3.34), libpq5")
if(KALIVOR_BUILD_UI)
  string(APPEND KALIVOR_DEB_DEPENDS
         ", libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6printsupport6 (>= 6.4), qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KALIVOR_DEB_DEPENDS}")
# Some of the program's own texts are Chinese (full-width colons, the copy error message).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups, xdg-utils")
include(CPack)
