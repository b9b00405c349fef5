#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "fsutil/disk.h"

namespace dravelkent {

// What the command line asks for.
enum class CommandLineAction { kRun, kExit };

// Whether a run writes a line for every action (always so in a dry run).
enum class ActionLines { kOff, kOn };

// The options of a run.
struct RunOptions {
  RunKind run_kind = RunKind::kReal;             // -n, --dry-run
  ActionLines action_lines = ActionLines::kOff;  // -v, --verbose
  // -C, --directory: the folders to enter before the run, each from the one
  // before (as make and git take several).
  std::vector<std::string> directories;
};

// Reads the arguments as GNU tools do; --help and --version print their
// text to |out|, a bad argument is said on |err|. Returns kRun with
// |*options| filled, or kExit with |*exit_status| set (0; 1 when |out|
// fails; 2 for a bad argument).
CommandLineAction ParseCommandLine(int argc, char* const* argv, std::FILE* out,
                                   std::FILE* err, RunOptions* options,
                                   int* exit_status);

}  // namespace dravelkent
