#include "jobs/job_engine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fsutil/real_disk_interface.h"
#include "jobs/testing/recording_host.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

class JobEngineTest : public ::testing::Test {
 protected:
  JobEngineTest()
      : settings_((temp_ / "Dravelkent.ini")), clock_({2026, 12, 6}) {
    env_.settings = &settings_;
    env_.disk = &disk_;
    env_.clock = &clock_;
    env_.host = &host_;
    env_.failures = &failures_;
    env_.current_directory = temp_.path();
  }

  void WriteIni(const std::string& text) {
    testing::WriteFile(settings_.path(), text);
  }
  std::string Ini() { return testing::ReadFile(settings_.path()); }

  // Settings lines of one usable job.
  std::string Job(int n, const std::string& extra = "") {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d", n);
    std::string p = prefix;
    return p + "DIRNAMEFROM=" + (temp_ / "src") + "\n" + p + "DIRNAMETO=" +
           (temp_ / "dst" + p) + "\n" + p + "FILENAME=app\n" + p +
           "KIND=log\n" + p + "DELETEDAY=7\n" + extra;
  }

  testing::TempFolder temp_;
  SettingsStore settings_;
  RealDiskInterface disk_;
  FixedClock clock_;
  testing::RecordingHost host_;
  testing::RecordingFailureLog failures_;
  EngineEnv env_;
};

TEST_F(JobEngineTest, TheJobListEndsAtTheFirstUnusableJob) {
  struct Case {
    const char* name;
    std::string third_job;   // settings of job 3
    bool third_folder_made;  // its target folder exists afterwards
    bool fourth_runs;
    const char* said;        // the one failure names this, or "" for none
  } cases[] = {
      {"usable", Job(3), true, true, ""},
      {"no source", "03DIRNAMETO=" + (temp_ / "dst03") + "\n", false, false,
       ""},
      {"no target", "03DIRNAMEFROM=" + (temp_ / "src") + "\n", false, false,
       ""},
      {"no name", Job(3).replace(Job(3).find("03FILENAME=app"), 14, "03FILENAME="),
       true, false, "03FILENAME=\"\" is empty"},
      {"four-letter kind",
       Job(3).replace(Job(3).find("KIND=log"), 8, "KIND=jpeg"), true, false,
       "03KIND=\"jpeg\""},
      {"star kind", Job(3).replace(Job(3).find("KIND=log"), 8, "KIND=*"), true,
       true, ""},
      // Three bytes in code page 932, which is how KIND is measured.
      {"half-width kana kind",
       Job(3).replace(Job(3).find("KIND=log"), 8, "KIND=ﾛｸﾞ"), true, true, ""},
      {"kanji kind", Job(3).replace(Job(3).find("KIND=log"), 8, "KIND=表"),
       true, false, "03KIND=\"表\""},
      // A retention typo is said, but the job and the list go on.
      {"days typo", Job(3).replace(Job(3).find("DAY=7"), 5, "DAY=x7"), true,
       true, "03DELETEDAY=\"x7\""},
      {"no retention", Job(3).replace(Job(3).find("DAY=7"), 5, "DAY=0"), true,
       true, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all((temp_ / "dst03"));
    fs::remove_all((temp_ / "dst04"));
    WriteIni("[基本]\nTIMESTAMP=20261206\n[設定]\n" + Job(1) + Job(2) +
             c.third_job + Job(4));
    host_ = testing::RecordingHost();
    failures_ = testing::RecordingFailureLog();
    JobEngine engine(env_);
    engine.RunAllJobs();
    EXPECT_EQ(fs::is_directory((temp_ / "dst03")), c.third_folder_made)
        << c.name;
    ASSERT_EQ(failures_.failures.size(), *c.said ? 1u : 0u) << c.name;
    if (*c.said) {
      EXPECT_NE(failures_.failures[0].find(c.said), std::string::npos)
          << failures_.failures[0];
    }
    EXPECT_EQ(fs::is_directory((temp_ / "dst04")), c.fourth_runs) << c.name;
    EXPECT_EQ(host_.end_count, 1) << c.name;
  }
}

TEST_F(JobEngineTest, EveryUsableJobEndsWithTheCompletionText) {
  WriteIni("[基本]\nTIMESTAMP=20261206\n[設定]\n" + Job(1) + Job(2));
  JobEngine engine(env_);
  engine.RunAllJobs();
  EXPECT_EQ(host_.statuses,
            std::vector<std::string>(2, "全ての処理が終了しました"));
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_TRUE(failures_.failures.empty());
}

TEST_F(JobEngineTest, ALaterJobNeverExpiresACopyOfThisRun) {
  fs::create_directory((temp_ / "src"));
  fs::create_directory((temp_ / "src2"));
  testing::WriteFile((temp_ / "src/app.log"), "data");
  WriteIni("[基本]\nTIMESTAMP=20261201\n[設定]\n" + Job(1) +
           "02DIRNAMEFROM=" + (temp_ / "src2") + "\n02DIRNAMETO=" +
           (temp_ / "dst01") + "\n02FILENAME=*\n02KIND=log\n02DELETEDAY=1\n");
  JobEngine engine(env_);
  engine.RunAllJobs();
  EXPECT_EQ(testing::ReadFile((temp_ / "dst01/20261201app.log")), "data");
}

// A settings file whose TIMESTAMP could not be saved now.
class UnsavableStore : public SettingsStore {
 public:
  using SettingsStore::SettingsStore;
  Status ProbeWrite(std::string_view, std::string_view,
                    std::string_view) const override {
    return Status::Error("cannot save " + path() + ": disk full");
  }
};

TEST_F(JobEngineTest, ARunThatCannotRecordItsDateDoesNoFileWork) {
  UnsavableStore unsavable((temp_ / "Dravelkent.ini"));
  env_.settings = &unsavable;
  fs::create_directory((temp_ / "src"));
  for (const char* timestamp : {"20261205", "00000000"}) {
    const bool forced = timestamp == std::string("00000000");
    testing::WriteFile((temp_ / "src/app.log"), "data");
    WriteIni(std::string("[基本]\nTIMESTAMP=") + timestamp + "\n[設定]\n" +
             Job(1) + "02DIRNAMEFROM=" + (temp_ / "src") + "\n02DIRNAMETO=" +
             (temp_ / "src") + "\n02KIND=jpeg\n");
    failures_ = testing::RecordingFailureLog();
    JobEngine engine(env_);
    engine.RunAllJobs();
    EXPECT_EQ(fs::exists((temp_ / "src/app.log")), !forced) << timestamp;
    EXPECT_EQ(fs::exists((temp_ / "dst01")), forced) << timestamp;
    EXPECT_NE(Ini().find(std::string("TIMESTAMP=") + timestamp),
              std::string::npos);
    EXPECT_NE(Ini().find("02KIND=\n"), std::string::npos);  // still checked
    ASSERT_FALSE(failures_.failures.empty());
    EXPECT_EQ(failures_.failures[0].find("disk full") != std::string::npos,
              !forced)
        << failures_.failures[0];
  }
}

TEST_F(JobEngineTest, ATreeJobsFailuresAreSaidInOneMessage) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    fs::create_directories((temp_ / "dst01"));
    fs::create_directories((temp_ / "src"));
    testing::WriteFile((temp_ / "src") + "/" + name, "new");
    testing::WriteFile((temp_ / "dst01") + "/" + name, "old");  // not replaced
  }
  std::string job = Job(1);
  job.replace(job.find("FILENAME=app"), 12, "FILENAME=*");
  job.replace(job.find("DAY=7"), 5, "DAY=0");
  WriteIni("[基本]\nMESSAGE=On\nTIMESTAMP=20261205\n[設定]\n" + job);
  JobEngine engine(env_);
  engine.RunAllJobs();
  ASSERT_EQ(host_.messages.size(), 2u);  // then "完了しました。"
  const std::string& said = host_.messages[0];
  EXPECT_EQ(said.rfind((temp_ / "src/") + "の処理に失敗しました（4件）：", 0),
            0u)
      << said;
  EXPECT_NE(said.find(failures_.failures[2] + " / ほか1件"), std::string::npos)
      << said;
}

TEST_F(JobEngineTest, JobOneFallsBackToTheCurrentFolder) {
  WriteIni("[設定]\n01FILENAME=app\n01KIND=log\n");
  JobEngine engine(env_);
  engine.ProcessJob(1);
  EXPECT_TRUE(engine.stop());
  EXPECT_EQ(engine.source_folder(), temp_.path() + "/");
  EXPECT_EQ(engine.target_folder(), temp_.path() + "/");
  EXPECT_NE(Ini().find("01DIRNAMEFROM=\n01DIRNAMETO=\n"), std::string::npos);
}

TEST_F(JobEngineTest, FieldsOfAUsableJob) {
  WriteIni("[設定]\n01DIRNAMEFROM=/a/b\n01DIRNAMETO=" + (temp_ / "t/") +
           "\n01FILENAME=app\n01KIND=*\n01DELETEDAY=12 days\n"
           "[裏設定]\n01DELETEALL=On\n");
  JobEngine engine(env_);
  engine.ProcessJob(1);
  EXPECT_FALSE(engine.stop());
  EXPECT_EQ(engine.source_folder(), "/a/b/");
  EXPECT_EQ(engine.target_folder(), (temp_ / "t/"));
  EXPECT_EQ(engine.retention_text(), "12 days");
  EXPECT_TRUE(engine.delete_all());
}

TEST_F(JobEngineTest, MessagesAndModeComeFromTheBasicSection) {
  struct Case {
    const char* basic;
    TransferMode mode;
    bool message;
  } cases[] = {
      {"", TransferMode::kMove, false},
      {"BACKUP=On\nMESSAGE=On\n", TransferMode::kCopy, true},
      {"BACKUP=on\nMESSAGE=ON\n", TransferMode::kMove, false},
      {"backup=\"On\"\nmessage='On'\n", TransferMode::kCopy, true},
  };
  for (const Case& c : cases) {
    WriteIni(std::string("[基本]\n") + c.basic);
    host_ = testing::RecordingHost();
    JobEngine engine(env_);
    engine.RunAllJobs();
    EXPECT_EQ(engine.mode(), c.mode) << c.basic;
    EXPECT_EQ(host_.messages.size(), c.message ? 1u : 0u) << c.basic;
  }
}

TEST_F(JobEngineTest, AFolderThatCannotBeCreatedIsReported) {
  testing::WriteFile((temp_ / "file"), "x");
  WriteIni("[基本]\nTIMESTAMP=20261206\n[設定]\n01DIRNAMEFROM=/x\n"
           "01DIRNAMETO=" + (temp_ / "file/sub") +
           "\n01FILENAME=app\n01KIND=log\n");
  JobEngine engine(env_);
  engine.RunAllJobs();
  ASSERT_EQ(failures_.failures.size(), 1u);
  EXPECT_NE(failures_.failures[0].find("file"), std::string::npos);
}

}  // namespace
}  // namespace dravelkent
