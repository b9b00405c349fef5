// Whole runs of the job engine on real folders (relative to the current
// one), MakeDirectoryPath and the failure log.

#include "jobs/job_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "fsutil/real_disk_interface.h"
#include "fsutil/temp_names.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"
#include "jobs/make_directory_path.h"
#include "jobs/run_lock.h"
#include "settings/settings_store.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;
using testing::DiskCall;
using testing::ReadFile;
using testing::WriteFile;

// A run on 8 December 2026 in a fresh current folder (on a tmpfs if any)
// through a FaultyDiskInterface, with itself as host and failure log: it
// counts the messages, and keeps what failed.
struct Env : Host, FailureLog {
  Env() {
    fs::current_path(temp.path());
    env = {&settings, &disk, &clock, this, this, temp.path()};
  }
  ~Env() override { fs::current_path(saved); }
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string&) override {
    int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    lockable = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    ++messages;
  }
  void EndRun() override { ++end_count; }
  void Report(const Status& s) override { said.push_back(s.message()); }
  int count() const override { return static_cast<int>(said.size()); }
  void Run(const std::string& ini) {
    WriteFile(settings.path(), ini);
    JobEngine(env).RunAllJobs();
  }

  const fs::path saved = fs::current_path();
  testing::TempFolder temp{access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""};
  SettingsStore settings{temp / "Dravelkent.ini"};
  FixedClock clock{{2026, 12, 8}};
  RealDiskInterface real_disk;
  testing::FaultyDiskInterface disk{&real_disk};
  EngineEnv env;
  std::vector<std::string> said;
  int messages = 0, end_count = 0;
  bool lockable = false;  // by another run, at the last message
};

// Every entry below |folder| but the settings file: its path, and a file's
// content, a link's target or "/" for a folder.
std::map<std::string, std::string> Snapshot(const std::string& folder = ".") {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().filename();
    EXPECT_FALSE(IsOwnTemporaryName(name)) << e.path();
    if (name == "Dravelkent.ini") continue;
    state[e.path()] = e.is_symlink()
                          ? "-> " + fs::read_symlink(e.path()).string()
                      : e.is_directory() ? "/"
                                         : ReadFile(e.path());
  }
  return state;
}

// The paths below |folder| relative to it, sorted, each followed by a blank.
std::string Names(const std::string& folder) {
  std::string joined;
  for (const auto& [path, state] : Snapshot(folder)) {
    joined += path.substr(folder.size() + 1) + " ";
  }
  return joined;
}

// The settings lines of job |n|: src/app.log into dst<n>/, seven days of
// retention; the lines |changes| come first, so theirs win.
std::string Job(int n, const std::string& changes = "") {
  const std::string p = (n < 10 ? "0" : "") + std::to_string(n);
  return changes + p + "DIRNAMEFROM=src\n" + p + "DIRNAMETO=dst" + p + "\n" +
         p + "FILENAME=app\n" + p + "KIND=log\n" + p + "DELETEDAY=7\n";
}

// Jobs 1 to 99, job 2 changed, on a day they have run already: whether
// job 2's folder is made, whether the list goes on, the one failure said
// (or "" for none) and a text the settings hold afterwards.
TEST(JobEngineTest, TheJobList) {
  using Case = std::tuple<const char*, bool, bool, const char*, const char*>;
  const Case cases[] = {
      {"", true, true, "", ""},
      {"02DIRNAMEFROM=\n", false, false, "", ""},
      {"02FILENAME=\n", true, false, "02FILENAME=\"\"", "02FILENAME=\n"},
      {"02KIND=jpeg\n", true, false, "02KIND=\"jpeg\"", "02KIND=\n"},
      {"02KIND=表\n", true, false, "KIND=\"表\"", "02KIND=\n"},  // 2 bytes
      {"02KIND=ﾛｸﾞ\n", true, true, "", "KIND=ﾛｸﾞ\n"},  // 3 bytes in CP932
      {"02DELETEDAY=x7\n", true, true, "DAY=\"x7\"", "02DELETEDAY=0\n"},
      {"02DELETEDAY=-7\n", true, true, "02DELETEDAY=\"-7\"", ""},
      {"02DELETEDAY=10000\n", true, true, "02DELETEDAY=\"10000\"", ""},
      {"02DELETEDAY=99999999999999999999\n", true, true, "DAY=\"99", ""},
      {"02DELETEDAY=\n", true, true, "", "02DELETEDAY=0\n"},
  };
  for (const auto& [job_2, job_2_made, list_goes_on, said, ini] : cases) {
    SCOPED_TRACE(job_2);
    Env t;
    std::string jobs = Job(1) + Job(2, job_2);
    for (int n = 3; n <= 99; ++n) jobs += Job(n);
    t.Run("[基本]\nTIMESTAMP=20261208\n[設定]\n" + jobs);
    EXPECT_EQ(fs::is_directory("dst02"), job_2_made);
    EXPECT_EQ(fs::is_directory("dst98"), list_goes_on);
    EXPECT_FALSE(fs::exists("dst99"));
    ASSERT_EQ(t.said.size(), *said ? 1u : 0u);
    EXPECT_NE((t.said.empty() ? "" : t.said[0]).find(said), std::string::npos);
    EXPECT_NE(ReadFile(t.settings.path()).find(ini), std::string::npos);
  }
}

// The files of job 1 (src/app.log; in dst01/ the copies of 30 November,
// expired, and of 1 December, kept) and of a tree job over src2/.
void Plant() {
  for (const char* folder : {"src", "dst01", "src2/sub"}) {
    fs::create_directories(folder);
  }
  for (const char* name : {"src/app.log", "dst01/20261130app.log",
                           "dst01/20261201app.log", "src2/a", "src2/sub/b"}) {
    WriteFile(name, name);
  }
  fs::create_symlink("a", "src2/link");
}

// A settings file whose TIMESTAMP could not be saved now.
struct UnsavableStore : SettingsStore {
  using SettingsStore::SettingsStore;
  Status ProbeWrite(std::string_view, std::string_view,
                    std::string_view) const override {
    return Status::Error("disk full");
  }
};

// Runs of job 1 with |jobs| before its lines ("UNSAVABLE": the date cannot
// be saved): src/, dst01/, the settings, how many messages and failures.
TEST(JobEngineTest, TheRun) {
  struct {
    const char *basic, *jobs, *extra;  // [基本] lines, settings, more files
    const char *src, *dst, *ini;
    int messages, failures;
  } cases[] = {
      {"TIMESTAMP=20261207\nBACKUP=on\nMESSAGE=x\n", "", "", "",
       "20261201app.log 20261207app.log ",
       "TIMESTAMP=20261208\nBACKUP=On\nMESSAGE=Off\n", 0, 0},
      {"TIMESTAMP=00000000\nBACKUP=On\n[裏設定]\n01DELETEALL=On\n",
       "01DELETEDAY=0\n", "", "app.log ", "20261208app.log ",
       "TIMESTAMP=00000000\n", 0, 0},
      // A late run moves to a name that expired already; it stays.
      {"TIMESTAMP=20261101\n", "", "", "", "20261101app.log 20261201app.log ",
       "", 0, 0},
      // Nor does a later job's expiry take a copy of this run.
      {"TIMESTAMP=20261202\n",
       "02DIRNAMEFROM=src\n02DIRNAMETO=dst01\n02FILENAME=*\n02KIND=log\n"
       "02DELETEDAY=1\n",
       "", "", "20261202app.log ", "", 0, 0},
      // One message for the failures of a tree.
      {"TIMESTAMP=20261207\nMESSAGE=On\n", "01FILENAME=*\n01DELETEDAY=0\n",
       "src/b.log dst01/app.log dst01/b.log", "app.log b.log ",
       "20261130app.log 20261201app.log app.log b.log ", "", 2, 2},
      // With a TIMESTAMP that cannot be saved, no file work.
      {"TIMESTAMP=20261207\nUNSAVABLE\n", "", "", "app.log ",
       "20261130app.log 20261201app.log ", "TIMESTAMP=20261207\n", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.basic) + c.jobs);
    Env t;
    Plant();
    std::istringstream extra(c.extra);
    for (std::string name; extra >> name;) WriteFile(name, name);
    UnsavableStore unsavable(t.settings.path());
    if (std::strstr(c.basic, "UNSAVABLE")) t.env.settings = &unsavable;
    RunLock lock(t.temp.path());
    t.env.run_lock = &lock;
    t.Run(std::string("[基本]\n") + c.basic + "[設定]\n" + Job(1, c.jobs));
    EXPECT_EQ(Names("src"), c.src);
    EXPECT_EQ(Names("dst01"), c.dst);
    EXPECT_EQ(t.messages, c.messages);
    EXPECT_EQ(t.lockable, c.messages > 0);  // no waiting on the last message
    EXPECT_EQ(t.count(), c.failures) << ::testing::PrintToString(t.said);
    EXPECT_NE(ReadFile(t.settings.path()).find(c.ini), std::string::npos);
  }
}

// Job 1 and a tree job, with the nth call of each kind failing: said once,
// the run goes on, and the next run ends where a clean run does.
TEST(JobEngineTest, EveryCallFailingAnywhereIsSaidOnce) {
  for (std::string backup : {"Off", "On"}) {
    const std::string ini =
        "[基本]\nBACKUP=" + backup + "\nTIMESTAMP=20261207\n[設定]\n" + Job(1) +
        Job(2, "02DIRNAMEFROM=src2\n02FILENAME=*\n02KIND=*\n");
    Env clean;
    Plant();
    clean.Run(ini);
    ASSERT_EQ(clean.count(), 0);
    const auto expected = Snapshot();
    ASSERT_GT(clean.disk.count(DiskCall::kOpenDir), 0);
    for (int i = 0; i <= int(DiskCall::kMakeDir); ++i) {
      const DiskCall call = DiskCall(i);
      for (int n = 1; n <= clean.disk.count(call); ++n) {
        SCOPED_TRACE(backup + " call " + std::to_string(i * 1000 + n));
        Env t;
        Plant();
        t.disk.FailNthCall(call, n, EIO);
        t.Run(ini);
        EXPECT_EQ(t.end_count, 1);
        int injected = 0;
        for (const std::string& text : t.said) {
          injected += text.find("injected failure") != std::string::npos;
        }
        // A file that cannot be examined counts as missing: copied anew.
        EXPECT_EQ(injected, call == DiskCall::kStat && t.said.empty() ? 0 : 1)
            << ::testing::PrintToString(t.said);
        // A folder that cannot be made fails the move into it as well.
        EXPECT_LE(t.said.size(), 2u);
        EXPECT_EQ(std::set(t.said.begin(), t.said.end()).size(), t.said.size());
        t.env.disk = &t.real_disk;
        t.Run(ini);
        EXPECT_EQ(Snapshot(), expected);
      }
    }
  }
}

TEST(JobEngineTest, StreamFailureLogSaysEachMessageOnce) {
  std::FILE* stream = std::tmpfile();
  StreamFailureLog log(stream);
  for (const char* said : {"a", "a", "b\nc"}) log.Report(Status::Error(said));
  EXPECT_EQ(log.count(), 3);
  char text[64];
  std::rewind(stream);
  EXPECT_EQ(std::string(text, std::fread(text, 1, sizeof text, stream)),
            "dravelkent: a\ndravelkent: b\\nc\n");
  std::fclose(stream);
}

// Relative paths are made by the runs above.
TEST(JobEngineTest, MakeDirectoryPath) {
  Env t;
  EXPECT_TRUE(MakeDirectoryPath(&t.disk, "//server/share/").ok());
  EXPECT_EQ(t.disk.count(DiskCall::kStat), 0);  // not even looked at
  WriteFile("f", "file");
  EXPECT_TRUE(MakeDirectoryPath(&t.disk, t.temp / "a/b/").ok());
  EXPECT_EQ(MakeDirectoryPath(&t.disk, t.temp / "f/b/").error_number(),
            ENOTDIR);  // a file in the way
  EXPECT_TRUE(MakeDirectoryPath(&t.disk, t.temp / "c//d/").ok());
  EXPECT_EQ(Names("."), "a a/b c f ");
}

}  // namespace
}  // namespace dravelkent
