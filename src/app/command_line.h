#pragma once

#include <cstdio>
#include <string>

namespace dravelkent {

// What the command line asks for.
enum class CommandLineAction { kRun, kExit };

// Reads the arguments. Prints help or the version for --help and --version,
// and an error for any other argument. Returns kRun when the program is to
// run; otherwise kExit with |*exit_status| set (0, or 2 for a bad argument).
CommandLineAction ParseCommandLine(int argc, const char* const* argv,
                                   std::FILE* out, std::FILE* err,
                                   int* exit_status);

// Returns the process's current directory, whole; an empty text when it
// cannot be told (the folder was removed), with |*error| set to errno.
std::string CurrentDirectory(int* error);

}  // namespace dravelkent
