#pragma once

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "jobs/job_engine.h"
#include "ui/window/gui_module_abi.h"

namespace dravelkent {

// The program's one start-up sequence in the folder |current_directory|:
// names the settings file's unreadable parts, shows the first status text
// and reads VIEW (default "Off"). With "Off" takes the run lock, writes
// "Off" back and runs all jobs at once; otherwise |host| waits for the user.
// A dry run runs at once, takes no lock, shows nothing and writes nothing.
// Action lines go to |out|, failures to |err|. Returns the exit status: 0,
// or 1 when any failure was reported (or foreseen).
int RunStartUp(const std::string& current_directory, const RunOptions& options,
               Host* host, std::FILE* out, std::FILE* err);

// Returns true when |display| or |wayland_display| is set and not empty.
bool HasDisplay(const char* display, const char* wayland_display);

// Returns true when a run has something to show in a window: the dialog
// (|view| not "Off") or message boxes (|message| "On").
bool ShowsWindow(const std::string& view, const std::string& message);

// Returns the entry point of the window module, loaded for good, or null
// when there is no display or no module that loads (one refused is said).
DravelkentGuiMainFunction LoadWindowModule();

// Runs RunStartUp in the window when the run is no dry run, ShowsWindow and
// the window module opens the display; otherwise on the console.
int RunFrontEnd(const std::string& current_directory, const RunOptions& options,
                std::FILE* in, std::FILE* out, std::FILE* err);

// The program: reads |argv|, enters the folders of -C and runs RunFrontEnd
// on the standard streams. Returns the exit status.
int RunProgram(int argc, char** argv);

}  // namespace dravelkent
