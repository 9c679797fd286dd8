# GoogleTest on both sides: Debian's packaged library natively, and built from
# Debian's source package for the MinGW target, where no binary exists, and
# from a checkout named by HOST_GOOGLETEST_SOURCE elsewhere (MSVC).
if(CMAKE_CROSSCOMPILING OR HOST_GOOGLETEST_SOURCE)
  set(HOST_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${HOST_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT MSVC)
    target_link_options(gtest PUBLIC -static)
  endif()
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

include(GoogleTest)

# host_test(<name> SOURCES <files...> LIBS <targets...> [PROPERTIES <test properties...>] [OWN_MAIN])
# One GoogleTest executable; its tests are listed when CTest runs (under Wine
# for the Windows build, through the cross-compiling emulator).
function(host_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_MAIN" "" "SOURCES;LIBS;PROPERTIES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE host_options ${arg_LIBS} GTest::gtest)
  if(NOT arg_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES DISCOVERY_TIMEOUT 180
                       PROPERTIES TIMEOUT 300 ${arg_PROPERTIES})
endfunction()
