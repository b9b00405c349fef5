# The GUI front end: a module that the program loads with dlopen only when it
# has something to show, so that the program itself never links the toolkit.
find_package(wxWidgets 3.2 COMPONENTS core base)
if(NOT wxWidgets_FOUND)
  message(STATUS "wxWidgets 3.2 not found: building without the GUI module")
  return()
endif()

# The module carries its own copy of the core library.
set_target_properties(dravelkent_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

file(GLOB DRAVELKENT_GUI_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/ui/gui_*.cc ${CMAKE_SOURCE_DIR}/src/app/gui_*.cc)
list(FILTER DRAVELKENT_GUI_SOURCES EXCLUDE REGEX "_test\\.cc$")
add_library(dravelkent_gui MODULE
  ${DRAVELKENT_GUI_SOURCES} ${CMAKE_SOURCE_DIR}/src/app/display_text.cc)
set_target_properties(dravelkent_gui PROPERTIES
  PREFIX ""
  OUTPUT_NAME dravelkent-gui
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# The toolkit's headers are not held to this project's warnings.
target_include_directories(dravelkent_gui SYSTEM PRIVATE ${wxWidgets_INCLUDE_DIRS})
target_compile_definitions(dravelkent_gui PRIVATE ${wxWidgets_DEFINITIONS})
target_compile_options(dravelkent_gui PRIVATE ${wxWidgets_CXX_FLAGS})
target_link_libraries(dravelkent_gui PRIVATE dravelkent_core ${wxWidgets_LIBRARIES})
target_link_options(dravelkent_gui PRIVATE -Wl,--no-undefined)

# Building the program builds the module beside it.
add_dependencies(dravelkent dravelkent_gui)
