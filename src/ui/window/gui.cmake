# The window module (src/ui/window): the main window, the About box and the
# message boxes, built as dravelkent-gui.so, which the program loads with
# dlopen only when it has something to show, so that the program itself
# never links the toolkit. The module only shows a run: the program hands it
# its start-up sequence through the entry point (gui_module_abi.h), so the
# engine and the settings are not in the module, which knows only the base
# library (and the toolkit).

find_package(wxWidgets 3.2 COMPONENTS core base)
if(NOT wxWidgets_FOUND)
  message(STATUS "wxWidgets 3.2 not found: building without the GUI module")
  return()
endif()

add_library(dravelkent_gui MODULE ${CMAKE_SOURCE_DIR}/src/ui/window/window.cc
  ${CMAKE_SOURCE_DIR}/src/ui/window/dialogs.cc)
set_target_properties(dravelkent_gui PROPERTIES
  PREFIX ""
  OUTPUT_NAME dravelkent-gui
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(dravelkent_gui PRIVATE ${PROJECT_BINARY_DIR}/generated)
# The toolkit's headers are not held to this project's warnings.
target_include_directories(dravelkent_gui SYSTEM PRIVATE ${wxWidgets_INCLUDE_DIRS})
target_compile_definitions(dravelkent_gui PRIVATE ${wxWidgets_DEFINITIONS})
target_compile_options(dravelkent_gui PRIVATE ${wxWidgets_CXX_FLAGS})
target_link_libraries(dravelkent_gui PRIVATE dravelkent_base
  ${wxWidgets_LIBRARIES})
target_link_options(dravelkent_gui PRIVATE -Wl,--no-undefined)

# Building the program builds the module beside it.
add_dependencies(dravelkent dravelkent_gui)
