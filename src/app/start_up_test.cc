#include "app/start_up.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/front_end_choice.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

std::string LockState(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free ? "free" : "held";
}

// Answers the wait with "実行" (|runs|) or "閉じる"; traces calls and lock.
struct ScriptedHost : FrontEndHost {
  ScriptedHost(std::string f, bool r) : folder(f), runs(r) {}
  void ShowStatus(const std::string& text) override { trace += text + " "; }
  void ShowMessage(const std::string& text) override { trace += text + " "; }
  void EndRun() override { trace += "end(" + LockState(folder) + ")"; }
  void WaitForUser(const std::function<void()>& run) override {
    trace += "wait(" + LockState(folder) + ") ";
    if (runs) run();
  }
  std::string folder, trace;
  bool runs;
};

TEST(RunStartUpTest, RunsAtOnceOrWaitsAndLocksOnlyForTheRun) {
  const std::string kStart = "INIファイルに設定されている処理を実行します ";
  const struct {
    const char* ini;  // null: no settings file
    bool run;
    std::string trace;
    const char* view_after;
    int status;
  } cases[] = {
      {nullptr, false, kStart + "end(free)", "VIEW=Off", 0},
      // The user may take a long while to choose: no lock until the run.
      {"[基本]\nVIEW=On\n", true, kStart + "wait(free) end(free)", "VIEW=On",
       0},
      {"[基本]\nVIEW=On\n", false, kStart + "wait(free) ", "VIEW=On", 0},
      // A line that cannot be decoded fails the run, whichever the end.
      {"\xEF\xBB\xBF[基本]\nVIEW=On\n\x82\xA0\n", false, kStart + "wait(free) ",
       "VIEW=On", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini ? c.ini : "(no file)");
    testing::TempFolder folder;
    if (c.ini) testing::WriteFile(folder / "Dravelkent.ini", c.ini);
    ScriptedHost host(folder.path(), c.run);
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(RunStartUp(folder.path(), &host, err), c.status);
    std::fclose(err);
    EXPECT_EQ(host.trace, c.trace);
    std::string ini = testing::ReadFile(folder / "Dravelkent.ini");
    EXPECT_NE(ini.find(c.view_after), std::string::npos) << ini;
    EXPECT_EQ(ini.find("TIMESTAMP=") != std::string::npos,
              c.trace.find("end") != std::string::npos);
  }
}

TEST(CommandLineTest, OnlyALoneHelpOrVersionIsAccepted) {
  const std::pair<std::vector<const char*>, int> cases[] = {
      {{"dravelkent", "--help"}, 0},
      {{"dravelkent", "--version"}, 0},
      {{"dravelkent", "Dravelkent.ini"}, 2},
      {{"dravelkent", "--version", "x"}, 2},
  };
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (const auto& [args, status] : cases) {
    int exit_status = 0;
    bool runs =
        ParseCommandLine(static_cast<int>(args.size()), args.data(), sink, sink,
                         &exit_status) == CommandLineAction::kRun;
    EXPECT_EQ(runs ? -1 : exit_status, status) << args.back();  // -1: a run
  }
  std::fclose(sink);
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
    EXPECT_EQ(ChooseFrontEnd(DisplayFromEnvironment(c.display, c.wayland),
                             c.view, c.message) == FrontEnd::kGui,
              c.window)
        << c.view << " " << c.message;
  }
}

}  // namespace
}  // namespace dravelkent
