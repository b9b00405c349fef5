#include "app/command_line.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "version.h"

namespace dravelkent {
namespace {

constexpr char kUsage[] =
    "Usage: dravelkent [OPTION]...\n"
    "\n"
    "Runs the file-rotation jobs of Dravelkent.ini in the current folder:\n"
    "each job moves (or, with BACKUP=On, copies when newer) one file or a\n"
    "whole folder tree to a dated name once a day, then deletes the dated\n"
    "copies older than its retention days. All jobs come from the file.\n"
    "\n"
    "  -n, --dry-run          print what a run would do, one line per\n"
    "                         action, and change nothing: no file, no\n"
    "                         folder, not the settings file; takes no lock\n"
    "                         and opens no window\n"
    "  -v, --verbose          print each action as it is done\n"
    "  -C, --directory=DIR    work on DIR/Dravelkent.ini as if started in\n"
    "                         DIR (relative job folders are taken from DIR);\n"
    "                         a second -C is taken from the first\n"
    "      --help             print this help and exit\n"
    "      --version          print the version and exit\n"
    "\n"
    "An action line begins with its word, then the paths:\n"
    "  mkdir FOLDER          move FROM -> TO        copy FROM -> TO\n"
    "  skip FROM -> TO (not newer)                  delete FILE\n"
    "  set SETTINGS-FILE [SECTION] KEY=VALUE\n"
    "Names are escaped, so that each action is one line that reads back\n"
    "exactly: control bytes become \\n, \\r, \\t or \\xNN, bytes of no UTF-8\n"
    "character \\xNN, C1 controls \\xC2\\xNN, the > of -> \\x3E, a blank\n"
    "ending a name \\x20, and a backslash before \\, n, r, t, x or an escaped\n"
    "byte is doubled. Failures are written to standard error, escaped alike.\n"
    "\n"
    "Exit status: 0 when the run went through, 1 when any operation failed\n"
    "(for --dry-run: when a failure is foreseen), 2 for a bad argument.\n";

constexpr int kHelp = 256;
constexpr int kVersion = 257;

constexpr option kLongOptions[] = {
    {"dry-run", no_argument, nullptr, 'n'},
    {"verbose", no_argument, nullptr, 'v'},
    {"directory", required_argument, nullptr, 'C'},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

CommandLineAction ParseCommandLine(int argc, char* const* argv, std::FILE* out,
                                   std::FILE* err, RunOptions* options,
                                   int* exit_status) {
  *options = RunOptions();
  *exit_status = 0;
  auto usage_error = [&](const std::string& what) {
    std::fprintf(err, "dravelkent: %s (see --help)\n", what.c_str());
    *exit_status = 2;
    return CommandLineAction::kExit;
  };
  // getopt keeps its place in globals: start afresh, errors said here.
  optind = 0;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":nvC:", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'n':
        options->run_kind = RunKind::kDryRun;
        break;
      case 'v':
        options->action_lines = ActionLines::kOn;
        break;
      case 'C':
        if (optarg[0] == '\0') {
          return usage_error("option '" + std::string(argv[optind - 1]) +
                             "' needs a folder, not an empty name");
        }
        options->directories.push_back(optarg);
        break;
      case kHelp:
        std::fputs(kUsage, out);
        return CommandLineAction::kExit;
      case kVersion:
        std::fprintf(out, "%s\n", texts::kVersionLine);
        return CommandLineAction::kExit;
      case ':':
        return usage_error("option '" + std::string(argv[optind - 1]) +
                           "' needs a folder");
      default:
        return usage_error(
            "unknown option '" +
            (optopt != 0 ? "-" + std::string(1, static_cast<char>(optopt))
                         : std::string(argv[optind - 1])) +
            "'");
    }
  }
  if (optind < argc) {
    return usage_error("unexpected argument '" + std::string(argv[optind]) +
                       "'; the jobs come only from Dravelkent.ini");
  }
  if (options->run_kind == RunKind::kDryRun) {
    options->action_lines = ActionLines::kOn;
  }
  return CommandLineAction::kRun;
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
