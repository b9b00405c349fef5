// Stops and fails copies and moves at every step, and checks what a user
// would find afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

using testing::CrashAfterSteps;
using testing::Exists;
using testing::FailStep;
using testing::ListNames;
using testing::MtimeOf;
using testing::ReadFile;
using testing::SetMtime;
using testing::TempFolder;
using testing::WriteFile;

constexpr int64_t kOldTime = 1500000000000000001;
constexpr int64_t kNewTime = 1700000000999999999;

const std::string kNewContent(200 * 1024, 'n');

enum class Source { kFile, kLink };

// Reads |path| as a user would judge a copy: a link's target text, a
// file's bytes.
std::string ContentOf(const std::string& path) {
  char target[256] = {};
  if (readlink(path.c_str(), target, sizeof target - 1) > 0) {
    return std::string("link to ") + target;
  }
  return ReadFile(path);
}

// Makes the source "src" in |dir| and returns the content it shows.
std::string MakeSource(Source source, const std::string& dir) {
  if (source == Source::kFile) {
    EXPECT_TRUE(WriteFile(dir + "/src", kNewContent, 0644, kNewTime));
    return kNewContent;
  }
  EXPECT_EQ(symlink("elsewhere", (dir + "/src").c_str()), 0);
  EXPECT_TRUE(SetMtime(dir + "/src", kNewTime));
  return "link to elsewhere";
}

// Returns the names in |dir| other than |keep| that a step left behind,
// failing the test for any that a job's search could take for its own.
std::vector<std::string> Leftovers(const std::string& dir,
                                   const std::string& keep) {
  std::vector<std::string> left;
  for (const std::string& name : ListNames(dir)) {
    if (name == keep) continue;
    EXPECT_EQ(name[0], '.') << "visible temporary file " << name;
    left.push_back(name);
  }
  return left;
}

struct CopyCase {
  const char* label;
  Source source;
  UnnamedTempFiles unnamed;
  size_t steps;  // in a whole run
};

const CopyCase kCopyCases[] = {
    {"file, unnamed temp", Source::kFile, UnnamedTempFiles::kWhereSupported,
     6},
    {"file, named temp", Source::kFile, UnnamedTempFiles::kNever, 5},
    {"link", Source::kLink, UnnamedTempFiles::kWhereSupported, 3},
};

Status RunCopy(RealDiskInterface* disk, Source source, const TempFolder& dir) {
  return source == Source::kFile
             ? disk->CopyFile(dir / "src", dir / "out/dst")
             : disk->CopySymlink(dir / "src", dir / "out/dst");
}

TEST(DiskStepTest, CopyFailingAtAnyStepLeavesOldDestination) {
  for (const CopyCase& c : kCopyCases) {
    size_t step = 0;
    for (;; ++step) {
      SCOPED_TRACE(std::string(c.label) + ", failing step " +
                   std::to_string(step));
      TempFolder dir;
      MakeSource(c.source, dir.path());
      ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
      ASSERT_TRUE(WriteFile(dir / "out/dst", "old", 0600, kOldTime));
      RealDiskOptions options;
      options.unnamed_temp_files = c.unnamed;
      RealDiskInterface disk(options);
      std::vector<DiskStep> seen;
      disk.set_step_hook(FailStep(static_cast<int>(step), &seen));

      Status status = RunCopy(&disk, c.source, dir);
      if (seen.size() <= step) {
        EXPECT_TRUE(status.ok()) << status.message();
        break;
      }
      EXPECT_EQ(status.error_number(), EIO);
      EXPECT_EQ(ReadFile(dir / "out/dst"), "old");
      EXPECT_EQ(MtimeOf(dir / "out/dst"), kOldTime);
      EXPECT_EQ(ListNames(dir / "out"), std::vector<std::string>{"dst"});
    }
    EXPECT_EQ(step, c.steps) << c.label;
  }
}

TEST(DiskStepTest, CopyStoppedAtAnyStepLeavesOneWholeDestination) {
  for (const CopyCase& c : kCopyCases) {
    size_t step = 0;
    for (;; ++step) {
      SCOPED_TRACE(std::string(c.label) + ", stopped before step " +
                   std::to_string(step));
      TempFolder dir;
      std::string content = MakeSource(c.source, dir.path());
      ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
      ASSERT_TRUE(WriteFile(dir / "out/dst", "old", 0600, kOldTime));
      RealDiskOptions options;
      options.unnamed_temp_files = c.unnamed;
      RealDiskInterface disk(options);
      std::vector<DiskStep> seen;
      disk.set_step_hook(CrashAfterSteps(static_cast<int>(step), &seen));

      Status status = RunCopy(&disk, c.source, dir);
      if (seen.size() <= step) break;
      EXPECT_FALSE(status.ok());
      std::string now = ContentOf(dir / "out/dst");
      if (now == "old") {
        EXPECT_EQ(MtimeOf(dir / "out/dst"), kOldTime);
      } else {
        EXPECT_EQ(now, content);
        EXPECT_EQ(MtimeOf(dir / "out/dst"), kNewTime);
      }
      Leftovers(dir / "out", "dst");
    }
    EXPECT_EQ(step, c.steps) << c.label;
  }
}

struct MoveCase {
  const char* label;
  Source source;
  RealDiskOptions options;
  bool on_second_file_system;
  size_t steps;
};

RealDiskOptions CopyingMoves(UnnamedTempFiles unnamed, NoReplaceRename how) {
  RealDiskOptions options;
  options.unnamed_temp_files = unnamed;
  options.no_replace_rename = how;
  options.cross_device_move = RealDiskOptions::CrossDeviceMove::kAlways;
  return options;
}

const MoveCase kMoveCases[] = {
    {"file, unnamed temp", Source::kFile,
     CopyingMoves(UnnamedTempFiles::kWhereSupported,
                  NoReplaceRename::kWhereSupported),
     false, 7},
    {"file, named temp, link and unlink", Source::kFile,
     CopyingMoves(UnnamedTempFiles::kNever, NoReplaceRename::kNever), false,
     7},
    {"link", Source::kLink,
     CopyingMoves(UnnamedTempFiles::kWhereSupported,
                  NoReplaceRename::kWhereSupported),
     false, 5},
    {"file to /dev/shm", Source::kFile, RealDiskOptions(), true, 7},
    {"link to /dev/shm", Source::kLink, RealDiskOptions(), true, 5},
};

// Runs |check| for a fresh source folder and target folder for every move
// case, skipping the cases that need a second file system where there is
// none.
template <typename Check>
void ForEachMoveCase(Check check) {
  for (const MoveCase& c : kMoveCases) {
    TempFolder from;
    TempFolder to(c.on_second_file_system ? "/dev/shm" : "");
    if (c.on_second_file_system &&
        (to.path().empty() ||
         testing::DeviceOf(to.path()) == testing::DeviceOf(from.path()))) {
      std::printf("skipped \"%s\": /dev/shm is not a second file system\n",
                  c.label);
      continue;
    }
    check(c, from, to);
  }
}

TEST(DiskStepTest, MoveAcrossStoppedAtAnyStepKeepsOneWholeCopy) {
  ForEachMoveCase([](const MoveCase& c, const TempFolder& from,
                     const TempFolder& to) {
    size_t step = 0;
    for (;; ++step) {
      SCOPED_TRACE(std::string(c.label) + ", stopped before step " +
                   std::to_string(step));
      std::filesystem::remove_all(from / "src");
      for (const std::string& name : ListNames(to.path())) {
        std::filesystem::remove_all(to / name);
      }
      std::string content = MakeSource(c.source, from.path());
      RealDiskInterface disk(c.options);
      std::vector<DiskStep> seen;
      disk.set_step_hook(CrashAfterSteps(static_cast<int>(step), &seen));

      Status status = disk.MoveFile(from / "src", to / "dst");
      if (seen.size() <= step) {
        EXPECT_TRUE(status.ok()) << status.message();
        break;
      }
      bool source_left = Exists(from / "src");
      bool moved = Exists(to / "dst");
      EXPECT_TRUE(source_left || moved);
      if (source_left) {
        EXPECT_EQ(ContentOf(from / "src"), content);
      }
      if (moved) {
        EXPECT_EQ(ContentOf(to / "dst"), content);
        EXPECT_EQ(MtimeOf(to / "dst"), kNewTime);
      }
      Leftovers(to.path(), "dst");
    }
    EXPECT_EQ(step, c.steps) << c.label;
  });
}

TEST(DiskStepTest, MoveAcrossFailingAtAnyStepChangesNothing) {
  ForEachMoveCase([](const MoveCase& c, const TempFolder& from,
                     const TempFolder& to) {
    size_t step = 0;
    for (;; ++step) {
      SCOPED_TRACE(std::string(c.label) + ", failing step " +
                   std::to_string(step));
      std::filesystem::remove_all(from / "src");
      std::filesystem::remove_all(to / "dst");
      std::string content = MakeSource(c.source, from.path());
      RealDiskInterface disk(c.options);
      std::vector<DiskStep> seen;
      disk.set_step_hook(FailStep(static_cast<int>(step), &seen));

      Status status = disk.MoveFile(from / "src", to / "dst");
      if (seen.size() <= step) break;
      EXPECT_EQ(status.error_number(), EIO);
      EXPECT_EQ(ContentOf(from / "src"), content);
      EXPECT_EQ(MtimeOf(from / "src"), kNewTime);
      EXPECT_EQ(ListNames(to.path()), std::vector<std::string>{});
    }
    EXPECT_EQ(step, c.steps) << c.label;
  });
}

// A writer at work while a move copies: the copy would miss what it wrote,
// so the move fails and leaves the source as the writer left it.
TEST(DiskStepTest, MoveAcrossKeepsSourceChangedWhileCopied) {
  enum class Change { kAppend, kSameSizeRewrite, kReplaceByRename };
  const struct {
    DiskStep step;
    Change change;
    const char* result;
  } cases[] = {
      {DiskStep::kFlushTemp, Change::kAppend, "line 1\nline 2\n"},
      {DiskStep::kPublish, Change::kSameSizeRewrite, "LINE 1\n"},
      {DiskStep::kPublish, Change::kReplaceByRename, "new file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    TempFolder from;
    TempFolder to;
    ASSERT_TRUE(WriteFile(from / "src", "line 1\n", 0644, kOldTime));
    RealDiskInterface disk(CopyingMoves(UnnamedTempFiles::kWhereSupported,
                                        NoReplaceRename::kWhereSupported));
    disk.set_step_hook([&](DiskStep step) {
      if (step != c.step) return StepAction::kContinue;
      if (c.change == Change::kReplaceByRename) {
        EXPECT_TRUE(WriteFile(from / "new", c.result, 0644, kOldTime));
        EXPECT_EQ(rename((from / "new").c_str(), (from / "src").c_str()), 0);
      } else {
        EXPECT_TRUE(WriteFile(from / "src", c.result, 0644,
                              c.change == Change::kAppend ? 0 : kNewTime));
      }
      return StepAction::kContinue;
    });

    Status status = disk.MoveFile(from / "src", to / "dst");
    EXPECT_NE(status.message().find("changed while"), std::string::npos)
        << status.message();
    EXPECT_EQ(ReadFile(from / "src"), c.result);
    EXPECT_EQ(ListNames(to.path()), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace dravelkent
