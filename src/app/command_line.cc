#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "version.h"

namespace dravelkent {
namespace {

constexpr char kUsage[] =
    "Usage: dravelkent [--help | --version]\n"
    "\n"
    "Runs the file-rotation jobs of Dravelkent.ini in the current folder:\n"
    "each job moves (or, with BACKUP=On, copies when newer) one file or a\n"
    "whole folder tree to a dated name once a day, then deletes the dated\n"
    "copies older than its retention days. All settings come from the file.\n"
    "\n"
    "Exit status: 0 when the run went through, 1 when any operation failed,\n"
    "2 for a bad argument.\n";

}  // namespace

CommandLineAction ParseCommandLine(int argc, const char* const* argv,
                                   std::FILE* out, std::FILE* err,
                                   int* exit_status) {
  *exit_status = 0;
  if (argc <= 1) return CommandLineAction::kRun;
  std::string arg = argv[1];
  if (argc == 2 && arg == "--help") {
    std::fputs(kUsage, out);
    return CommandLineAction::kExit;
  }
  if (argc == 2 && arg == "--version") {
    std::fprintf(out, "%s\n", texts::kVersionLine);
    return CommandLineAction::kExit;
  }
  // Report the first argument that is not a lone --help or --version.
  const char* bad = argv[1];
  if (arg == "--help" || arg == "--version") bad = argv[2];
  std::fprintf(err,
               "dravelkent: unexpected argument '%s'; settings come only "
               "from Dravelkent.ini (see --help)\n",
               bad);
  *exit_status = 2;
  return CommandLineAction::kExit;
}

std::string CurrentDirectory(int* error) {
  *error = 0;
  std::vector<char> buffer(256);
  while (true) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      return std::string(buffer.data());
    }
    if (errno != ERANGE) {
      *error = errno;
      return std::string();
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace dravelkent
