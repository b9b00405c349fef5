#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/front_end_choice.h"
#include "base/text_util.h"

int main(int argc, char** argv) {
  // A reader of the action lines that goes away (| head) must not end the
  // run halfway: the lines stop, the work goes on and the failure is said.
  std::signal(SIGPIPE, SIG_IGN);
  int exit_status = 0;
  dravelkent::RunOptions options;
  if (dravelkent::ParseCommandLine(argc, argv, stdout, stderr, &options,
                                   &exit_status) ==
      dravelkent::CommandLineAction::kExit) {
    return exit_status;
  }
  // Entering the folder makes the run exactly one started there.
  for (const std::string& folder : options.directories) {
    if (chdir(folder.c_str()) != 0) {
      std::fprintf(
          stderr, "dravelkent: cannot enter the folder '%s' given to -C: %s\n",
          dravelkent::EscapeForLine(folder).c_str(), std::strerror(errno));
      return 2;
    }
  }
  int error = 0;
  std::string current_directory = dravelkent::CurrentDirectory(&error);
  if (current_directory.empty()) {
    std::fprintf(stderr, "dravelkent: cannot tell the current folder: %s\n",
                 std::strerror(error));
    return 1;
  }
  return dravelkent::RunFrontEnd(current_directory, options, stdin, stdout,
                                 stderr);
}
