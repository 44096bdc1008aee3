# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and checks what lands there: programs, desktop entry
# (desktop-file-validate), icons, man pages, and that an installed copy keeps records per user.
add_test(NAME install_tree
         COMMAND bash ${dir}/check_install.sh ${CMAKE_BINARY_DIR} ${CMAKE_COMMAND}
                 $<BOOL:${KALIVOR_BUILD_UI}>)
set_tests_properties(install_tree PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8;QT_QPA_PLATFORM=offscreen"
                     TIMEOUT 120)
