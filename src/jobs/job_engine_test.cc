// Whole runs of the job engine on real folders, and the parts it reports
// through: MakeDirectoryPath and the failure log.

#include "jobs/job_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <vector>

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

// A run on 8 December 2026 in a fresh folder "$T" (in memory where there is
// a tmpfs) through the real file system behind a FaultyDiskInterface, with
// itself as the host and the failure log: it keeps the messages, each after
// running |on_message|, and what failed.
struct Env : Host, FailureLog {
  Env() { env = {&settings, &disk, &clock, this, this, temp.path()}; }
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string& text) override {
    if (on_message) on_message();
    messages.push_back(text);
  }
  void EndRun() override { ++end_count; }
  void Report(const Status& s) override { said.push_back(s.message()); }
  int count() const override { return static_cast<int>(said.size()); }

  void WriteIni(std::string text) const {
    for (size_t at; (at = text.find("$T")) != std::string::npos;) {
      text.replace(at, 2, temp.path());
    }
    WriteFile(settings.path(), text);
  }
  // The names in the folder $T/|relative|, sorted, each followed by a blank.
  std::string Names(const std::string& relative) const {
    std::set<std::string> names;
    std::error_code e;
    for (const auto& entry : fs::directory_iterator(temp / relative, e)) {
      names.insert(entry.path().filename());
    }
    std::string joined;
    for (const std::string& name : names) joined += name + " ";
    return joined;
  }
  void Run() { JobEngine(env).RunAllJobs(); }

  testing::TempFolder temp{access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""};
  SettingsStore settings{temp / "Dravelkent.ini"};
  FixedClock clock{{2026, 12, 8}};
  RealDiskInterface real_disk;
  testing::FaultyDiskInterface disk{&real_disk};
  EngineEnv env;
  std::vector<std::string> messages, said;
  int end_count = 0;
  std::function<void()> on_message;
};

// The settings lines of job |n|: $T/src/app.log into $T/dst<n>/, seven days
// of retention; the lines |changes| come first, so theirs win.
std::string Job(int n, const std::string& changes = "") {
  char text[200];
  std::snprintf(text, sizeof text,
                "%02dDIRNAMEFROM=$T/src\n%02dDIRNAMETO=$T/dst%02d\n"
                "%02dFILENAME=app\n%02dKIND=log\n%02dDELETEDAY=7\n",
                n, n, n, n, n, n);
  return changes + text;
}

// Jobs 1 to 99, job 2 with |changes|, on a day they have run already.
TEST(JobEngineTest, TheJobList) {
  struct {
    const char* job_2;
    bool job_2_made, list_goes_on;
    const char* said;  // the one failure, or "" for none
    const char* ini;   // in the settings afterwards
  } cases[] = {
      {"", true, true, "", ""},
      {"02DIRNAMEFROM=\n", false, false, "", ""},
      {"02DIRNAMETO=\n", false, false, "", ""},
      {"02FILENAME=\n", true, false, "02FILENAME=\"\"", "02FILENAME=\n"},
      {"02KIND=jpeg\n", true, false, "02KIND=\"jpeg\"", "02KIND=\n"},
      {"02KIND=表\n", true, false, "02KIND=\"表\"", "02KIND=\n"},  // 2 bytes
      {"02KIND=ﾛｸﾞ\n", true, true, "", "02KIND=ﾛｸﾞ\n"},  // 3 bytes in CP932
      {"02KIND=*\n", true, true, "", ""},
      {"02DELETEDAY=x7\n", true, true, "02DELETEDAY=\"x7\"", "02DELETEDAY=0\n"},
      {"02DELETEDAY=-7\n", true, true, "02DELETEDAY=\"-7\"", ""},
      {"02DELETEDAY=10000\n", true, true, "02DELETEDAY=\"10000\"", ""},
      {"02DELETEDAY=99999999999999999999\n", true, true, "DAY=\"99", ""},
      {"02DELETEDAY=9999\n", true, true, "", "02DELETEDAY=9999\n"},
      {"02DELETEDAY=\n", true, true, "", "02DELETEDAY=0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job_2);
    Env t;
    std::string jobs = Job(1) + Job(2, c.job_2);
    for (int n = 3; n <= 99; ++n) jobs += Job(n);
    t.WriteIni("[基本]\nTIMESTAMP=20261208\n[設定]\n" + jobs);
    t.Run();
    EXPECT_EQ(fs::is_directory(t.temp / "dst02"), c.job_2_made);
    EXPECT_EQ(fs::is_directory(t.temp / "dst98"), c.list_goes_on);
    EXPECT_FALSE(fs::exists(t.temp / "dst99"));
    ASSERT_EQ(t.said.size(), *c.said ? 1u : 0u);
    if (*c.said) {
      EXPECT_NE(t.said[0].find(c.said), std::string::npos);
    }
    EXPECT_NE(ReadFile(t.settings.path()).find(c.ini), std::string::npos);
  }
}

// The files of job 1 (src/app.log; in dst01/ the copies of 30 November,
// expired, and of 1 December, kept) and of a tree job over src2/.
void Plant(const Env& t) {
  fs::create_directories(t.temp / "src2/sub");
  fs::create_directories(t.temp / "src");
  fs::create_directories(t.temp / "dst01");
  for (const char* name : {"src/app.log", "dst01/20261130app.log",
                           "dst01/20261201app.log", "src2/a", "src2/sub/b"}) {
    WriteFile(t.temp / name, name);
  }
  fs::create_symlink("a", t.temp / "src2/link");
}

// A settings file whose TIMESTAMP could not be saved now.
struct UnsavableStore : SettingsStore {
  using SettingsStore::SettingsStore;
  Status ProbeWrite(std::string_view, std::string_view,
                    std::string_view) const override {
    return Status::Error("disk full");
  }
};

// Whether another run could take the lock on |folder| now.
bool Lockable(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return taken;
}

TEST(JobEngineTest, TheRun) {
  struct {
    const char* basic;  // lines of [基本]
    const char* jobs;   // settings lines before job 1's
    const char* extra;  // more files, or ""
    const char *src, *dst;
    size_t messages;
    int failures;
    const char* ini;  // in the settings afterwards
  } cases[] = {
      {"TIMESTAMP=20261207\nBACKUP=on\nMESSAGE=x\n", "", "", "",
       "20261201app.log 20261207app.log ", 0, 0,
       "TIMESTAMP=20261208\nBACKUP=On\nMESSAGE=Off\n"},
      {"TIMESTAMP=20261207\nBACKUP=On\n", "01DELETEDAY=0\n", "", "app.log ",
       "20261130app.log 20261201app.log 20261208app.log ", 0, 0, ""},
      {"TIMESTAMP=00000000\nBACKUP=On\n[裏設定]\n01DELETEALL=On\n",
       "01DELETEDAY=0\n", "", "app.log ", "20261208app.log ", 0, 0,
       "TIMESTAMP=00000000\n"},
      {"TIMESTAMP=20261207\nMESSAGE=On\n", "", "dst01/20261207app.log",
       "app.log ", "20261201app.log 20261207app.log ", 2, 1, ""},
      // A late run moves to a name that expired already; it stays.
      {"TIMESTAMP=20261101\n", "", "", "", "20261101app.log 20261201app.log ",
       0, 0, ""},
      // Nor does a later job's expiry take a copy of this run.
      {"TIMESTAMP=20261202\n",
       "02DIRNAMEFROM=$T/src\n02DIRNAMETO=$T/dst01\n02FILENAME=*\n"
       "02KIND=log\n02DELETEDAY=1\n",
       "", "", "20261202app.log ", 0, 0, ""},
      // One message for the failures of a tree.
      {"TIMESTAMP=20261207\nMESSAGE=On\n", "01FILENAME=*\n01DELETEDAY=0\n",
       "src/b.log dst01/app.log dst01/b.log", "app.log b.log ",
       "20261130app.log 20261201app.log app.log b.log ", 2, 2, ""},
      // With a TIMESTAMP that cannot be saved, no file work.
      {"TIMESTAMP=20261207\nUNSAVABLE\n", "", "", "app.log ",
       "20261130app.log 20261201app.log ", 0, 1, "TIMESTAMP=20261207\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.basic) + c.jobs);
    Env t;
    Plant(t);
    std::istringstream extra(c.extra);
    for (std::string name; extra >> name;) WriteFile(t.temp / name, name);
    t.WriteIni(std::string("[基本]\n") + c.basic + "[設定]\n" + Job(1, c.jobs));
    UnsavableStore unsavable(t.settings.path());
    if (std::string(c.basic).find("UNSAVABLE") != std::string::npos) {
      t.env.settings = &unsavable;
    }
    RunLock lock(t.temp.path());
    t.env.run_lock = &lock;
    bool lockable = false;  // at the last message
    t.on_message = [&] { lockable = Lockable(t.temp.path()); };
    t.Run();
    EXPECT_EQ(t.Names("src"), c.src);
    EXPECT_EQ(t.Names("dst01"), c.dst);
    EXPECT_EQ(t.messages.size(), c.messages);
    EXPECT_EQ(lockable, c.messages > 0);  // no waiting on the last message
    EXPECT_EQ(t.count(), c.failures) << ::testing::PrintToString(t.said);
    EXPECT_NE(ReadFile(t.settings.path()).find(c.ini), std::string::npos);
  }
}

// Every entry below $T but the settings: a file's content, a link's target.
std::map<std::string, std::string> Snapshot(const Env& t) {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(t.temp.path())) {
    const std::string name = e.path().filename();
    EXPECT_FALSE(IsOwnTemporaryName(name)) << e.path();
    if (name == "Dravelkent.ini") continue;
    state[e.path().string().substr(t.temp.path().size())] =
        e.is_symlink()     ? "-> " + fs::read_symlink(e.path()).string()
        : e.is_directory() ? "/"
                           : ReadFile(e.path());
  }
  return state;
}

// Job 1 and a tree job, with the nth call of each kind failing: said once,
// the run goes on, and the next run ends where a clean run does.
TEST(JobEngineTest, EveryCallFailingAnywhereIsSaidOnce) {
  for (std::string backup : {"Off", "On"}) {
    const std::string ini =
        "[基本]\nBACKUP=" + backup + "\nTIMESTAMP=20261207\n[設定]\n" + Job(1) +
        Job(2, "02DIRNAMEFROM=$T/src2\n02FILENAME=*\n02KIND=*\n");
    Env clean;
    Plant(clean);
    clean.WriteIni(ini);
    clean.Run();
    ASSERT_EQ(clean.count(), 0);
    const auto expected = Snapshot(clean);
    int runs = 0;
    for (DiskCall call :
         {DiskCall::kOpenDir, DiskCall::kReadDir, DiskCall::kStat,
          DiskCall::kCopyFile, DiskCall::kMoveFile, DiskCall::kCopySymlink,
          DiskCall::kRemoveFile, DiskCall::kMakeDir}) {
      for (int n = 1; n <= clean.disk.count(call); ++n, ++runs) {
        SCOPED_TRACE(backup + " call " + std::to_string(int(call)) + " #" +
                     std::to_string(n));
        Env t;
        Plant(t);
        t.WriteIni(ini);
        t.disk.FailNthCall(call, n, EIO);
        t.Run();
        EXPECT_EQ(t.end_count, 1);
        const auto& said = t.said;
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
        t.WriteIni(ini);
        t.env.disk = &t.real_disk;
        t.Run();
        EXPECT_EQ(Snapshot(t), expected);
      }
    }
    EXPECT_GT(runs, 30);
  }
}

TEST(JobEngineTest, StreamFailureLogSaysEachMessageOnce) {
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

// Each path absolute and relative to the current folder, in a folder that
// holds the file "f".
TEST(JobEngineTest, MakeDirectoryPath) {
  struct {
    const char* folder;
    bool went_through, failed;
    const char *made, *not_made;
  } cases[] = {{"a/b/c/", true, false, "a/b/c", ""},
               {"a//b/", false, false, "a", "a/b"},
               {"f/b/", false, true, "", "f/b"}};
  const fs::path saved = fs::current_path();
  for (const auto& c : cases) {
    for (bool relative : {false, true}) {
      SCOPED_TRACE(c.folder + std::string(relative ? " relative" : ""));
      Env t;
      WriteFile(t.temp / "f", "file");
      fs::current_path(t.temp.path());
      Status failure;
      EXPECT_EQ(MakeDirectoryPath(
                    &t.disk, relative ? c.folder : t.temp / c.folder, &failure),
                c.went_through);
      EXPECT_EQ(!failure.ok(), c.failed);
      EXPECT_TRUE(!*c.made || fs::is_directory(t.temp / c.made));
      EXPECT_FALSE(*c.not_made && fs::exists(t.temp / c.not_made));
      fs::current_path(saved);
    }
  }
  // A network path is not even looked at.
  Env t;
  Status failure;
  EXPECT_FALSE(MakeDirectoryPath(&t.disk, "//server/share/logs/", &failure));
  EXPECT_TRUE(failure.ok());
  EXPECT_EQ(t.disk.count(DiskCall::kStat), 0);
}

}  // namespace
}  // namespace dravelkent
