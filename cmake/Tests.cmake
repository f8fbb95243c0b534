# One test executable per subsystem; one CTest test per executable, since
# every Wine start costs about a second.
if(ORVEX_WINDOWS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(ORVEX_GTEST gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(ORVEX_GTEST GTest::gtest GTest::gtest_main)
endif()

function(orvex_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${ORVEX_GTEST})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endfunction()
