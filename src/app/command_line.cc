#include "app/command_line.h"

#include <getopt.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/text_util.h"
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

// Returns what is wrong with the option |argument| getopt_long refused.
std::string RefusedOptionMessage(int code, std::string_view argument) {
  if (code == 0) {  // no long option, or more than one, begins so
    const std::string_view name = argument.substr(2, argument.find('=') - 2);
    std::string candidates;
    int count = 0;
    for (const option& o : kLongOptions) {
      if (o.name != nullptr && std::string_view(o.name).starts_with(name)) {
        candidates += std::string(" '--") + o.name + "'";
        ++count;
      }
    }
    if (count > 1) {
      return "option '" + EscapeForLine(argument) +
             "' is ambiguous; possibilities:" + candidates;
    }
    return "unrecognized option '" + EscapeForLine(argument) + "'";
  }
  for (const option& o : kLongOptions) {
    if (o.name != nullptr && o.val == code) {
      return std::string("option '--") + o.name + "' doesn't allow an argument";
    }
  }
  return "invalid option -- '" +
         EscapeForLine(std::string(1, static_cast<char>(code))) + "'";
}

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
  auto print = [&](const char* what, const std::string& text) {
    errno = 0;
    std::fputs(text.c_str(), out);
    if (std::fflush(out) != 0 || std::ferror(out)) {
      std::fprintf(err, "dravelkent: cannot write the %s: %s\n", what,
                   std::strerror(errno != 0 ? errno : EIO));
      *exit_status = 1;
    }
    return CommandLineAction::kExit;
  };
  // getopt keeps its place in globals: start afresh, errors said here.
  optind = 0;
  opterr = 0;
  int c;
  for (int long_index = -1;
       (c = getopt_long(argc, argv, ":nvC:", kLongOptions, &long_index)) != -1;
       long_index = -1) {
    switch (c) {
      case 'n':
        options->run_kind = RunKind::kDryRun;
        break;
      case 'v':
        options->action_lines = ActionLines::kOn;
        break;
      case 'C':
        if (optarg[0] == '\0') {
          return usage_error(std::string("option '") +
                             (long_index >= 0 ? "--directory" : "-C") +
                             "' needs a folder, not an empty name");
        }
        options->directories.push_back(optarg);
        break;
      case kHelp:
        return print("help", kUsage);
      case kVersion:
        return print("version", std::string(texts::kVersionLine) + "\n");
      case ':':
        // Only -C takes an argument; getopt has stepped past the option.
        return usage_error(std::string_view(argv[optind - 1]).starts_with("--")
                               ? "option '--directory' requires an argument"
                               : "option requires an argument -- 'C'");
      default:
        return usage_error(RefusedOptionMessage(optopt, argv[optind - 1]));
    }
  }
  if (optind < argc) {
    return usage_error("unexpected argument '" + EscapeForLine(argv[optind]) +
                       "'; the jobs come only from Dravelkent.ini");
  }
  if (options->run_kind == RunKind::kDryRun) {
    options->action_lines = ActionLines::kOn;
  }
  return CommandLineAction::kRun;
}

}  // namespace dravelkent
