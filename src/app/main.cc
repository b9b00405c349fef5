#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/front_end_choice.h"

int main(int argc, char** argv) {
  int exit_status = 0;
  if (dravelkent::ParseCommandLine(argc, argv, stdout, stderr, &exit_status) ==
      dravelkent::CommandLineAction::kExit) {
    return exit_status;
  }
  int error = 0;
  std::string current_directory = dravelkent::CurrentDirectory(&error);
  if (current_directory.empty()) {
    std::fprintf(stderr, "dravelkent: cannot tell the current folder: %s\n",
                 std::strerror(error));
    return 1;
  }
  return dravelkent::RunFrontEnd(current_directory, stdin, stdout, stderr);
}
