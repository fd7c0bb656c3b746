find_package(GTest REQUIRED)
include(GoogleTest)

# add_pelorix_test(name SOURCES a.cpp b.cpp LIBS pelorix_text ...)
function(add_pelorix_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE PELORIX_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  # No delivered IP table unless a test names one: results must not depend
  # on what is installed or unpacked.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300 ENVIRONMENT_MODIFICATION "PELORIX_IP_TABLE=set:")
endfunction()
