#include "jobs/expiry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "jobs/date_arithmetic.h"
#include "jobs/testing/job_test_env.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

ExpiryJob Job(const std::string& file_name, const std::string& kind,
              int retention_days, DeleteAll delete_all) {
  ExpiryJob job;
  job.target_folder = "/t/";
  job.file_name = file_name;
  job.kind = kind;
  job.retention_days = retention_days;
  job.delete_all = delete_all;
  job.today = "20261208";
  return job;
}

TEST(ExpiryTest, KnowsTheJobsDatedCopies) {
  struct Case {
    const char* name;
    bool for_app_log;  // FILENAME app, KIND log
    bool for_any_log;  // FILENAME *, KIND log
    bool for_app_any;  // FILENAME app, KIND *
  } cases[] = {
      {"20261130app.log", true, true, true},
      {"20261130application.log", false, true, false},  // another job's
      {"20261130web.log", false, true, false},
      {"20261130App.log", false, true, false},  // case counts
      {"20261130app.LOG", false, false, true},
      {"20261130app.txt", false, false, true},
      {"20261130app.log.1", false, false, true},
      {"20261130appdata", false, false, false},  // no "." after the name
      {"2026113.log", false, false, false},     // 11 bytes
      {"2026113a.log", false, true, false},     // 12 bytes, date 2026113
      {"00000001app.log", true, true, true},
      {"00000000app.log", false, false, false},
      {"29000000app.log", true, true, true},
      {"29000001app.log", false, false, false},
      {"20991231app.log", true, true, true},    // dated after 2010
      {"-2026113app.log", false, false, false},
      {"app.20261130.log", false, false, false},
  };
  const ExpiryJob app_log = Job("app", "log", 7, DeleteAll::kNo);
  const ExpiryJob any_log = Job("*", "log", 7, DeleteAll::kNo);
  const ExpiryJob app_any = Job("app", "*", 7, DeleteAll::kNo);
  for (const Case& c : cases) {
    EXPECT_EQ(IsDatedCopy(app_log, c.name), c.for_app_log) << c.name;
    EXPECT_EQ(IsDatedCopy(any_log, c.name), c.for_any_log) << c.name;
    EXPECT_EQ(IsDatedCopy(app_any, c.name), c.for_app_any) << c.name;
  }
}

TEST(ExpiryTest, ExpiresStrictlyBeforeToday) {
  struct Case {
    const char* name;
    int retention_days;
    DeleteAll delete_all;
    bool expired;
  } cases[] = {
      {"20261130app.log", 7, DeleteAll::kNo, true},   // expired 20261207
      {"20261201app.log", 7, DeleteAll::kNo, false},  // expires today
      {"20261201app.log", 6, DeleteAll::kNo, true},
      {"20250101app.log", 0, DeleteAll::kNo, false},  // no retention
      {"20261207app.log", 0, DeleteAll::kYes, true},
      {"20291207app.log", 7, DeleteAll::kYes, true},
      {"20150101app.log", 9999, DeleteAll::kNo, false},  // 20420519
      {"19900101app.log", 9999, DeleteAll::kNo, true},   // 20170519
      {"00000001app.log", 9999, DeleteAll::kNo, true},   // a year before 0
      {"20261399app.log", 7, DeleteAll::kNo, false},  // 20270408 + 7
      {"20260099app.log", 7, DeleteAll::kNo, true},   // 20260309 + 7
      {"20261100app.log", 7, DeleteAll::kNo, true},   // 20261031 + 7
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsExpired(Job("app", "log", c.retention_days, c.delete_all),
                        c.name),
              c.expired)
        << c.name << " + " << c.retention_days;
  }
}

// A target folder holding one of each kind of entry.
class ExpiryScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"20261130app.log", "20261201app.log", "20261130web.log",
          "20150101app.log", "29000101app.log", "2026113.log",
          "notes.txt"}) {
      ASSERT_TRUE(testing::WriteFile((temp_ / name), name));
    }
    fs::create_directory((temp_ / "20150102app.log"));
    testing::WriteFile((temp_ / "20150102app.log/inner"), "x");
    fs::create_directory((temp_ / "elsewhere"));
    testing::WriteFile((temp_ / "elsewhere/data"), "data");
    fs::create_symlink((temp_ / "elsewhere/data"),
                       (temp_ / "20150103app.log"));
  }

  ExpiryJob JobHere(int retention_days, DeleteAll delete_all) {
    ExpiryJob job = Job("app", "log", retention_days, delete_all);
    job.target_folder = temp_.path() + "/";
    return job;
  }

  std::vector<std::string> Left() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::string> Deleting(std::vector<std::string> names) {
    for (std::string& name : names) name = (temp_ / name) + " 削除中";
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempFolder temp_;
  testing::JobTestEnv t_;
};

TEST_F(ExpiryScanTest, RemovesTheExpiredCopiesOnly) {
  std::string work_message = "app.log を移動中";
  ExpireDatedCopies(t_.env, JobHere(7, DeleteAll::kNo), &work_message);
  EXPECT_EQ(Left(), (std::vector<std::string>{
                        "20150102app.log", "2026113.log", "20261130web.log",
                        "20261201app.log", "29000101app.log",
                        "elsewhere", "notes.txt"}));
  EXPECT_EQ(testing::ReadFile((temp_ / "elsewhere/data")), "data");
  std::vector<std::string> shown = t_.host.statuses;
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, Deleting({"20150101app.log", "20150103app.log",
                             "20261130app.log"}));
  EXPECT_EQ(work_message, t_.host.statuses.back());
  EXPECT_EQ(t_.failures.count(), 0);
}

TEST_F(ExpiryScanTest, DeleteAllTakesEveryDatedCopy) {
  std::string work_message;
  ExpireDatedCopies(t_.env, JobHere(0, DeleteAll::kYes), &work_message);
  EXPECT_EQ(Left(), (std::vector<std::string>{
                        "20150102app.log", "2026113.log", "20261130web.log",
                        "29000101app.log", "elsewhere", "notes.txt"}));
  EXPECT_EQ(t_.host.statuses.size(), 4u);
}

TEST_F(ExpiryScanTest, KeepingEverythingLeavesTheStatusLineAlone) {
  for (const char* before : {"", "app.log は更新されていません"}) {
    std::string work_message = before;
    ExpireDatedCopies(t_.env, JobHere(0, DeleteAll::kNo), &work_message);
    EXPECT_EQ(work_message, before);
  }
  EXPECT_TRUE(t_.host.statuses.empty());
  EXPECT_EQ(Left().size(), 10u);
}

TEST_F(ExpiryScanTest, AFailedRemovalIsReportedAndTheScanGoesOn) {
  t_.disk.FailPath(testing::DiskCall::kRemoveFile, (temp_ / "20261130app.log"),
                 EACCES);
  std::string work_message;
  ExpireDatedCopies(t_.env, JobHere(7, DeleteAll::kNo), &work_message);
  EXPECT_TRUE(fs::exists((temp_ / "20261130app.log")));
  EXPECT_FALSE(fs::exists((temp_ / "20150101app.log")));
  ASSERT_EQ(t_.failures.count(), 1);
  EXPECT_NE(t_.failures.failures[0].find((temp_ / "20261130app.log")),
            std::string::npos);
  EXPECT_EQ(t_.host.statuses.size(), 3u);  // it still reads "削除中"
}

TEST(ExpiryManyDatesTest, EachNameIsJudgedByItsOwnDate) {
  // More distinct dates than one scan remembers, every one on both sides
  // of the limit, with several copies of each date.
  testing::TempFolder temp;
  testing::JobTestEnv t;
  ExpiryJob job = Job("*", "log", 30, DeleteAll::kNo);
  job.today = "20261208";
  job.target_folder = temp.path() + "/";
  std::vector<std::string> kept;
  size_t copies = 0;
  for (int day = 0; day < 4200; ++day) {
    // Day 1 is 30 days before today: from day 2 on back, expired.
    std::string date = AddDaysToDate("20261108", -day + 1);
    for (const char* copy : {"a", "b"}) {
      if (copy[0] == 'b' && day % 7 != 0) continue;
      std::string name = date + "app-" + copy + ".log";
      ASSERT_TRUE(testing::WriteFile((temp / name), "x"));
      ++copies;
      if (day <= 1) kept.push_back(name);
    }
  }
  std::string work_message;
  ExpireDatedCopies(t.env, job, &work_message);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(temp.path())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(left, kept);
  EXPECT_EQ(t.host.statuses.size(), copies - kept.size());
}

TEST_F(ExpiryScanTest, AMissingFolderIsQuietAnUnreadableOneIsReported) {
  std::string work_message;
  ExpiryJob job = JobHere(7, DeleteAll::kNo);
  job.target_folder = (temp_ / "missing/");
  ExpireDatedCopies(t_.env, job, &work_message);
  EXPECT_EQ(t_.failures.count(), 0);

  job.target_folder = temp_.path() + "/";
  t_.disk.FailPath(testing::DiskCall::kOpenDir, job.target_folder, EACCES);
  ExpireDatedCopies(t_.env, job, &work_message);
  EXPECT_EQ(t_.failures.count(), 1);
  EXPECT_TRUE(t_.host.statuses.empty());
  EXPECT_EQ(Left().size(), 10u);
}

}  // namespace
}  // namespace dravelkent
