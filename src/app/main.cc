#include <csignal>
#include <cstdio>

#include "app/command_line.h"
#include "app/start_up.h"
#include "base/system.h"
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
    if (dravelkent::Status entered = dravelkent::EnterFolder(folder);
        !entered.ok()) {
      std::fprintf(
          stderr, "dravelkent: cannot enter the folder '%s' given to -C: %s\n",
          dravelkent::EscapeForLine(folder).c_str(), entered.reason().c_str());
      return 2;
    }
  }
  std::string folder;
  if (dravelkent::Status found = dravelkent::CurrentFolder(&folder);
      !found.ok()) {
    std::fprintf(stderr, "dravelkent: %s\n", found.message().c_str());
    return 1;
  }
  return dravelkent::RunFrontEnd(folder, options, stdin, stdout, stderr);
}
