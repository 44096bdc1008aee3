# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and checks what lands there: programs, desktop entry
# (desktop-file-validate), icons, man pages, and that an installed copy keeps records per user.
add_test(NAME install_tree
         COMMAND bash ${dir}/check_install.sh ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND}
                 $<BOOL:${KALIVOR_BUILD_UI}>)
set_tests_properties(install_tree PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8;QT_QPA_PLATFORM=offscreen"
                     TIMEOUT 120)

# Packs the build as a .deb and checks the package unpacked with dpkg -x: control fields, stripped
# programs that run from there, and the same tree checks.
find_program(KALIVOR_DPKG_DEB dpkg-deb)
find_program(KALIVOR_READELF readelf)
if(KALIVOR_BUILD_UI AND KALIVOR_DPKG_DEB AND KALIVOR_READELF)
  get_filename_component(KALIVOR_CMAKE_BIN_DIR ${CMAKE_COMMAND} DIRECTORY)
  add_test(NAME deb_tree
           COMMAND bash ${dir}/deb_test.sh ${CMAKE_BINARY_DIR} ${KALIVOR_CMAKE_BIN_DIR}/cpack)
  set_tests_properties(deb_tree PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8;QT_QPA_PLATFORM=offscreen"
                       TIMEOUT 240)
endif()
