// Failures are said once per distinct message and all counted; a run with
// any file operation failing anywhere goes on, says it, and loses nothing.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "fsutil/temp_names.h"
#include "jobs/failure_log.h"
#include "jobs/testing/job_test_env.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;
using testing::DiskCall;

TEST(EngineFaultTest, StreamFailureLogSaysEachMessageOnce) {
  std::FILE* stream = std::tmpfile();
  StreamFailureLog log(stream);
  for (const char* said : {"cannot read a", "cannot read a", "b\nc"}) {
    log.Report(Status::Error(said));
  }
  EXPECT_EQ(log.count(), 3);
  char text[64] = {};
  std::rewind(stream);
  EXPECT_EQ(std::string(text, std::fread(text, 1, sizeof text, stream)),
            "dravelkent: cannot read a\ndravelkent: b\\nc\n");
  std::fclose(stream);
}

// The settings of two jobs: $T/src/app.log into dst01/, and the tree
// src2/ into dst02/.
std::string Settings(const std::string& backup) {
  return "[基本]\nMESSAGE=Off\nBACKUP=" + backup +
         "\nTIMESTAMP=20261207\n[設定]\n01DIRNAMEFROM=$T/src\n"
         "01DIRNAMETO=$T/dst01\n01FILENAME=app\n01KIND=log\n"
         "01DELETEDAY=7\n02DIRNAMEFROM=$T/src2\n02DIRNAMETO=$T/dst02\n"
         "02FILENAME=*\n02KIND=*\n02DELETEDAY=7\n";
}

// The files of the two jobs: dst01/ holds an expired and a kept copy,
// src2/ a link.
void Plant(const testing::JobTestEnv& t, const std::string& backup) {
  fs::create_directories(t.temp / "src2/sub");
  fs::create_directories(t.temp / "dst01");
  fs::create_directories(t.temp / "src");
  for (const char* name : {"src/app.log", "dst01/20261120app.log",
                           "dst01/20261203app.log", "src2/a", "src2/sub/b"}) {
    testing::WriteFile(t.temp / name, name);
  }
  fs::create_symlink("a", t.temp / "src2/link");
  t.WriteIni(Settings(backup));
}

// Every entry below $T but the settings: a file's content, a link's target.
std::map<std::string, std::string> Snapshot(const testing::JobTestEnv& t) {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(t.temp.path())) {
    const std::string name = e.path().filename();
    EXPECT_FALSE(IsOwnTemporaryName(name)) << e.path();
    if (name == "Dravelkent.ini") continue;
    state[e.path().string().substr(t.temp.path().size())] =
        e.is_symlink()     ? "-> " + fs::read_symlink(e.path()).string()
        : e.is_directory() ? "/"
                           : testing::ReadFile(e.path());
  }
  return state;
}

TEST(EngineFaultTest, EveryCallFailingAnywhereIsSaidOnce) {
  for (const char* backup : {"Off", "On"}) {
    testing::JobTestEnv clean;
    Plant(clean, backup);
    clean.Run();
    ASSERT_EQ(clean.failures.count(), 0);
    const auto expected = Snapshot(clean);
    int runs = 0;
    for (DiskCall call :
         {DiskCall::kOpenDir, DiskCall::kReadDir, DiskCall::kStat,
          DiskCall::kCopyFile, DiskCall::kMoveFile, DiskCall::kCopySymlink,
          DiskCall::kRemoveFile, DiskCall::kMakeDir}) {
      for (int n = 1; n <= clean.disk.count(call); ++n, ++runs) {
        SCOPED_TRACE(std::string(backup) + " call " +
                     std::to_string(static_cast<int>(call)) + " #" +
                     std::to_string(n));
        testing::JobTestEnv t;
        Plant(t, backup);
        t.disk.FailNthCall(call, n, EIO);
        t.Run();
        EXPECT_EQ(t.host.end_count, 1);
        const auto& said = t.failures.said;
        int injected = 0;
        for (const std::string& text : said) {
          injected += text.find("injected failure") != std::string::npos;
        }
        // A file that cannot be examined counts as missing: copied anew.
        EXPECT_EQ(injected, call == DiskCall::kStat && said.empty() ? 0 : 1)
            << ::testing::PrintToString(said);
        // A folder that cannot be made fails the move into it as well.
        EXPECT_LE(said.size(), 2u);
        EXPECT_EQ(std::set(said.begin(), said.end()).size(), said.size());
        // The next run finishes the work.
        t.WriteIni(Settings(backup));
        t.env.disk = &t.real_disk;
        t.Run();
        EXPECT_EQ(Snapshot(t), expected);
      }
    }
    EXPECT_GT(runs, 30);
  }
}

}  // namespace
}  // namespace dravelkent
