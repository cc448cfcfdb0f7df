# bv_subsystem(NAME DEPS...) builds src/NAME/*.cpp into the static library bv_NAME.
# Each subsystem links only the ones below it, so a test of one part builds
# just that part and what it stands on.
function(bv_subsystem name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT _srcs)
    set(_srcs ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(bv_${name} STATIC ${_srcs})
  target_include_directories(bv_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(bv_${name} PRIVATE ${BV_WARNINGS})
  if(ARGN)
    target_link_libraries(bv_${name} PUBLIC ${ARGN})
  endif()
endfunction()

# bv_test(NAME LIBS...) builds tests/NAME/*.cpp into test_NAME and registers
# every GoogleTest case with CTest.
function(bv_test name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${name}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(test_${name} ${_srcs} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  target_compile_options(test_${name} PRIVATE ${BV_WARNINGS})
  target_compile_definitions(test_${name} PRIVATE BV_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                                  BV_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(test_${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock)
  target_include_directories(test_${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  # The environment the tests need is set by tests/test_main.cpp (a list given to
  # gtest_discover_tests' ENVIRONMENT property would arrive cut to its first item).
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
endfunction()
