#include "jobs/rotation.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "fsutil/testing/temp_folder.h"
#include "jobs/testing/job_test_env.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

constexpr char kToday[] = "20261206";

TEST(RunDatesTest, DecidesWhatIsDue) {
  struct Case {
    const char* timestamp;
    const char* last_run_date;
    bool rotation_due;
    bool expiry_due_7;  // retention days 7
    bool expiry_due_0;  // retention days 0
  } cases[] = {
      {"", kToday, false, false, false},  // first run
      {kToday, kToday, false, false, false},  // second run the same day
      {"20261205", "20261205", true, true, false},
      {"00000000", kToday, true, true, true},  // forced
      {"12345", kToday, false, false, false},  // five digits: today
      {"19600000", "19600000", true, true, false},
      {"19599999", kToday, false, false, false},
      {"29000000", "29000000", true, true, false},
      {"29000001", kToday, false, false, false},
      {"20261205 extra", "20261205", true, true, false},
      {"0", kToday, false, false, false},
      {"00000000 ", kToday, false, false, false},  // not exactly "00000000"
  };
  for (const Case& c : cases) {
    RunDates dates = SettleRunDates(kToday, c.timestamp);
    EXPECT_EQ(dates.last_run_date, c.last_run_date) << c.timestamp;
    EXPECT_EQ(RotationDue(dates), c.rotation_due) << c.timestamp;
    EXPECT_EQ(ExpiryDue(dates, 7), c.expiry_due_7) << c.timestamp;
    EXPECT_EQ(ExpiryDue(dates, 0), c.expiry_due_0) << c.timestamp;
  }
}

TEST(RotationPathsTest, NamesTheDestinationByRetention) {
  struct Case {
    const char* timestamp;
    int retention_days;
    const char* last_run_name;
    const char* destination;
  } cases[] = {
      {"20261205", 7, "/t/20261205app.log", "/t/20261205app.log"},
      {"20261205", 0, "/t/20261205app.log", "/t/20261206app.log"},
      {"00000000", 7, "/t/00000000app.log", "/t/00000000app.log"},
      {"00000000", 0, "/t/00000000app.log", "/t/20261206app.log"},
      // The last-run name carries the whole TIMESTAMP text.
      {"20261205x", 3, "/t/20261205xapp.log", "/t/20261205xapp.log"},
  };
  for (const Case& c : cases) {
    RotationPaths paths = ComposeRotationPaths(
        "/s/", "/t/", "app", "log", SettleRunDates(kToday, c.timestamp),
        c.retention_days);
    EXPECT_EQ(paths.source, "/s/app.log");
    EXPECT_EQ(paths.last_run_name, c.last_run_name) << c.timestamp;
    EXPECT_EQ(paths.today_name, "/t/20261206app.log");
    EXPECT_EQ(paths.destination, c.destination) << c.timestamp;
  }
}

TEST(RotationPathsTest, TreeJobsAreTheOnesWithAStar) {
  EXPECT_TRUE(IsTreeJob("*", "log"));
  EXPECT_TRUE(IsTreeJob("app", "*"));
  EXPECT_TRUE(IsTreeJob("a*b", "txt"));
  EXPECT_FALSE(IsTreeJob("app", "log"));
}

enum class Shown { kMoving, kCopying, kNotNewer, kFailed };

TEST(RotateSingleFileTest, MovesOrCopiesAsTheModeSays) {
  constexpr int64_t kT = 1760000000000000000;  // some time in 2025
  constexpr int64_t kNone = -1;
  const auto kMove = TransferMode::kMove;
  const auto kCopy = TransferMode::kCopy;
  const auto kOn = MessageBoxes::kOn;
  const auto kOff = MessageBoxes::kOff;
  struct Case {
    const char* what;
    TransferMode mode;
    MessageBoxes boxes;
    int retention_days;
    int64_t source_mtime;     // of the data; kNone: no source
    int64_t link_mtime;       // the source is a link with this own mtime
    int64_t last_run_mtime;   // the last-run copy ("old"), or kNone
    bool fail;                // the copy or move fails
    Shown shown;
    int failures;
    const char* destination;  // content afterwards; "" for none
    bool source_left;
  } cases[] = {
      {"move", kMove, kOn, 7, kT, kNone, kNone, false, Shown::kMoving, 0,
       "new", false},
      {"move, no retention", kMove, kOn, 0, kT, kNone, kNone, false,
       Shown::kMoving, 0, "new", false},
      {"move onto a copy", kMove, kOn, 7, kT, kNone, kT, false,
       Shown::kFailed, 1, "old", true},
      {"move onto a copy, quiet", kMove, kOff, 7, kT, kNone, kT, false,
       Shown::kMoving, 1, "old", true},
      {"move, no source", kMove, kOn, 7, kNone, kNone, kNone, false,
       Shown::kFailed, 1, "", false},
      {"copy, newer", kCopy, kOn, 7, kT + 1000, kNone, kT, false,
       Shown::kCopying, 0, "new", true},
      {"copy, 1 ns newer", kCopy, kOn, 7, kT + 1, kNone, kT, false,
       Shown::kCopying, 0, "new", true},
      {"copy, equal", kCopy, kOn, 7, kT, kNone, kT, false, Shown::kNotNewer,
       0, "old", true},
      {"copy, older", kCopy, kOn, 7, kT - 1, kNone, kT, false,
       Shown::kNotNewer, 0, "old", true},
      {"copy, first", kCopy, kOn, 0, kT, kNone, kNone, false,
       Shown::kCopying, 0, "new", true},
      // With no retention the test is still against the last-run name.
      {"copy, unchanged since the last copy", kCopy, kOn, 0, kT, kNone, kT,
       false, Shown::kNotNewer, 0, "", true},
      {"copy fails", kCopy, kOn, 7, kT + 1, kNone, kT, true, Shown::kFailed,
       1, "old", true},
      {"copy fails, quiet", kCopy, kOff, 7, kT + 1, kNone, kT, true,
       Shown::kCopying, 1, "old", true},
      {"copy, no source", kCopy, kOn, 7, kNone, kNone, kT, false,
       Shown::kFailed, 1, "old", false},
      // A link is copied and judged by the file it leads to.
      {"copy a link, data newer", kCopy, kOn, 7, kT + 1, kT - 1, kT, false,
       Shown::kCopying, 0, "new", true},
      {"copy a link, data older", kCopy, kOn, 7, kT - 1, kT + 1, kT, false,
       Shown::kNotNewer, 0, "old", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempFolder temp;
    fs::create_directory((temp / "s"));
    fs::create_directory((temp / "t"));
    testing::JobTestEnv t;
    SingleFileJob job;
    job.paths = ComposeRotationPaths((temp / "s/"), (temp / "t/"), "app",
                                     "log", SettleRunDates(kToday, "20261205"),
                                     c.retention_days);
    job.file_name = "app";
    job.kind = "log";
    job.mode = c.mode;
    job.message_boxes = c.boxes;
    const std::string data =
        c.link_mtime == kNone ? job.paths.source : (temp / "s/data");
    if (c.source_mtime != kNone) {
      ASSERT_TRUE(testing::WriteFile(data, "new"));
      ASSERT_TRUE(testing::SetMtime(data, c.source_mtime));
    }
    if (c.link_mtime != kNone) {
      fs::create_symlink(data, job.paths.source);
      ASSERT_TRUE(testing::SetMtime(job.paths.source, c.link_mtime));
    }
    if (c.last_run_mtime != kNone) {
      testing::WriteFile(job.paths.last_run_name, "old");
      ASSERT_TRUE(testing::SetMtime(job.paths.last_run_name, c.last_run_mtime));
    }
    if (c.fail) t.disk.FailPath(testing::DiskCall::kCopyFile, job.paths.source, EIO);

    std::string work_message;
    RotateSingleFile(t.env, job, &work_message);

    const std::string shown[] = {
        "app.log を移動中", "app.log をコピー中", "app.log は更新されていません",
        job.paths.source + "の処理に失敗しました"};
    const std::string& expected = shown[static_cast<int>(c.shown)];
    EXPECT_EQ(work_message, expected);
    EXPECT_EQ(t.host.statuses, std::vector<std::string>{expected});
    bool boxed = c.failures > 0 && c.boxes == kOn;
    EXPECT_EQ(t.host.messages,
              boxed ? std::vector<std::string>{expected}
                    : std::vector<std::string>{});
    EXPECT_EQ(t.failures.count(), c.failures);
    // An empty expectation means no file there.
    EXPECT_EQ(testing::ReadFile(job.paths.destination),
              *c.destination ? c.destination : "<missing>");
    EXPECT_FALSE(fs::is_symlink(job.paths.destination));
    EXPECT_EQ(fs::exists(fs::symlink_status(job.paths.source)), c.source_left);
    if (c.source_left && c.source_mtime != kNone) {
      EXPECT_EQ(testing::ReadFile(job.paths.source), "new");
    }
    if (c.destination == std::string("new")) {
      EXPECT_EQ(testing::MtimeOf(job.paths.destination), c.source_mtime);
    }
  }
}

TEST(RotateSingleFileTest, MovingALinkMovesTheLinkItself) {
  testing::TempFolder temp;
  fs::create_directory((temp / "s"));
  fs::create_directory((temp / "t"));
  testing::WriteFile((temp / "s/data"), "data");
  fs::create_symlink((temp / "s/data"), (temp / "s/app.log"));
  testing::JobTestEnv t;
  SingleFileJob job;
  job.paths = ComposeRotationPaths((temp / "s/"), (temp / "t/"), "app",
                                   "log", SettleRunDates(kToday, "20261205"), 7);
  job.file_name = "app";
  job.kind = "log";
  std::string work_message;
  RotateSingleFile(t.env, job, &work_message);
  EXPECT_EQ(t.failures.count(), 0);
  EXPECT_TRUE(fs::is_symlink((temp / "t/20261205app.log")));
  EXPECT_EQ(fs::read_symlink((temp / "t/20261205app.log")),
            fs::path((temp / "s/data")));
  EXPECT_EQ(testing::ReadFile((temp / "s/data")), "data");
}

}  // namespace
}  // namespace dravelkent
