// Whole runs of the job engine on real folders (relative to the current
// one), MakeDirectoryPath and the failure log.

#include "jobs/job_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "base/text_util.h"
#include "fsutil/temp_names.h"
#include "fsutil/testing/faulty_env.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;
using testing::Call;
using testing::ReadFile;
using testing::WriteFile;

// A run on 8 December 2026 in a fresh current folder (on a tmpfs if any)
// through a FaultyEnv, with itself as host and failure log: it counts the
// messages, and keeps what failed.
struct TestRun : Host, FailureLog {
  explicit TestRun(RunKind kind = RunKind::kReal) : disk(&env, kind) {
    fs::current_path(temp.path());
  }
  ~TestRun() override { fs::current_path(saved); }
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string&) override {
    const int fd = open("Dravelkent.lock", O_RDONLY | O_CLOEXEC);
    lockable = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    ++messages;
  }
  void EndRun() override { ++end_count; }
  void WaitForUser(const std::function<void()>& run) override { run(); }
  void Report(const Status& s) override { said.push_back(s.message()); }
  void Note(const std::string&) override {}
  int count() const override { return static_cast<int>(said.size()); }
  void Go(const std::string& ini) {
    WriteFile(settings.path(), ini);
    JobEngine({&disk, &settings, this, this, &actions, &lock, temp.path()})
        .RunAllJobs();
  }

  const fs::path saved = fs::current_path();
  testing::TempFolder temp{access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""};
  testing::FaultyEnv env;
  Disk disk;
  SettingsStore settings{&env, temp / "Dravelkent.ini"};
  char* lines = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&lines, &size);
  ActionLog actions{out};
  RunLock lock{&disk, temp / "Dravelkent.lock", settings.path()};
  std::vector<std::string> said;
  int messages = 0, end_count = 0;
  bool lockable = false;  // by another run, at the last message
};

// Every entry below |folder| but the run's own files: its path, and a
// file's content, a link's target or "/" for a folder.
std::map<std::string, std::string> Snapshot(const std::string& folder = ".") {
  std::map<std::string, std::string> state;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().filename();
    EXPECT_FALSE(IsOwnTemporaryName(name)) << e.path();
    if (name.starts_with("Dravelkent.")) continue;
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
  using Case = std::tuple<std::string, bool, bool, const char*, const char*>;
  const Case cases[] = {
      {"", true, true, "", ""},
      {"02DIRNAMEFROM=\n", false, false, "", ""},
      {"02FILENAME=\n", true, false, "02FILENAME=\"\"", "02FILENAME=\n"},
      {"02KIND=jpeg\n", true, false, "02KIND=\"jpeg\"", "02KIND=\n"},
      {"02KIND=表\n", true, false, "KIND=\"表\"", "02KIND=\n"},  // 2 bytes
      {"02KIND=ﾛｸﾞ\n", true, true, "", "KIND=ﾛｸﾞ\n"},  // 3 bytes in CP932
      {"02DELETEDAY=x7\n", true, true, "DAY=\"x7\"", "02DELETEDAY=0\n"},
      {"02DELETEDAY=-7\n", true, true, "02DELETEDAY=\"-7\"", ""},
      {"02DELETEDAY=10000\n", true, true, "DAY=\"10000\"", "02DELETEDAY=0\n"},
      {"02DELETEDAY=99999999999999999999\n", true, true, "DAY=\"99", ""},
      {"02DELETEDAY=\n", true, true, "", "02DELETEDAY=0\n"},
      {std::string("02FILENAME=a\0b\n", 15), true, false, "a\\x00b\" holds",
       "02FILENAME=a"},
      {std::string("02DIRNAMETO=d\0\n", 15), false, false, "NUL", ""},
      {"02DIRNAMETO=Dravelkent.ini/d\n", false, true, "Not a directory", ""},
  };
  for (const auto& [job_2, job_2_made, list_goes_on, said, ini] : cases) {
    SCOPED_TRACE(job_2);
    TestRun t;
    std::string jobs = Job(1) + Job(2, job_2);
    for (int n = 3; n <= 99; ++n) jobs += Job(n);
    t.Go("[基本]\nTIMESTAMP=20261208\n[設定]\n" + jobs);
    EXPECT_EQ(fs::is_directory("dst02"), job_2_made);
    EXPECT_EQ(fs::is_directory("dst98"), list_goes_on);
    EXPECT_FALSE(fs::exists("dst99"));
    ASSERT_EQ(t.said.size(), *said ? 1u : 0u);
    EXPECT_NE((t.said.empty() ? "" : EscapeForLine(t.said[0])).find(said),
              std::string::npos);
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
      // Nor does a later job's expiry, over the same folder by another
      // name, take a copy of this run.
      {"TIMESTAMP=20261202\n",
       "02DIRNAMEFROM=src\n02DIRNAMETO=./dst01/\n02FILENAME=*\n02KIND=log\n"
       "02DELETEDAY=1\n",
       "", "", "20261202app.log ", "", 0, 0},
      // Nor a dated tree's own expiry, with DELETEALL, what it wrote.
      {"TIMESTAMP=20261207\n[裏設定]\n01DELETEALL=On\n", "01FILENAME=*\n", "",
       "", "20261208app.log ", "", 0, 0},
      // One message for the failures of a tree.
      {"TIMESTAMP=20261207\nMESSAGE=On\n", "01FILENAME=*\n01DELETEDAY=0\n",
       "src/b.log dst01/app.log dst01/b.log", "app.log b.log ",
       "20261130app.log 20261201app.log app.log b.log ", "", 2, 2},
      // With a TIMESTAMP that cannot be saved, no file work.
      {"TIMESTAMP=20261207\nMESSAGE=Off\nUNSAVABLE\n", "", "", "app.log ",
       "20261130app.log 20261201app.log ", "TIMESTAMP=20261207\n", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.basic) + c.jobs);
    TestRun t;
    Plant();
    std::istringstream extra(c.extra);
    for (std::string name; extra >> name;) WriteFile(name, name);
    if (std::strstr(c.basic, "UNSAVABLE")) {
      for (int n = 1; n <= 3; ++n) t.env.FailAt(Call::kSave, n);
    }
    t.Go(std::string("[基本]\n") + c.basic + "[設定]\n" + Job(1, c.jobs));
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
    TestRun clean;
    Plant();
    clean.Go(ini);
    ASSERT_EQ(clean.count(), 0);
    const auto expected = Snapshot();
    for (int i = 0; i < static_cast<int>(Call::kCount); ++i) {
      for (int n = 1; n <= clean.env.count(Call(i)); ++n) {
        SCOPED_TRACE(backup + " call " + std::to_string(i * 1000 + n));
        TestRun t;
        Plant();
        t.env.FailAt(Call(i), n, EIO);
        t.Go(ini);
        EXPECT_EQ(t.end_count, 1);
        // A file that cannot be examined counts as none: copied anew. A
        // batch's flush fails each of its copies, each said once.
        const std::set<std::string> said(t.said.begin(), t.said.end());
        EXPECT_EQ(said.size(), t.said.size());
        EXPECT_TRUE(t.said.size() <= 1 || Call(i) == Call::kFlush);
        EXPECT_EQ(t.said.empty(), Call(i) == Call::kStat && t.said.empty());
        for (const std::string& text : t.said) {
          EXPECT_NE(text.find("Input/output error"), std::string::npos) << text;
        }
        t.env.ClearFaults();
        t.Go(ini);
        EXPECT_EQ(Snapshot(), expected);
      }
    }
  }
}

// Folders made as the text walks, told as the text names them; nothing
// through two separators or at a network path.
TEST(JobEngineTest, MakeDirectoryPath) {
  for (const RunKind kind : {RunKind::kReal, RunKind::kDryRun}) {
    TestRun t(kind);
    WriteFile("f", "file");
    std::unique_ptr<Folder> folder;
    const std::pair<std::string, const char*> cases[] = {
        {"//server/share/", "cannot open folder //server/"},
        {t.temp / "a/b/", ""},
        {"c/../d", ""},
        {"f/b/", "cannot open folder f/: Not a directory"},
        {"e//g", "cannot open folder e//g/: No such file"},
    };
    for (const auto& [text, said] : cases) {
      Status made = MakeDirectoryPath(&t.disk, &t.actions, text, &folder);
      EXPECT_EQ(made.message().substr(0, std::strlen(said)), said) << text;
      EXPECT_EQ(made.ok() ? folder->path() : "", *said ? ""
                                                 : text.back() == '/'
                                                     ? text
                                                     : text + "/");
    }
    std::fflush(t.out);
    EXPECT_EQ(std::string(t.lines, t.size), "mkdir " + t.temp / "a\nmkdir " +
                                                t.temp /
                                                    "a/b\nmkdir c\n"
                                                    "mkdir c/../d\nmkdir e\n");
    EXPECT_EQ(Names("."), kind == RunKind::kReal ? "a a/b c d e f " : "f ");
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

}  // namespace
}  // namespace dravelkent
