# GoogleTest: the system package on Linux; built from Debian's sources for cross builds.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  # GoogleTest 1.11 and later define these names themselves.
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# hvc_add_test(<name> SOURCES <files...> LIBS <targets...>)
function(hvc_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main hvc_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  # Under an emulator the first listing may also wait for Wine to create its prefix.
  # Each program also starts slower there, and the largest hvcfg cases run several of them.
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(discovery_timeout 120)
    set(test_timeout 180)
  else()
    set(discovery_timeout 5)
    set(test_timeout 60)
  endif()
  # NO_PRETTY_VALUES: a parameter printed as raw bytes would make the test's name change between runs.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT ${discovery_timeout} NO_PRETTY_VALUES
                       PROPERTIES TIMEOUT ${test_timeout})
endfunction()
