#include "app/start_up.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

std::string LockState(const std::string& folder) {
  int fd = open((folder + "/Dravelkent.lock").c_str(), O_RDONLY | O_CLOEXEC);
  bool free = fd < 0 || flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) close(fd);
  return free ? "free" : "held";
}

// Answers the wait with "実行" (|runs|) or "閉じる"; traces calls and lock.
struct ScriptedHost : Host {
  ScriptedHost(std::string f, bool r) : folder(f), runs(r) {}
  void ShowStatus(const std::string& text) override {
    trace += text == "全ての処理が終了しました"
                 ? "job(" + LockState(folder) + ") "
                 : text + " ";
  }
  void ShowMessage(const std::string& text) override { trace += text + " "; }
  void EndRun() override { trace += "end(" + LockState(folder) + ")"; }
  void WaitForUser(const std::function<void()>& run) override {
    trace += "wait(" + LockState(folder) + ") ";
    if (runs) run();
  }
  std::string folder, trace;
  bool runs;
};

// The window module as a test double: its window is |window_double|.
Host* window_double = nullptr;
Host* HostOf(void* window) { return static_cast<Host*>(window); }
int WindowDouble(const DravelkentGuiStartArgs* args) {
  DravelkentGuiHost window{
      window_double,
      [](void* w, const char* text, size_t length) {
        HostOf(w)->ShowStatus(std::string(text, length));
        return 0;
      },
      [](void* w, const char* text, size_t length) {
        HostOf(w)->ShowMessage(std::string(text, length));
        return 0;
      },
      [](void* w) {
        HostOf(w)->EndRun();
        return 0;
      },
      [](void* w, int (*run)(void*), void* context) {
        int result = 0;
        HostOf(w)->WaitForUser([&] { result = run(context); });
        return result;
      }};
  return args->start_up(args->start_up_context, &window);
}

// Each case on the console's side and through the window module's entry.
TEST(RunStartUpTest, RunsAtOnceOrWaitsAndLocksOnlyForTheRun) {
  const std::string kStart = "INIファイルに設定されている処理を実行します ";
  const struct {
    const char* ini;  // null: no settings file
    bool run;
    std::string trace;
    const char* view_after;
    int status;
    RunKind kind = RunKind::kReal;
  } cases[] = {
      {nullptr, false, kStart + "end(free)", "VIEW=Off", 0},
      // The user may take a long while to choose: no lock until the run.
      {"[基本]\nVIEW=On\nTIMESTAMP=20200101\n[設定]\n01DIRNAMEFROM=.\n"
       "01DIRNAMETO=.\n01FILENAME=a\n01KIND=log\n01DELETEDAY=0\n",
       true, kStart + "wait(free) a.log を移動中 job(held) end(free)",
       "VIEW=On", 1},
      {"[基本]\nVIEW=On\n", false, kStart + "wait(free) ", "VIEW=On", 0},
      // A line that cannot be decoded fails the run, whichever the end.
      {"\xEF\xBB\xBF[基本]\nVIEW=On\nX=\x82\xA0\n", false,
       kStart + "wait(free) ", "VIEW=On", 1},
      {"[基本]\nMESSAGE=On\n", false, kStart + "完了しました。 end(free)",
       "VIEW=Off", 0},
      // A dry run shows nothing and runs at once.
      {"[基本]\nVIEW=On\n", false, "", "VIEW=On", 0, RunKind::kDryRun},
  };
  for (const auto& c : cases) {
    for (bool in_window : {false, true}) {
      SCOPED_TRACE(c.ini ? c.ini : "(no file)");
      testing::TempFolder folder;
      if (c.ini) testing::WriteFile(folder / "Dravelkent.ini", c.ini);
      ScriptedHost host(folder.path(), c.run);
      window_double = &host;
      RunOptions options;
      options.run_kind = c.kind;
      std::FILE* err = std::tmpfile();
      int status = -1;
      if (in_window) {
        status = RunInWindow(WindowDouble, folder.path(), options, stdout, err);
      } else {
        status = RunStartUp(folder.path(), options, &host, stdout, err);
      }
      EXPECT_EQ(status, c.status);
      std::fclose(err);
      EXPECT_EQ(host.trace, c.trace);
      std::string ini = testing::ReadFile(folder / "Dravelkent.ini");
      EXPECT_NE(ini.find(c.view_after), std::string::npos) << ini;
      EXPECT_EQ(ini.find("TIMESTAMP=") != std::string::npos,
                c.trace.find("end") != std::string::npos);
    }
  }
}

// A reader of the action lines that goes away ends the lines, not the run.
TEST(RunStartUpTest, ActionLinesNobodyReadsFailTheRunNotTheWork) {
  testing::TempFolder folder;
  testing::WriteFile(folder / "Dravelkent.ini",
                     "[基本]\nTIMESTAMP=20000101\n[設定]\n01DIRNAMEFROM=" +
                         folder.path() + "\n01DIRNAMETO=" + folder.path() +
                         "/out\n01FILENAME=a\n01KIND=log\n01DELETEDAY=7\n");
  testing::WriteFile(folder / "a.log", "a");
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  std::signal(SIGPIPE, SIG_IGN);  // as the program does
  std::FILE* out = fdopen(ends[1], "w");
  ScriptedHost host(folder.path(), false);
  RunOptions options;
  options.action_lines = ActionLines::kOn;
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunStartUp(folder.path(), options, &host, out, err), 1);
  std::fclose(out);
  std::fclose(err);
  EXPECT_EQ(testing::ReadFile(folder / "out/20000101a.log"), "a");
  EXPECT_EQ(testing::ReadFile(folder / "Dravelkent.ini").find("20000101"),
            std::string::npos);
}

std::string Join(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) {
    text += (text.empty() ? "" : "/") + folder;
  }
  return text;
}

// As GNU tools read and word them: --help and --version win where they are
// reached; what is said of an argument is escaped.
TEST(CommandLineTest, OptionsAndUsageErrors) {
  const std::string kJobs = "'; the jobs come only from Dravelkent.ini";
  const std::string kEmpty = "' needs a folder, not an empty name";
  const std::string kNoArgument = "' doesn't allow an argument";
  const struct {
    std::vector<std::string> args;
    std::string got;
    std::string said = "";  // on stderr, past "dravelkent: "
    const char* out = "/dev/null";
  } cases[] = {
      {{}, "run  lines=0 in="},
      {{"-nv", "-C", "d"}, "run dry lines=1 in=d"},
      {{"--dry-run", "--directory=a b"}, "run dry lines=1 in=a b"},
      {{"-v", "-Cd", "--dir", "e"}, "run  lines=1 in=d/e"},
      {{"-C", ""}, "exit 2", "option '-C" + kEmpty},
      {{"--directory="}, "exit 2", "option '--directory" + kEmpty},
      {{"--", "-n"}, "exit 2", "unexpected argument '-n" + kJobs},
      {{"a\nb"}, "exit 2", "unexpected argument 'a\\nb" + kJobs},
      {{"x", "--help"}, "exit 0"},
      {{"--version", "x"}, "exit 0"},
      {{"--help"},
       "exit 1",
       "cannot write the help: No space left on device",
       "/dev/full"},
      {{"--no\x1b", "--help"}, "exit 2", "unrecognized option '--no\\x1B'"},
      {{"--d"},
       "exit 2",
       "option '--d' is ambiguous; possibilities: '--dry-run' '--directory'"},
      {{"--dry=x"}, "exit 2", "option '--dry-run" + kNoArgument},
      {{"--help=x"}, "exit 2", "option '--help" + kNoArgument},
      {{"--verbose", "-\x1bv"}, "exit 2", "invalid option -- '\\x1B'"},
      {{"-nC"}, "exit 2", "option requires an argument -- 'C'"},
      {{"-n", "--directory"},
       "exit 2",
       "option '--directory' requires an argument"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words = {"dravelkent"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    RunOptions options;
    int status = -1;
    std::FILE* out = std::fopen(c.out, "w");
    char* said = nullptr;
    size_t said_size = 0;
    std::FILE* err = open_memstream(&said, &said_size);
    std::string got =
        ParseCommandLine(static_cast<int>(words.size()), argv.data(), out, err,
                         &options, &status) == CommandLineAction::kExit
            ? "exit " + std::to_string(status)
            : std::string("run ") +
                  (options.run_kind == RunKind::kDryRun ? "dry" : "") +
                  " lines=" +
                  (options.action_lines == ActionLines::kOn ? "1" : "0") +
                  " in=" + Join(options.directories);
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(got, c.got) << words.back();
    EXPECT_EQ(std::string(said, said_size),
              c.said.empty() ? ""
                             : "dravelkent: " + c.said +
                                   (status == 2 ? " (see --help)\n" : "\n"));
    std::free(said);
  }
}

TEST(FrontEndChoiceTest, TheWindowOnlyToShowSomethingOnADisplay) {
  const struct {
    const char *display, *wayland, *view, *message;
    bool window;
  } cases[] = {
      {":0", nullptr, "Off", "Off", false},  // nothing to show
      {":0", nullptr, "Off", "on", false},   // only "On" is on
      {":0", nullptr, "", "Off", true},      // not "Off": waits
      {":0", "", "Off", "On", true},
      {nullptr, "wayland-0", "On", "Off", true},
      {"", "", "On", "On", false},  // empty names no display
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        HasDisplay(c.display, c.wayland) && ShowsWindow(c.view, c.message),
        c.window)
        << c.view << " " << c.message;
  }
}

}  // namespace
}  // namespace dravelkent
