// Copies and moves on the real file system: what a user finds after a step
// failed or a source was written to meanwhile, and what becomes of holes
// and of set-id bits.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent::testing {
namespace {

using Names = std::vector<std::string>;

constexpr int64_t kOld = 1600000000123456789;
constexpr int64_t kNew = 1700000000987654321;
constexpr uid_t kNobody = 65534;

enum class Op { kCopy, kMove, kBatch, kLink, kFolder };

RealDiskOptions MovesByCopy(UnnamedTempFiles unnamed) {
  RealDiskOptions options;
  options.unnamed_temp_files = unnamed;
  if (unnamed == UnnamedTempFiles::kNever) {
    options.no_replace_rename = NoReplaceRename::kNever;
  }
  options.cross_device_move = RealDiskOptions::CrossDeviceMove::kAlways;
  return options;
}

// Each step failed in turn: a failed copy leaves the older copy, a failed
// move its source and no new name, neither a temporary file. What went
// through is whole, holes and all, with the source's times and mode, and
// was flushed before it took its name.
TEST(RealDiskTest, FailedStepLeavesTheOldFilesAndNoTemporary) {
  const struct {
    Op op;
    UnnamedTempFiles unnamed;
  } cases[] = {
      {Op::kCopy, UnnamedTempFiles::kWhereSupported},
      {Op::kCopy, UnnamedTempFiles::kNever},
      {Op::kMove, UnnamedTempFiles::kWhereSupported},
      {Op::kMove, UnnamedTempFiles::kNever},
      {Op::kBatch, UnnamedTempFiles::kWhereSupported},
      {Op::kBatch, UnnamedTempFiles::kNever},
  };
  for (const auto& c : cases) {
    for (size_t step = 0;; ++step) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.op)) +
                   (c.unnamed == UnnamedTempFiles::kNever ? " named" : "") +
                   ", failing step " + std::to_string(step));
      TempFolder dir;
      const std::string src = dir / "src", out = dir / "out/";
      ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
      // Data between holes, and a hole up to the end.
      ASSERT_TRUE(WriteFile(src, "", 0640));
      ASSERT_EQ(truncate(src.c_str(), 4 << 20), 0);
      std::ofstream(src, std::ios::in | std::ios::out).seekp(1 << 20) << "x";
      ASSERT_TRUE(SetMtime(src, kNew));
      const std::string data = ReadFile(src);
      ASSERT_TRUE(c.op == Op::kMove ||
                  WriteFile(out + "dst", "old", 0600, kOld));
      RealDiskInterface disk(MovesByCopy(c.unnamed));
      std::vector<DiskStep> seen;
      disk.set_step_hook(FailStep(static_cast<int>(step), &seen));
      std::vector<Status> results;
      if (c.op == Op::kBatch) {
        std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
        batch->Add(src, out + "dst");
        batch->Add(src, out + "new");
        results = batch->Finish();
      } else {
        results = {c.op == Op::kMove ? disk.MoveFile(src, out + "dst")
                                     : disk.CopyFile(src, out + "dst")};
      }

      Names left;  // what "out" must hold
      for (size_t i = 0; i < results.size(); ++i) {
        const std::string name = i == 0 ? "dst" : "new";
        struct stat st = {};
        lstat((out + name).c_str(), &st);
        if (results[i].ok()) {
          EXPECT_TRUE(ReadFile(out + name) == data);
          EXPECT_LT(st.st_blocks, 100);
          EXPECT_EQ(st.st_mode & 07777, 0640u);
          EXPECT_EQ(MtimeOf(out + name), kNew);
        } else {
          EXPECT_EQ(results[i].error_number(), EIO) << results[i].message();
          if (name == "new" || c.op == Op::kMove) continue;
          EXPECT_EQ(ReadFile(out + name), "old");
          EXPECT_EQ(MtimeOf(out + name), kOld);
        }
        left.push_back(name);
      }
      EXPECT_EQ(ListTree(out), left);
      const bool all_ok = std::all_of(results.begin(), results.end(),
                                      [](const Status& s) { return s.ok(); });
      EXPECT_EQ(MtimeOf(src) == kNew, c.op != Op::kMove || !all_ok);
      EXPECT_EQ(all_ok, seen.size() <= step);
      if (!all_ok) continue;
      auto named = std::find_if(seen.begin(), seen.end(), [](DiskStep s) {
        return s == DiskStep::kPublish || s == DiskStep::kReplaceDestination;
      });
      EXPECT_NE(std::find(seen.begin(), named, DiskStep::kFlushTemp), named);
      break;
    }
  }
}

// A writer at work while a move copies: the copy would miss what it wrote,
// so the move fails and leaves the source as the writer left it.
TEST(RealDiskTest, MoveByCopyLeavesASourceChangedMeanwhile) {
  const struct {
    DiskStep step;
    const char* to;  // written, then renamed to "src" unless it is "src"
    const char* content;
    int64_t mtime;
  } cases[] = {
      {DiskStep::kFlushTemp, "src", "line 1\nline 2\n", 0},
      {DiskStep::kPublish, "src", "LINE 1\n", kNew},  // the same size
      {DiskStep::kPublish, "new", "new file", kOld},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "src", "line 1\n", 0644, kOld));
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    RealDiskInterface disk(MovesByCopy(UnnamedTempFiles::kWhereSupported));
    disk.set_step_hook([&](DiskStep step) {
      if (step == c.step && WriteFile(dir / c.to, c.content, 0644, c.mtime)) {
        rename((dir / c.to).c_str(), (dir / "src").c_str());
      }
      return StepAction::kContinue;
    });
    EXPECT_FALSE(disk.MoveFile(dir / "src", dir / "out/dst").ok());
    EXPECT_EQ(ReadFile(dir / "src"), c.content);
    EXPECT_EQ(ListTree(dir / "out"), Names{});
  }
}

// Root's copies and made folders keep the source's owner, another user's
// are its own; a set-user-ID or set-group-ID bit stays only with the owner
// or group that set it.
TEST(RealDiskTest, SetIdBitsStayOnlyWithTheirOwner) {
  if (geteuid() != 0) {
    ASSERT_EQ(getenv("DRAVELKENT_E2E_STRICT"), nullptr) << "needs root";
    GTEST_SKIP() << "needs root to give files away";
  }
  for (const uid_t runner : {uid_t{0}, kNobody}) {
    for (const Op op : {Op::kCopy, Op::kMove, Op::kLink, Op::kFolder}) {
      SCOPED_TRACE(std::to_string(runner) + " " +
                   std::to_string(static_cast<int>(op)));
      TempFolder dir;
      const std::string src = dir / "src", dst = dir / "dst";
      const uid_t owner = runner == 0 ? kNobody : 0;
      ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
      ASSERT_TRUE(op == Op::kLink ? symlink("x", src.c_str()) == 0
                                  : WriteFile(src, "#!/bin/sh\n"));
      ASSERT_EQ(lchown(src.c_str(), owner, owner), 0);
      ASSERT_TRUE(op == Op::kLink || chmod(src.c_str(), 06755) == 0);
      ASSERT_TRUE(RunAs(runner, [&] {
        RealDiskInterface disk(MovesByCopy(UnnamedTempFiles::kWhereSupported));
        if (op == Op::kFolder) {
          Status status;
          auto parent = disk.OpenFolder(dir.path(), &status);
          FolderHandle::Attributes like{0, 0, 02755, owner, owner, 0};
          return disk.MakeSubFolder(*parent, "dst").ok() &&
                 disk.SetFolderAttributes(
                         *disk.OpenSubFolder(*parent, "dst", &status), like)
                     .ok();
        }
        return (op == Op::kCopy   ? disk.CopyFile(src, dst)
                : op == Op::kMove ? disk.MoveFile(src, dst)
                                  : disk.CopySymlink(src, dst))
            .ok();
      }));
      struct stat st;
      ASSERT_EQ(lstat(dst.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, kNobody);
      EXPECT_EQ(st.st_gid, kNobody);
      const unsigned set_id = op == Op::kFolder ? 02000 : 06000;
      if (op != Op::kLink) {
        EXPECT_EQ(st.st_mode & 07777, runner == 0 ? 0755 | set_id : 0755);
      }
    }
  }
}

}  // namespace
}  // namespace dravelkent::testing
