#pragma once

// The one entry point of the GUI module (dravelkent-gui.so), which the
// program loads with dlopen only when it has something to show. Plain C, so
// that nothing of the toolkit or of C++ crosses the boundary.

extern "C" {

struct DravelkentGuiStartArgs {
  // sizeof(DravelkentGuiStartArgs) as the program was built; the module
  // refuses a size it does not know.
  int struct_size;
  // The process's current directory at start-up, NUL-terminated.
  const char* current_directory;
};

// Runs the main dialog. Returns the program's exit status (0, or 1 when any
// operation failed), or kDravelkentGuiUnavailable when the display cannot be
// opened, in which case nothing was run and nothing was printed.
typedef int (*DravelkentGuiMainFunction)(const DravelkentGuiStartArgs* args);

}  // extern "C"

namespace dravelkent {

inline constexpr char kGuiModuleFileName[] = "dravelkent-gui.so";
inline constexpr char kGuiEntryPointName[] = "DravelkentGuiMain";
inline constexpr int kDravelkentGuiUnavailable = -1;

}  // namespace dravelkent
