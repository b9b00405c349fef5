#pragma once

#include <cstdio>
#include <string>

namespace dravelkent {

// Runs the program without a display, in the folder |current_directory|:
// fixes the settings path, shows the first status text, reads VIEW and
// either runs at once or asks first. Returns the exit status: 0 when the
// run, or the close, went through; 1 when any operation failed.
int RunConsoleFrontEnd(const std::string& current_directory, std::FILE* in,
                       std::FILE* out, std::FILE* err);

}  // namespace dravelkent
