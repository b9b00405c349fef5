#pragma once

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "ui/window/gui_module_abi.h"

namespace dravelkent {

// Whether the window front end ran the program.
enum class WindowOutcome { kRan, kUnavailable };

// Runs the start-up sequence (RunStartUp) in the folder |current_directory|
// with |options| and the main window as its host, through |gui_main|, the
// entry point of the loaded window module; action lines are written to
// |out|, failures to |err|. Returns kRan with
// |*exit_status| set (0, or 1 when any operation failed), or kUnavailable
// when the module cannot open the display; then nothing was run or printed.
WindowOutcome RunInWindow(DravelkentGuiMainFunction gui_main,
                          const std::string& current_directory,
                          const RunOptions& options, std::FILE* out,
                          std::FILE* err, int* exit_status);

}  // namespace dravelkent
