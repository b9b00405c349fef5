#include "app/start_up.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

std::string LockState(const std::string& folder) {
  int fd = open((folder + "/Dravelkent.lock").c_str(), O_RDONLY | O_CLOEXEC);
  const bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held ? "held" : "free";
}

// Answers the wait with "実行" (|runs|) or "閉じる"; traces calls and lock.
// A run waiting for the lock |held| lets it go, traced with whether VIEW
// was written by then.
struct ScriptedHost : Host {
  ScriptedHost(std::string f, bool r) : folder(f), runs(r) {}
  void ShowStatus(const std::string& text) override {
    if (text.starts_with("waiting")) {
      const std::string ini = testing::ReadFile(folder + "/Dravelkent.ini");
      trace += ini.find("VIEW") == std::string::npos ? "waited " : "late ";
      close(held);
    } else {
      trace += text == "全ての処理が終了しました"
                   ? "job(" + LockState(folder) + ") "
                   : text + " ";
    }
  }
  void ShowMessage(const std::string& text) override { trace += text + " "; }
  void EndRun() override { trace += "end(" + LockState(folder) + ")"; }
  void WaitForUser(const std::function<void()>& run) override {
    trace += "wait(" + LockState(folder) + ") ";
    if (runs) run();
  }
  std::string folder, trace;
  bool runs;
  int held = -1;
};

// Start-up as a user "runs" the jobs, for a "dry" run, beside a "held" lock.
TEST(RunStartUpTest, RunsAtOnceOrWaitsAndLocksOnlyForTheRun) {
  const std::string kStart = "INIファイルに設定されている処理を実行します ";
  const struct {
    std::string how;
    const char* ini;
    std::string trace;
    const char* view_after;
    int status;
  } cases[] = {
      // The user may take a long while to choose: no lock until the run.
      {"runs",
       "[基本]\nVIEW=On\nTIMESTAMP=20200101\n[設定]\n01DIRNAMEFROM=.\n"
       "01DIRNAMETO=.\n01FILENAME=a\n01KIND=log\n01DELETEDAY=0\n",
       kStart + "wait(free) a.log を移動中 job(held) end(free)", "VIEW=On", 1},
      {"dry", "[基本]\nVIEW=On\n", "", "VIEW=On", 0},
      // Nothing is written before the lock is taken.
      {"held", "[基本]\n", kStart + "waited end(free)", "VIEW=Off", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    testing::TempFolder folder;
    testing::WriteFile(folder / "Dravelkent.ini", c.ini);
    ScriptedHost host(folder.path(), c.how == "runs");
    RunOptions options;
    if (c.how == "dry") options.run_kind = RunKind::kDryRun;
    if (c.how == "held") {
      host.held = open((folder / "Dravelkent.lock").c_str(),
                       O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_EQ(flock(host.held, LOCK_EX), 0);
    }
    std::FILE* out = std::fopen("/dev/null", "w");
    EXPECT_EQ(RunStartUp(folder.path(), options, &host, out, out), c.status);
    std::fclose(out);
    EXPECT_EQ(host.trace, c.trace);
    std::string ini = testing::ReadFile(folder / "Dravelkent.ini");
    EXPECT_NE(ini.find(c.view_after), std::string::npos) << ini;
    EXPECT_EQ(ini.find("TIMESTAMP=") != std::string::npos,
              c.trace.find("end") != std::string::npos);
  }
}

// Options as GNU tools read and word them, what is said of an argument
// escaped: the exit status and the options taken or what is said.
TEST(CommandLineTest, OptionsAndUsageErrors) {
  const std::string kJobs = "'; the jobs come only from Dravelkent.ini";
  const std::string kEmpty = "' needs a folder, not an empty name";
  const std::string kNoArgument = "' doesn't allow an argument";
  const struct {
    std::vector<std::string> args;
    std::string got;
    const char* out = "/dev/null";
  } cases[] = {
      {{}, "0 in"},
      {{"-nv", "-C", "d"}, "0 dry lines in/d"},
      {{"--dry-run", "--directory=a b"}, "0 dry lines in/a b"},
      {{"-v", "-Cd", "--dir", "e"}, "0 lines in/d/e"},
      {{"--directory="}, "2 option '--directory" + kEmpty},
      {{"--", "a\nb"}, "2 unexpected argument 'a\\nb" + kJobs},
      {{"x", "--help"}, "0 "},
      {{"--help"},
       "1 cannot write the help: No space left on device",
       "/dev/full"},
      {{"--no\x1b", "--help"}, "2 unrecognized option '--no\\x1B'"},
      {{"--d"},
       "2 option '--d' is ambiguous; possibilities: '--dry-run' '--directory'"},
      {{"--dry=x"}, "2 option '--dry-run" + kNoArgument},
      {{"--verbose", "-\x1bv"}, "2 invalid option -- '\\x1B'"},
      {{"-nC"}, "2 option requires an argument -- 'C'"},
      {{"-n", "--directory"}, "2 option '--directory' requires an argument"}};
  for (const auto& c : cases) {
    std::vector<std::string> words = {"dravelkent"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    RunOptions o;
    int status = -1;
    char* said = nullptr;
    size_t size = 0;
    std::FILE* out = std::fopen(c.out, "w");
    std::FILE* err = open_memstream(&said, &size);
    const bool run =
        ParseCommandLine(static_cast<int>(words.size()), argv.data(), out, err,
                         &o, &status) == CommandLineAction::kRun;
    std::fclose(out);
    std::fclose(err);
    std::string got = std::to_string(status) + " " + std::string(said, size);
    if (run) {
      got += std::string(o.run_kind == RunKind::kDryRun ? "dry " : "") +
             (o.action_lines == ActionLines::kOn ? "lines " : "") + "in";
      for (const std::string& folder : o.directories) got += "/" + folder;
    }
    std::string expected = c.got;
    if (expected[0] != '0') {
      expected.insert(2, "dravelkent: ") +=
          expected[0] == '2' ? " (see --help)\n" : "\n";
    }
    EXPECT_EQ(got, expected) << words.back();
    std::free(said);
  }
}

}  // namespace
}  // namespace dravelkent
