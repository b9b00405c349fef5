# Installation and the Debian package: the program and its GUI module, the
# manual page, the desktop entry and its icons, the documentation and the
# scheduling examples. Every version text comes from PROJECT_VERSION.

set(CMAKE_INSTALL_DOCDIR "share/doc/dravelkent" CACHE PATH
  "Documentation root (DOCDIR)")
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The program looks for its GUI module in ../lib/dravelkent beside its own
# folder, whatever the system calls its library folder.
cmake_path(SET DRAVELKENT_MODULE_DIR NORMALIZE
  "${CMAKE_INSTALL_BINDIR}/../lib/dravelkent")
set(DRAVELKENT_EXAMPLES_DIR "${CMAKE_INSTALL_DOCDIR}/examples")

install(TARGETS dravelkent RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET dravelkent_gui)
  install(TARGETS dravelkent_gui LIBRARY
    DESTINATION ${DRAVELKENT_MODULE_DIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
else()
  message(STATUS "Installing without the GUI module")
endif()

# The package's maintainer, also named in its changelog.
set(CPACK_PACKAGE_CONTACT
  "Dravelkent maintainers <maintainers@dravelkent.invalid>"
  CACHE STRING "Maintainer field of the Debian package")

# Texts that name installed paths are filled in at install time, so that
# they name the prefix the files really go to: the one given to
# "cmake --install --prefix", or /usr in the package.
set(DRAVELKENT_INSTALL_SETTINGS "
  set(DRAVELKENT_VERSION \"${PROJECT_VERSION}\")
  set(DRAVELKENT_MAINTAINER \"${CPACK_PACKAGE_CONTACT}\")
  set(DRAVELKENT_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(DRAVELKENT_MODULE_DIR \"${DRAVELKENT_MODULE_DIR}\")
  set(DRAVELKENT_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
  set(DRAVELKENT_EXAMPLES_DIR \"${DRAVELKENT_EXAMPLES_DIR}\")")

# Installs packaging/|template| (a name ending in .in) into |destination|
# with its @DRAVELKENT_...@ names replaced; GZIP compresses the result,
# EXECUTABLE makes it a program.
function(dravelkent_install_configured template destination)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "GZIP;EXECUTABLE" "" "")
  set(here "${CMAKE_CURRENT_SOURCE_DIR}/packaging")
  install(CODE "${DRAVELKENT_INSTALL_SETTINGS}
    set(DRAVELKENT_TEMPLATE \"${here}/${template}\")
    set(DRAVELKENT_DESTINATION \"${destination}\")
    set(DRAVELKENT_GZIP \"${ARG_GZIP}\")
    set(DRAVELKENT_EXECUTABLE \"${ARG_EXECUTABLE}\")
    include(\"${here}/install_configured.cmake\")")
endfunction()

dravelkent_install_configured(dravelkent-desktop.in
  "${DRAVELKENT_MODULE_DIR}" EXECUTABLE)
dravelkent_install_configured(dravelkent.1.in
  "${CMAKE_INSTALL_MANDIR}/man1" GZIP)
dravelkent_install_configured(dravelkent.desktop.in
  "${CMAKE_INSTALL_DATAROOTDIR}/applications")
dravelkent_install_configured(dravelkent.service.in
  "${DRAVELKENT_EXAMPLES_DIR}")
dravelkent_install_configured(dravelkent.cron.in
  "${DRAVELKENT_EXAMPLES_DIR}")
install(FILES packaging/dravelkent.timer
  DESTINATION ${DRAVELKENT_EXAMPLES_DIR})
install(DIRECTORY demo/ DESTINATION ${DRAVELKENT_EXAMPLES_DIR}/demo)
install(FILES README.md packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The changelog of a package whose version has no Debian revision (a native
# package) is changelog.gz.
dravelkent_install_configured(changelog.in "${CMAKE_INSTALL_DOCDIR}" GZIP)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

# The theme icons, drawn from the icon the window uses.
set(DRAVELKENT_ICON_SIZES 16 32 48 64 128 256)
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(icon_sources
    ${CMAKE_CURRENT_SOURCE_DIR}/src/ui/window/dravelkent_16.xpm
    ${CMAKE_CURRENT_SOURCE_DIR}/src/ui/window/dravelkent_32.xpm)
  set(icon_outputs)
  foreach(size ${DRAVELKENT_ICON_SIZES})
    set(icon_dir ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps)
    set(icon ${icon_dir}/dravelkent.png)
    add_custom_command(OUTPUT ${icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir}
      COMMAND ${Python3_EXECUTABLE}
        ${CMAKE_CURRENT_SOURCE_DIR}/packaging/xpm_to_png.py
        --size ${size} -o ${icon} ${icon_sources}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/xpm_to_png.py
        ${icon_sources}
      COMMENT "Drawing the ${size}x${size} icon"
      VERBATIM)
    list(APPEND icon_outputs ${icon})
    install(FILES ${icon} DESTINATION
      ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(dravelkent_icons ALL DEPENDS ${icon_outputs})
else()
  message(STATUS "Python 3 not found: installing without the theme icons")
endif()

# The Debian package: "cpack" in the build folder makes
# dravelkent_<version>_<arch>.deb, installing under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravelkent)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Dravelkent")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "daily file rotation to dated copies, with expiry")
set(CPACK_PACKAGE_DESCRIPTION [[
Dravelkent carries out the daily file-rotation jobs listed in one settings
file, Dravelkent.ini, in the current folder. Each job moves one file (or, in
copy mode, copies it when it is newer) into a target folder under a name
that begins with the date, at most once per calendar day, and then deletes
the dated copies older than the job's retention days. A job can also move
or copy a whole folder tree.

It runs unattended from cron or a systemd timer, or shows a small window
with a run and a close button. Its interface texts are Japanese.]])
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/[.]git" "/build[^/]*/" "__pycache__")
include(CPack)

if(DRAVELKENT_BUILD_TESTS)
  # The end-to-end tests compare --version with the project version.
  foreach(test_file ${DRAVELKENT_E2E_TESTS})
    get_filename_component(test_name ${test_file} NAME_WE)
    set_property(TEST e2e.${test_name} APPEND PROPERTY
      ENVIRONMENT "DRAVELKENT_VERSION=${PROJECT_VERSION}")
  endforeach()

  # Install and package tests: they install into scratch folders and leave
  # the build folder as they found it.
  if(TARGET dravelkent_gui)
    set(gui_module 1)
  else()
    set(gui_module 0)
  endif()
  set(install_test_environment
    DRAVELKENT_BUILD_DIR=${CMAKE_BINARY_DIR}
    DRAVELKENT_SOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}
    DRAVELKENT_VERSION=${PROJECT_VERSION}
    DRAVELKENT_GUI_MODULE=${gui_module}
    CMAKE_COMMAND=${CMAKE_COMMAND}
    CPACK_COMMAND=${CMAKE_CPACK_COMMAND}
    PYTHONDONTWRITEBYTECODE=1)
  file(GLOB DRAVELKENT_INSTALL_TESTS CONFIGURE_DEPENDS tests/install/test_*.py)
  foreach(test_file ${DRAVELKENT_INSTALL_TESTS})
    get_filename_component(test_name ${test_file} NAME_WE)
    add_test(NAME install.${test_name}
      COMMAND ${Python3_EXECUTABLE} ${test_file} -v)
    set_tests_properties(install.${test_name} PROPERTIES
      ENVIRONMENT "${install_test_environment}"
      TIMEOUT 300
      RESOURCE_LOCK dravelkent_install_manifest)
  endforeach()
endif()
