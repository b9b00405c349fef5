# The unit tests of the Windows build: the portable ones and those of the
# Windows Env, built with GoogleTest from its sources and run under Wine
# (CMAKE_CROSSCOMPILING_EMULATOR) in a private prefix in the build folder.
if(NOT DRAVELKENT_BUILD_TESTS)
  return()
endif()
enable_testing()
include(GoogleTest)

set(DRAVELKENT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
  "GoogleTest's sources (Debian's googletest package)")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${DRAVELKENT_GOOGLETEST_SOURCE}
  ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own code is not held to our warnings.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)

# The date checks shared with the fuzz target call timegm and gmtime_r,
# which Windows lacks: they, and dates_test.cc that uses them, wait.
set_target_properties(dravelkent_jobs_testing PROPERTIES EXCLUDE_FROM_ALL ON)
add_executable(dravelkent_unittests
  src/base/cp932_windows_test.cc
  src/base/text_util_test.cc
  src/fsutil/env_windows_test.cc)
target_link_libraries(dravelkent_unittests PRIVATE dravelkent_fsutil_testing
  gtest gtest_main)

# The first start of Wine makes the prefix; every test waits for it, so
# that none races another to make it. No Mono or Gecko is asked for.
set(wine_environment "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix"
  "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")
add_test(NAME wine.prefix COMMAND sh
  ${CMAKE_SOURCE_DIR}/cmake/wine_prefix.sh ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine
  ENVIRONMENT "${wine_environment}" TIMEOUT 600)
gtest_add_tests(TARGET dravelkent_unittests TEST_LIST windows_tests)
set_tests_properties(${windows_tests} PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "${wine_environment}" TIMEOUT 120)
