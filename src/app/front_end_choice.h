#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace dravelkent {

// Whether the environment names a display to show windows on.
enum class DisplayPresence { kNone, kPresent };

// Which front end runs the program.
enum class FrontEnd { kConsole, kGui };

// Returns kPresent when |display| (DISPLAY) or |wayland_display|
// (WAYLAND_DISPLAY) is set and not empty; either may be null.
DisplayPresence DisplayFromEnvironment(const char* display,
                                       const char* wayland_display);

// Returns kGui when there is a display and the run has something to show:
// the dialog (|view| other than "Off") or message boxes (|message| "On").
// Returns kConsole otherwise, so that a silent run never pays for the
// toolkit.
FrontEnd ChooseFrontEnd(DisplayPresence display, const std::string& view,
                        const std::string& message);

// Returns the places to look for the GUI module, in order, for the program
// at |executable_path|: its own folder, then "../lib/dravelkent" beside it.
// Returns an empty list when |executable_path| has no folder part.
std::vector<std::string> GuiModuleCandidates(
    const std::string& executable_path);

// Runs the program's start-up sequence (RunStartUp) in the folder
// |current_directory| with |options| and the front end that fits as its
// host: the main window of the GUI module when it must show something, the
// run is no dry run, and the module loads and opens the display; the
// console otherwise, with no word about the module. Action lines and
// messages go to |out|, failures to |err|, and the console's status texts
// and prompt to |err| when it is a terminal; answers come from |in|. Returns
// the exit status: 0, or 1 when any operation failed (or, in a dry run, is
// foreseen).
int RunFrontEnd(const std::string& current_directory, const RunOptions& options,
                std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace dravelkent
