# SPDX-License-Identifier: MIT
# The central store's tests share one private PostgreSQL server per run of the binary: starting
# one per test case (as gtest_discover_tests would, one process each) costs seconds apiece. So
# they live in *_tests.cpp and run as a single CTest test.
file(GLOB central_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_tests.cpp
     ${CMAKE_CURRENT_LIST_DIR}/central_fixture.cpp)
add_executable(test_central ${central_tests})
target_link_libraries(test_central PRIVATE kalivor_test_support GTest::gtest_main)
add_dependencies(test_central kalivor-cli)
add_test(NAME test_central COMMAND test_central)
set_tests_properties(test_central PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8" TIMEOUT 240)
# The central windows' tests that read a real server share its fixture.
if(TARGET test_central_ui)
  target_sources(test_central_ui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/central_fixture.cpp)
endif()
