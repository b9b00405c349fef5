# Runs at install time (see dravelkent_install_configured): writes
# DRAVELKENT_TEMPLATE, its @DRAVELKENT_...@ names filled in, into
# DRAVELKENT_DESTINATION under the prefix being installed to; executable
# when DRAVELKENT_EXECUTABLE is set, gzip-compressed when DRAVELKENT_GZIP is.

# Returns in |out| the full path of |dir|, a folder under the prefix.
function(dravelkent_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(full "${dir}")
  else()
    set(full "${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  cmake_path(NORMAL_PATH full)
  string(REGEX REPLACE "(.)/$" "\\1" full "${full}")
  set(${out} "${full}" PARENT_SCOPE)
endfunction()

dravelkent_full_path(DRAVELKENT_FULL_BINDIR "${DRAVELKENT_BINDIR}")
dravelkent_full_path(DRAVELKENT_FULL_MODULE_DIR "${DRAVELKENT_MODULE_DIR}")
dravelkent_full_path(DRAVELKENT_FULL_DOCDIR "${DRAVELKENT_DOCDIR}")
dravelkent_full_path(DRAVELKENT_FULL_EXAMPLES_DIR "${DRAVELKENT_EXAMPLES_DIR}")
file(RELATIVE_PATH DRAVELKENT_BINDIR_FROM_MODULE_DIR
  "${DRAVELKENT_FULL_MODULE_DIR}" "${DRAVELKENT_FULL_BINDIR}")
dravelkent_full_path(destination "${DRAVELKENT_DESTINATION}")

get_filename_component(name "${DRAVELKENT_TEMPLATE}" NAME)
string(REGEX REPLACE "[.]in$" "" name "${name}")
set(file "$ENV{DESTDIR}${destination}/${name}")

if(DRAVELKENT_EXECUTABLE)
  set(permissions OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
else()
  set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
message(STATUS "Installing: ${file}")
configure_file("${DRAVELKENT_TEMPLATE}" "${file}" @ONLY
  FILE_PERMISSIONS ${permissions})
if(DRAVELKENT_GZIP)
  # -n leaves the name and time out, so the same page gives the same bytes.
  execute_process(COMMAND gzip -9 -n -f "${file}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${file}: ${result}")
  endif()
  set(file "${file}.gz")
endif()
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}")
