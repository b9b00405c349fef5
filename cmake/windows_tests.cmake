# The tests of the Windows build, under Wine (CMAKE_CROSSCOMPILING_EMULATOR)
# in a private prefix in the build folder: the portable unit tests and those
# of the Windows Env, built with GoogleTest from its sources, and the
# end-to-end cases against dravelkent.exe.
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
# that none races another to make it. No Mono or Gecko is asked for, and
# no menu entry is made on the build machine for a Start menu entry.
set(wine_environment "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix"
  "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=")
add_test(NAME wine.prefix COMMAND sh
  ${CMAKE_SOURCE_DIR}/cmake/wine_prefix.sh ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine
  ENVIRONMENT "${wine_environment}" TIMEOUT 600)
gtest_add_tests(TARGET dravelkent_unittests TEST_LIST windows_tests)

# One test per case of tests/e2e/cases.txt; those marked posix say that they
# are not for Windows and count as skipped. A case restarts the server for
# its day, so the tests take the server one at a time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/e2e/cases.txt)
file(STRINGS ${CMAKE_SOURCE_DIR}/tests/e2e/cases.txt e2e_cases REGEX "^== ")
set(e2e_tests)
foreach(case_line ${e2e_cases})
  string(REGEX REPLACE "^== ([^ ]+).*" "\\1" case_name "${case_line}")
  add_test(NAME e2e.${case_name} COMMAND ${Python3_EXECUTABLE}
    ${CMAKE_SOURCE_DIR}/tests/e2e/run_cases.py ${case_name})
  list(APPEND e2e_tests e2e.${case_name})
endforeach()
set_tests_properties(${e2e_tests} PROPERTIES SKIP_RETURN_CODE 77
  ENVIRONMENT "${wine_environment};DRAVELKENT_BIN=$<TARGET_FILE:dravelkent>;DRAVELKENT_WINE=${CMAKE_SOURCE_DIR}/cmake/wine_run.sh ${CMAKE_CROSSCOMPILING_EMULATOR};PYTHONDONTWRITEBYTECODE=1")
set_tests_properties(${windows_tests} PROPERTIES ENVIRONMENT
  "${wine_environment}")
set_tests_properties(${windows_tests} ${e2e_tests} PROPERTIES
  FIXTURES_REQUIRED wine RESOURCE_LOCK wineserver TIMEOUT 300)

# Our settings store against Windows' own profile functions, in a Japanese
# locale (code page 932).
add_executable(profile_windows_test src/settings/profile_windows_test.cc)
target_link_libraries(profile_windows_test PRIVATE dravelkent_settings gtest
  gtest_main)
add_test(NAME windows.profile COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine_run.sh
  ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:profile_windows_test>)
set_tests_properties(windows.profile PROPERTIES FIXTURES_REQUIRED wine
  RESOURCE_LOCK wineserver TIMEOUT 300
  ENVIRONMENT "${wine_environment};LC_ALL=ja_JP.UTF-8")

# The zip and the installer, installed and uninstalled under Wine.
add_test(NAME windows.package COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_SOURCE_DIR}/tests/windows/package.py)
set_tests_properties(windows.package PROPERTIES FIXTURES_REQUIRED wine
  RESOURCE_LOCK wineserver TIMEOUT 300 WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  ENVIRONMENT "${wine_environment};DRAVELKENT_WINE=${CMAKE_SOURCE_DIR}/cmake/wine_run.sh ${CMAKE_CROSSCOMPILING_EMULATOR};CPACK_COMMAND=${CMAKE_CPACK_COMMAND};DRAVELKENT_BUILD_DIR=${CMAKE_BINARY_DIR};DRAVELKENT_VERSION=${PROJECT_VERSION}")

# The dialog on a private display: DRAVELKENT_SCREENSHOT names the picture
# of it that the test takes (docs/windows_dialog.png is one).
add_test(NAME windows.dialog COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/wine_display.sh
  ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/windows/dialog.py)
set_tests_properties(windows.dialog PROPERTIES FIXTURES_REQUIRED wine
  RESOURCE_LOCK wineserver TIMEOUT 300 ENVIRONMENT "${wine_environment};DRAVELKENT_BIN=$<TARGET_FILE:dravelkentw>;DRAVELKENT_WINE=${CMAKE_SOURCE_DIR}/cmake/wine_run.sh ${CMAKE_CROSSCOMPILING_EMULATOR};DRAVELKENT_SCREENSHOT=${CMAKE_BINARY_DIR}/windows_dialog.png")
