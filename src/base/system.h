#pragma once

#include <cstdio>
#include <string>

#include "base/status.h"

namespace dravelkent {

// The process's place in the system (system_posix.cc and its twins).

// Returns true when |stream| is attached to a terminal.
bool IsTerminal(std::FILE* stream);

// Makes |folder| the current folder. Returns ok or why it cannot be entered.
Status EnterFolder(const std::string& folder);

// Fills |*folder| with the current folder, whole. Returns ok or the failure.
Status CurrentFolder(std::string* folder);

// Returns the folder that holds the running program, with a separator at
// the end; "" when it cannot be told. POSIX only (the window module's).
std::string ProgramFolder();

}  // namespace dravelkent
