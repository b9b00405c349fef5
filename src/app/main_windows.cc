// The program on Windows, from one source: dravelkent.exe for consoles and
// scripts, dravelkentw.exe (no console) for the desktop and Task Scheduler.
// The arguments come in UTF-16 and go on in UTF-8.

#include <string>
#include <vector>

#include "app/start_up.h"
#include "base/system_windows.h"

int wmain(int argc, wchar_t** wide_argv) {
  dravelkent::WriteConsoleInUtf16();
  std::vector<std::string> arguments(argc);
  std::vector<char*> argv(argc + 1);  // null-terminated
  for (int i = 0; i < argc; ++i) {
    arguments[i] = dravelkent::Utf8Of(wide_argv[i]);
    argv[i] = arguments[i].data();
  }
  const int exit_status = dravelkent::RunProgram(argc, argv.data());
  dravelkent::FinishConsoleOutput();
  return exit_status;
}
