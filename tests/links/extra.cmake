# SPDX-License-Identifier: MIT
# Stand-in libgpib for the GPIB provider tests: loaded by path at run time like the real one, once
# with the per-thread result functions of current linux-gpib and once with only the old variables.
foreach(variant standin_gpib standin_gpib_globals)
  add_library(kalivor_${variant} SHARED ${dir}/standin_gpib/standin_gpib.cpp)
  set_target_properties(kalivor_${variant} PROPERTIES CXX_VISIBILITY_PRESET default)
  add_dependencies(test_links kalivor_${variant})
endforeach()
target_compile_definitions(kalivor_standin_gpib_globals PRIVATE STANDIN_GLOBALS_ONLY)
target_include_directories(test_links PRIVATE ${dir}/standin_gpib)
target_compile_definitions(test_links PRIVATE
  KALIVOR_STANDIN_GPIB="$<TARGET_FILE:kalivor_standin_gpib>"
  KALIVOR_STANDIN_GPIB_GLOBALS="$<TARGET_FILE:kalivor_standin_gpib_globals>")
