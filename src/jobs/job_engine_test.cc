// Dates, the expiry's name rules, and whole runs of the job engine.

#include "jobs/job_engine.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "base/text_util.h"
#include "fsutil/testing/faulty_env.h"
#include "fsutil/testing/temp_folder.h"
#include "jobs/dates.h"
#include "jobs/testing/date_fuzz_checks.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;
using testing::Call;
using testing::ListTree;
using testing::ReadFile;
using testing::WriteFile;

// The C library's calendar agrees, odd fields included.
TEST(DatesTest, AddDaysToDate) {
  for (const char* year : {"0000", "0004", "0999", "1582", "1900", "1969",
                           "2000", "2038", "2100", "9999", "-999", " 202"}) {
    for (const char* month : {"00", "01", "02", "12", "13", "25", "99", "-1"}) {
      for (const char* day : {"00", "01", "28", "29", "31", "60", "-9", "+3"}) {
        for (int days : {INT_MIN, -146097, -366, -1, 0, 1, 59, 9999, INT_MAX}) {
          std::string input(reinterpret_cast<const char*>(&days), 4);
          EXPECT_EQ(CheckNameDate(input + year + month + day), "");
        }
      }
    }
  }
}

TEST(DatesTest, ExpiryNameRules) {
  const Job jobs[] = {{"", "", "app", "log", 7}, {"", "", "*", "log", 7},
                      {"", "", "app", "*", 7}, {"", "", "*", "*", 7}};
  // For each job: "n" not its dated copy, "y" kept, "x" expired.
  const char* const cases[][2] = {
      {"20261130app.log", "xxxx"},   {"20261201app.log", "yyyy"},
      {"20261130apps.log", "nxnx"},  {"20261130app.LOG", "nnxx"},
      {"20261130app.log.1", "nnxx"}, {"20261130appdata", "nnnx"},
      {"2026113.log", "nnnn"},       {"2026113a.log", "nnnn"},
      {"00000001app.log", "xxxx"},   {"00000000app.log", "nnnn"},
      {"29000000app.log", "yyyy"},   {"29000001app.log", "nnnn"},
      {"20261131app.log", "yyyy"},   {"20261399app.log", "yyyy"},
      {"42.answer.log", "nnnn"},     {"1 - README.log", "nnnn"},
      {" 2026113app.log", "nnnn"},   {"+2026113app.log", "nnnn"},
      {"20261130a", "nnnn"}};
  for (const auto& [name, for_jobs] : cases) {
    std::string got;
    for (const Job& job : jobs) {
      got +=
          IsDatedCopy(job, name) ? "yx"[IsExpired(job, "20261208", name)] : 'n';
    }
    EXPECT_EQ(got, for_jobs) << name;
  }
}

// A run on 8 December 2026 in a fresh current folder through a FaultyEnv,
// itself the host and failure log.
struct TestRun : Host, FailureLog {
  TestRun() { fs::current_path(temp.path()); }
  ~TestRun() override { fs::current_path(saved); }
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void EndRun() override { ++end_count; }
  void WaitForUser(const std::function<void()>& run) override { run(); }
  void Report(const Status& s) override { said.push_back(s.message()); }
  void Note(const std::string&) override {}
  bool failed() const override { return !said.empty(); }
  void Go(const std::string& ini) {
    WriteFile(settings.path(), ini);
    JobEngine({&disk, &settings, this, this, &actions, &lock, temp.path()})
        .RunAllJobs();
  }

  const fs::path saved = fs::current_path();
  testing::TempFolder temp;
  testing::FaultyEnv env;
  Disk disk{&env, RunKind::kReal};
  SettingsStore settings{&env, temp / "Dravelkent.ini"};
  ActionLog actions;
  RunLock lock{&disk, temp / "Dravelkent.lock", settings.path()};
  std::vector<std::string> said;
  size_t end_count = 0;
};

// Job |n|: src/app.log into dst<n>/, 7 days; |changes| first, so they win.
std::string Job(int n, const std::string& changes = "") {
  const std::string p = (n < 10 ? "0" : "") + std::to_string(n);
  return changes + p + "DIRNAMEFROM=src\n" + p + "DIRNAMETO=dst" + p + "\n" +
         p + "FILENAME=app\n" + p + "KIND=log\n" + p + "DELETEDAY=7\n";
}

// Jobs 1 to 3, job 2 changed, on a day they have run already: the folders
// made, the one failure said and a text the settings hold after.
TEST(JobEngineTest, TheJobList) {
  const struct {
    std::string job_2;
    const char *made, *said, *ini;
  } cases[] = {
      {"", "dst01/ dst02/ dst03/ ", "", ""},
      {"02FILENAME=\n", "dst01/ dst02/ ", "02FILENAME=\"\"", "02FILENAME=\n"},
      {"02KIND=表\n", "dst01/ dst02/ ", "KIND=\"表\"", "02KIND=\n"},  // 2 bytes
      {"02KIND=ﾛｸﾞ\n", "dst01/ dst02/ dst03/ ", "", "KIND=ﾛｸﾞ\n"},  // CP932: 3
      {"02DELETEDAY=x7\n", "dst01/ dst02/ dst03/ ", "DAY=\"x7\"", "DAY=0\n"},
      {"02DELETEDAY=10000\n", "dst01/ dst02/ dst03/ ", "DAY=\"10000\"",
       "DAY=0\n"},
      {"02DELETEDAY=99999999999999999999\n", "dst01/ dst02/ dst03/ ",
       "DAY=\"99", "DAY=0\n"},
      {"02DELETEDAY=\n", "dst01/ dst02/ dst03/ ", "", "02DELETEDAY=0\n"},
      {std::string("02DIRNAMETO=d\0\n", 15), "dst01/ ", "NUL", ""},
      {"02DIRNAMETO=Dravelkent.ini/d\n", "dst01/ dst03/ ", "Not a directory",
       ""},
      {"02DIRNAMETO=c/../d\n", "c/ d/ dst01/ dst03/ ", "", ""},
      {"02DIRNAMETO=e//g\n", "dst01/ dst03/ e/ ", "open folder e//g/: No such",
       ""},
      // A network path makes nothing (nor does /proc take a new folder).
      {"02DIRNAMETO=//proc/x/y\n", "dst01/ dst03/ ",
       "open folder //proc/x/: ", ""}};
  for (const auto& [job_2, made, said, ini] : cases) {
    SCOPED_TRACE(job_2);
    TestRun t;
    t.Go("[基本]\nTIMESTAMP=20261208\n[設定]\n" + Job(1) + Job(2, job_2) +
         Job(3));
    EXPECT_EQ(ListTree("."),
              std::string("Dravelkent.ini Dravelkent.lock ") + made);
    ASSERT_EQ(t.said.size(), *said ? 1u : 0u);
    EXPECT_NE((t.said.empty() ? "" : EscapeForLine(t.said[0])).find(said),
              std::string::npos);
    EXPECT_NE(ReadFile(t.settings.path()).find(ini), std::string::npos);
  }
}

// Job 1's files (dst01/: one copy expired, one kept); a tree in src2/.
void Plant() {
  testing::WriteFiles(".", {"src/app.log", "dst01/20261130app.log",
                            "dst01/20261201app.log", "src2/a", "src2/sub/b"});
  fs::create_symlink("a", "src2/link");
}

// Any call failing is said once, the run goes on, and the next run ends
// where a clean run does.
TEST(JobEngineTest, EveryCallFailingAnywhereIsSaidOnce) {
  for (std::string backup : {"Off", "On"}) {
    const std::string ini =
        "[基本]\nBACKUP=" + backup + "\nTIMESTAMP=20261207\n[設定]\n" + Job(1) +
        Job(2, "02DIRNAMEFROM=src2\n02FILENAME=*\n02KIND=*\n");
    TestRun clean;
    Plant();
    clean.Go(ini);
    ASSERT_TRUE(clean.said.empty());
    const std::string expected = ListTree(".", true);
    for (int i = 0; i < static_cast<int>(Call::kCount); ++i) {
      for (int n = 1; n <= clean.env.count(Call(i)); ++n) {
        SCOPED_TRACE(backup + " call " + std::to_string(i * 1000 + n));
        TestRun t;
        Plant();
        t.env.FailAt(Call(i), n);
        t.Go(ini);
        EXPECT_EQ(t.end_count, 1u);
        // A failed stat counts as no file; a failed flush fails each copy.
        const std::set<std::string> said(t.said.begin(), t.said.end());
        EXPECT_EQ(said.size(), t.said.size());
        EXPECT_TRUE(t.said.size() <= 1 || Call(i) == Call::kFlush);
        EXPECT_TRUE(!t.said.empty() || Call(i) == Call::kStat);
        for (const std::string& text : t.said) {
          EXPECT_NE(text.find("Input/output error"), std::string::npos) << text;
        }
        t.Go(ini);
        EXPECT_EQ(ListTree(".", true), expected);
      }
    }
  }
}

}  // namespace
}  // namespace dravelkent
