# SPDX-License-Identifier: MIT
# Stand-in vendor VISA libraries for the loader tests: one with the simulated instruments behind the
# eight C functions, one that lacks viClose.
add_library(kalivor_standin_visa SHARED ${CMAKE_CURRENT_LIST_DIR}/standin/standin_visa.cpp)
target_link_libraries(kalivor_standin_visa PRIVATE kalivor_core)
# Only the VISA functions are exported; the core's own symbols stay inside, so they can never
# clash with the copy linked into the test program.
set_target_properties(kalivor_standin_visa PROPERTIES CXX_VISIBILITY_PRESET hidden
                      VISIBILITY_INLINES_HIDDEN ON)
target_link_options(kalivor_standin_visa PRIVATE -Wl,--exclude-libs,ALL -Wl,-Bsymbolic)

add_library(kalivor_standin_visa_partial SHARED ${CMAKE_CURRENT_LIST_DIR}/standin/partial_visa.cpp)
set_target_properties(kalivor_standin_visa_partial PROPERTIES CXX_VISIBILITY_PRESET hidden)

add_dependencies(test_visa kalivor_standin_visa kalivor_standin_visa_partial)
target_compile_definitions(test_visa PRIVATE
  KALIVOR_STANDIN_VISA="$<TARGET_FILE:kalivor_standin_visa>"
  KALIVOR_STANDIN_VISA_PARTIAL="$<TARGET_FILE:kalivor_standin_visa_partial>")
