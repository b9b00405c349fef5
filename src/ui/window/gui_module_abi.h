#pragma once

#include <stddef.h>

// The one entry point of the window module (dravelkent-gui.so), which the
// program loads only when it has something to show. Plain C: nothing of the
// toolkit or of C++ crosses the boundary, exceptions included. The program
// hands it its start-up sequence, run with the window as its host.

extern "C" {

// The window as the host of a run, its operations called on the thread that
// runs start_up. Texts are |length| bytes, meant as UTF-8, shown as
// EscapeForLine writes them. Each returns 0, or -1 when it failed (said on
// stderr); once the display is lost each does nothing and returns 0.
struct DravelkentGuiHost {
  void* window;
  // Replaces the status line.
  int (*show_status)(void* window, const char* text, size_t length);
  // Shows a message box "確認" over the window; returns once it is closed.
  int (*show_message)(void* window, const char* text, size_t length);
  // Ends the window after a run.
  int (*end_run)(void* window);
  // Shows the window: "実行" calls run(run_context) on this thread (0, or -1
  // when the run failed), "閉じる" closes it. Returns once it has closed: 0,
  // or -1 when the window or the run failed.
  int (*wait_for_user)(void* window, int (*run)(void* run_context),
                       void* run_context);
};

// The program's start-up sequence with |host|. Returns the exit status.
typedef int (*DravelkentStartUpFunction)(void* context,
                                         const DravelkentGuiHost* host);

struct DravelkentGuiStartArgs {
  int struct_size;  // sizeof(DravelkentGuiStartArgs); the module checks it
  // Called once, on a thread of its own once the window is built.
  DravelkentStartUpFunction start_up;
  void* start_up_context;
};

// Builds the window and runs args->start_up with it. Returns what start_up
// returned, 1 when the module itself failed, or kDravelkentGuiUnavailable
// (start_up not called, nothing printed) when the display cannot be opened.
// A lost X display ends the process with what start_up returns.
typedef int (*DravelkentGuiMainFunction)(const DravelkentGuiStartArgs* args);

}  // extern "C"

namespace dravelkent {

inline constexpr char kGuiModuleFileName[] = "dravelkent-gui.so";
inline constexpr char kGuiEntryPointName[] = "DravelkentGuiMain";
inline constexpr int kDravelkentGuiUnavailable = -1;
// A module carries this text, its version (DRAVELKENT_VERSION) and a NUL.
inline constexpr char kGuiModuleMark[] = "Dravelkent window module ";

}  // namespace dravelkent
