#include "fsutil/newer_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

using testing::SetMtime;
using testing::TempFolder;
using testing::WriteFile;

constexpr int64_t kTime = 1700000000123456700;

TEST(IsSourceNewerTest, ComparesEachEntryOwnTimeExactly) {
  enum Entry { kNone, kFile, kFolder, kLinkToFile, kDanglingLink };
  struct Case {
    const char* label;
    Entry source;
    int64_t source_delta;  // from kTime
    Entry destination;
    int64_t destination_delta;
    int expected;
  } cases[] = {
      {"destination missing", kFile, 0, kNone, 0, 1},
      {"source missing", kNone, 0, kFile, 0, 1},
      {"both missing", kNone, 0, kNone, 0, 1},
      {"equal", kFile, 0, kFile, 0, 0},
      {"source later", kFile, 5000000000, kFile, 0, 1},
      {"source one nanosecond later", kFile, 1, kFile, 0, 1},
      {"destination one nanosecond later", kFile, 0, kFile, 1, -1},
      {"source a folder, later", kFolder, 1, kFile, 0, 1},
      {"source a folder, equal", kFolder, 0, kFile, 0, 0},
      {"destination a folder, later", kFile, 0, kFolder, 1, -1},
      // A link is judged by its own time, not by its target's (the target
      // carries kTime + 100).
      {"link, own time equal", kLinkToFile, 0, kFile, 0, 0},
      {"link, own time earlier", kLinkToFile, 0, kFile, 1, -1},
      {"dangling link found", kDanglingLink, 0, kFile, 0, 0},
      {"dangling link as destination", kFile, 1, kDanglingLink, 0, 1},
  };
  RealDiskInterface disk;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "target", "t", 0644, kTime + 100));
    auto make = [&](Entry entry, const std::string& path, int64_t delta) {
      switch (entry) {
        case kNone:
          return;
        case kFile:
          ASSERT_TRUE(WriteFile(path, "x"));
          break;
        case kFolder:
          ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
          break;
        case kLinkToFile:
          ASSERT_EQ(symlink("target", path.c_str()), 0);
          break;
        case kDanglingLink:
          ASSERT_EQ(symlink("nowhere", path.c_str()), 0);
          break;
      }
      ASSERT_TRUE(SetMtime(path, kTime + delta));
    };
    make(c.source, dir / "src", c.source_delta);
    make(c.destination, dir / "dst", c.destination_delta);
    EXPECT_EQ(IsSourceNewer(&disk, dir / "src", dir / "dst"), c.expected);
  }
}

TEST(IsSourceNewerTest, SourceExaminedAlreadyIsJudgedTheSameWay) {
  struct Case {
    bool source_found;
    int64_t source_delta;    // from kTime
    bool destination;        // exists, with kTime
    int expected;
  } cases[] = {
      {true, 0, true, 0},  {true, 1, true, 1},   {true, -1, true, -1},
      {false, 0, true, 1}, {true, 0, false, 1},  {false, 0, false, 1},
  };
  RealDiskInterface real;
  testing::FaultyDiskInterface disk(&real);
  for (const Case& c : cases) {
    TempFolder dir;
    if (c.destination) {
      ASSERT_TRUE(WriteFile(dir / "dst", "x", 0644, kTime));
    }
    EXPECT_EQ(IsSourceNewer(&disk, c.source_found, kTime + c.source_delta,
                            dir / "dst"),
              c.expected);
  }
  // Only the destination is examined.
  EXPECT_EQ(disk.count(testing::DiskCall::kStat), 6);
}

TEST(IsSourceNewerTest, EntryThatCannotBeExaminedCountsAsMissing) {
  TempFolder dir;
  ASSERT_TRUE(WriteFile(dir / "src", "x", 0644, kTime));
  ASSERT_TRUE(WriteFile(dir / "dst", "x", 0644, kTime + 1));
  RealDiskInterface real;
  testing::FaultyDiskInterface disk(&real);
  disk.FailNthCall(testing::DiskCall::kStat, 2, EACCES);
  EXPECT_EQ(IsSourceNewer(&disk, dir / "src", dir / "dst"), 1);
  disk.FailNthCall(testing::DiskCall::kStat, 1, EACCES);
  EXPECT_EQ(IsSourceNewer(&disk, dir / "src", dir / "dst"), 1);
  EXPECT_EQ(IsSourceNewer(&disk, dir / "src", dir / "dst"), -1);
}

}  // namespace
}  // namespace dravelkent
