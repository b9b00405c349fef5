#pragma once

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "jobs/job_engine.h"

namespace dravelkent {

// Returns the settings path for the folder |current_directory|: the folder,
// a separator and "Dravelkent.ini".
std::string SettingsPathFor(const std::string& current_directory);

// The program's one start-up sequence, whichever front end shows it: in the
// folder |current_directory|, names the settings file's unreadable parts,
// shows the first status text and reads VIEW (default "Off"). With "Off"
// takes the run lock, writes "Off" back and runs all jobs at once;
// otherwise |host| waits for the user, who runs them ("実行", the lock taken
// as the run starts) or closes ("閉じる"). A dry run (|options|) runs at
// once whatever VIEW says, takes no lock, shows nothing through |host| and
// writes nothing, VIEW included. Action lines are written to |out|,
// failures to |err|. Returns the exit status: 0, or 1 when any failure was
// reported (or, in a dry run, foreseen).
int RunStartUp(const std::string& current_directory, const RunOptions& options,
               Host* host, std::FILE* out, std::FILE* err);

}  // namespace dravelkent
