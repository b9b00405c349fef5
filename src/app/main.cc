#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/start_up.h"
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
  char* current_directory = getcwd(nullptr, 0);
  if (current_directory == nullptr) {
    std::fprintf(stderr, "dravelkent: cannot tell the current folder: %s\n",
                 std::strerror(errno));
    return 1;
  }
  const std::string folder = current_directory;
  std::free(current_directory);
  return dravelkent::RunFrontEnd(folder, options, stdin, stdout, stderr);
}
