#include <csignal>

#include "app/start_up.h"

int main(int argc, char** argv) {
  // A reader of the action lines that goes away (| head) must not end the
  // run halfway: the lines stop, the work goes on and the failure is said.
  std::signal(SIGPIPE, SIG_IGN);
  return dravelkent::RunProgram(argc, argv);
}
