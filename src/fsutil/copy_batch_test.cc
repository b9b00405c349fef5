// Batched copies: every step failed and stopped, in each kind of
// temporary file, and what a user finds afterwards.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

using testing::CrashAfterSteps;
using testing::FailStep;
using testing::ListNames;
using testing::ModeOf;
using testing::MtimeOf;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

constexpr int64_t kOldTime = 1500000000000000001;
constexpr int64_t kNewTime = 1700000000999999999;

// Three sources copied into "out": one over an existing copy, two new.
struct BatchFiles {
  explicit BatchFiles(const TempFolder& dir) : dir_(dir) {
    EXPECT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    for (const char* name : {"a", "b", "c"}) {
      EXPECT_TRUE(WriteFile(dir / name, std::string(70000, name[0]), 0640,
                            kNewTime));
    }
    EXPECT_TRUE(WriteFile(dir / "out/a", "old", 0600, kOldTime));
  }

  void AddAll(CopyBatch* batch) const {
    for (const char* name : {"a", "b", "c"}) {
      batch->Add(dir_ / name, dir_ / (std::string("out/") + name));
    }
  }

  // Whether the destination of |name| holds the whole new copy; fails the
  // test unless it holds that, or what it held before the batch.
  bool Copied(const std::string& name) const {
    std::string path = dir_ / ("out/" + name);
    std::string now = ReadFile(path);
    if (now == std::string(70000, name[0])) {
      EXPECT_EQ(MtimeOf(path), kNewTime) << name;
      return true;
    }
    if (name == "a") {
      EXPECT_EQ(now, "old");
      EXPECT_EQ(MtimeOf(path), kOldTime);
    } else {
      EXPECT_EQ(now, "<missing>") << name;
    }
    return false;
  }

  // The names in "out" that are not destinations; each must be hidden.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> left;
    for (const std::string& name : ListNames(dir_ / "out")) {
      if (name == "a" || name == "b" || name == "c") continue;
      EXPECT_EQ(name[0], '.') << "visible temporary file " << name;
      left.push_back(name);
    }
    return left;
  }

  const TempFolder& dir_;
};

struct TempCase {
  const char* label;
  UnnamedTempFiles unnamed;
  size_t steps;  // in a whole run
};

// Per file three steps to write; one flush; to place: a new name one step
// (unnamed) and an existing one three; a named temporary one step each.
const TempCase kTempCases[] = {
    {"unnamed temporaries", UnnamedTempFiles::kWhereSupported, 9 + 1 + 5},
    {"named temporaries", UnnamedTempFiles::kNever, 9 + 1 + 3},
};

RealDiskOptions OptionsFor(const TempCase& c) {
  RealDiskOptions options;
  options.unnamed_temp_files = c.unnamed;
  return options;
}

TEST(CopyBatchTest, WholeRunCopiesEveryFile) {
  for (const TempCase& c : kTempCases) {
    SCOPED_TRACE(c.label);
    TempFolder dir;
    BatchFiles files(dir);
    RealDiskInterface disk(OptionsFor(c));
    std::vector<DiskStep> seen;
    disk.set_step_hook(FailStep(1000, &seen));
    std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
    files.AddAll(batch.get());
    std::vector<Status> results = batch->Finish();
    ASSERT_EQ(results.size(), 3u);
    for (const Status& result : results) EXPECT_TRUE(result.ok());
    for (const char* name : {"a", "b", "c"}) EXPECT_TRUE(files.Copied(name));
    EXPECT_EQ(ModeOf(dir / "out/b"), 0640);
    EXPECT_EQ(files.Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(seen.size(), c.steps);
    // One flush for the whole batch, after every file is written.
    EXPECT_EQ(std::count(seen.begin(), seen.end(), DiskStep::kFlushTemp), 1);
    EXPECT_EQ(seen[9], DiskStep::kFlushTemp);
    // A finished batch takes new copies.
    batch->Add(dir / "b", dir / "out/d");
    ASSERT_EQ(batch->Finish().size(), 1u);
    EXPECT_EQ(ReadFile(dir / "out/d"), std::string(70000, 'b'));
  }
}

TEST(CopyBatchTest, FailingAnyStepFailsOnlyWhatItTouches) {
  for (const TempCase& c : kTempCases) {
    for (size_t step = 0; step < c.steps; ++step) {
      SCOPED_TRACE(std::string(c.label) + ", failing step " +
                   std::to_string(step));
      TempFolder dir;
      BatchFiles files(dir);
      RealDiskInterface disk(OptionsFor(c));
      std::vector<DiskStep> seen;
      disk.set_step_hook(FailStep(static_cast<int>(step), &seen));
      std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
      files.AddAll(batch.get());
      std::vector<Status> results = batch->Finish();
      ASSERT_EQ(results.size(), 3u);
      const bool flush = seen[step] == DiskStep::kFlushTemp;
      int failed = 0;
      const char* names[] = {"a", "b", "c"};
      for (size_t i = 0; i < 3; ++i) {
        // A copy holds its new content exactly when it went through.
        EXPECT_EQ(files.Copied(names[i]), results[i].ok()) << names[i];
        if (!results[i].ok()) {
          ++failed;
          EXPECT_EQ(results[i].error_number(), EIO);
          EXPECT_NE(results[i].message().find(dir / names[i]),
                    std::string::npos);
        }
      }
      EXPECT_EQ(failed, flush ? 3 : 1);
      EXPECT_EQ(files.Leftovers(), std::vector<std::string>{});
    }
  }
}

TEST(CopyBatchTest, StoppedAtAnyStepLeavesWholeFilesOnly) {
  for (const TempCase& c : kTempCases) {
    for (size_t step = 0; step < c.steps; ++step) {
      SCOPED_TRACE(std::string(c.label) + ", stopped before step " +
                   std::to_string(step));
      TempFolder dir;
      BatchFiles files(dir);
      RealDiskInterface disk(OptionsFor(c));
      std::vector<DiskStep> seen;
      disk.set_step_hook(CrashAfterSteps(static_cast<int>(step), &seen));
      std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
      files.AddAll(batch.get());
      std::vector<Status> results = batch->Finish();
      batch.reset();
      ASSERT_EQ(results.size(), 3u);
      // Each final name holds its old or its whole new content, the new
      // one exactly when its copy went through; none before the flush.
      const char* names[] = {"a", "b", "c"};
      for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(files.Copied(names[i]), results[i].ok()) << names[i];
        if (step <= 9) {
          EXPECT_FALSE(results[i].ok()) << names[i];
        }
      }
      files.Leftovers();
    }
  }
}

TEST(CopyBatchTest, SourcesThatCannotBeCopiedFailInTheirPlace) {
  TempFolder dir;
  BatchFiles files(dir);
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  RealDiskInterface disk;
  std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
  batch->Add(dir / "missing", dir / "out/m");
  batch->Add(dir / "a", dir / "out/a");
  batch->Add(dir / "folder", dir / "out/f");
  batch->Add(dir / "b", dir / "nowhere/b");
  batch->Add(dir / "c", dir / "out/");
  std::vector<Status> results = batch->Finish();
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0].error_number(), ENOENT);
  EXPECT_TRUE(results[1].ok());
  EXPECT_FALSE(results[2].ok());
  EXPECT_NE(results[2].message().find("not a file"), std::string::npos);
  EXPECT_EQ(results[3].error_number(), ENOENT);
  EXPECT_EQ(results[4].error_number(), EISDIR);
  EXPECT_TRUE(files.Copied("a"));
  EXPECT_EQ(ListNames(dir / "out"), std::vector<std::string>{"a"});
}

TEST(CopyBatchTest, BatchAcrossFoldersAndFileSystems) {
  TempFolder dir;
  TempFolder other("/dev/shm");
  BatchFiles files(dir);
  RealDiskOptions options;
  options.copy_batch_files = 3;
  RealDiskInterface disk(options);
  std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
  ASSERT_EQ(mkdir((dir / "out/sub").c_str(), 0755), 0);
  batch->Add(dir / "a", dir / "out/sub/a");
  EXPECT_FALSE(batch->full());
  const std::string elsewhere =
      other.path().empty() ? dir / "out/b2" : other / "b2";
  batch->Add(dir / "b", elsewhere);
  EXPECT_FALSE(batch->full());
  batch->Add(dir / "c", dir / "out/c");
  EXPECT_TRUE(batch->full());
  for (const Status& result : batch->Finish()) {
    EXPECT_TRUE(result.ok()) << result.message();
  }
  EXPECT_FALSE(batch->full());
  EXPECT_EQ(ReadFile(dir / "out/sub/a"), std::string(70000, 'a'));
  EXPECT_EQ(ReadFile(elsewhere), std::string(70000, 'b'));
  EXPECT_TRUE(files.Copied("c"));
}

TEST(CopyBatchTest, UnfinishedBatchLeavesNothingBehind) {
  TempFolder dir;
  BatchFiles files(dir);
  for (UnnamedTempFiles unnamed :
       {UnnamedTempFiles::kWhereSupported, UnnamedTempFiles::kNever}) {
    RealDiskOptions options;
    options.unnamed_temp_files = unnamed;
    RealDiskInterface disk(options);
    std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
    files.AddAll(batch.get());
    batch.reset();
    EXPECT_EQ(ListNames(dir / "out"), std::vector<std::string>{"a"});
    EXPECT_FALSE(files.Copied("a"));
  }
}

}  // namespace
}  // namespace dravelkent
