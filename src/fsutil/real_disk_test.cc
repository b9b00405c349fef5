// Copies and moves on the real file system: what is left after a step
// failed or a source changed meanwhile; holes, owners and set-id bits.

#include <gtest/gtest.h>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent::testing {
namespace {

using enum UnnamedTempFiles;

constexpr int64_t kOld = 1600000000123456789;
constexpr int64_t kNew = 1700000000987654321;
constexpr uid_t kNobody = 65534;
constexpr auto kByCopy = RealDiskOptions::CrossDeviceMove::kAlways;

enum class Op { kCopy, kMove, kBatch, kLink, kFolder };

// Each step failed in turn: a failed copy leaves the older copy, a failed
// move its source and no new name, neither a temporary file. What went
// through is whole, holes and all, with the source's time and mode, and
// was flushed before it took its name.
TEST(RealDiskTest, FailedStepLeavesTheOldFilesAndNoTemporary) {
  for (const Op op : {Op::kCopy, Op::kMove, Op::kBatch}) {
    for (const UnnamedTempFiles unnamed : {kWhereSupported, kNever}) {
      for (size_t step = 0;; ++step) {
        SCOPED_TRACE(std::to_string(static_cast<int>(op)) +
                     (unnamed == kNever ? " named" : "") + ", failing step " +
                     std::to_string(step));
        TempFolder dir;
        const std::string src = dir / "src", out = dir / "out/";
        ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(src, "", 0640));  // 1 MiB hole, 1 byte, hole
        std::ofstream(src, std::ios::in | std::ios::out).seekp(1 << 20) << "x";
        ASSERT_EQ(truncate(src.c_str(), 4 << 20), 0);
        ASSERT_TRUE(SetMtime(src, kNew));
        const std::string data = ReadFile(src);
        ASSERT_TRUE(op == Op::kMove ||
                    WriteFile(out + "dst", "old", 0600, kOld));
        RealDiskInterface disk(
            {.unnamed_temp_files = unnamed, .cross_device_move = kByCopy});
        std::vector<DiskStep> seen;
        disk.set_step_hook(FailStep(static_cast<int>(step), &seen));
        std::vector<Status> results;
        if (op == Op::kBatch) {
          std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
          batch->Add(src, out + "dst");
          batch->Add(src, out + "new");
          results = batch->Finish();
        } else {
          results = {op == Op::kMove ? disk.MoveFile(src, out + "dst")
                                     : disk.CopyFile(src, out + "dst")};
        }

        std::string left;  // what "out" must hold
        bool all_ok = true;
        for (size_t i = 0; i < results.size(); ++i) {
          const std::string name = i == 0 ? "dst" : "new";
          struct stat st = {};
          lstat((out + name).c_str(), &st);
          all_ok = all_ok && results[i].ok();
          if (results[i].ok()) {
            EXPECT_TRUE(ReadFile(out + name) == data);
            EXPECT_LT(st.st_blocks, 100);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            EXPECT_EQ(MtimeOf(out + name), kNew);
          } else {
            EXPECT_EQ(results[i].error_number(), EIO) << results[i].message();
            if (name == "new" || op == Op::kMove) continue;
            EXPECT_EQ(ReadFile(out + name), "old");
            EXPECT_EQ(MtimeOf(out + name), kOld);
          }
          left += name + " ";
        }
        EXPECT_EQ(ListTree(out), left);
        EXPECT_EQ(MtimeOf(src) == kNew, op != Op::kMove || !all_ok);
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
}

// A writer at work while a move copies: the copy would miss what it wrote,
// so the move fails and leaves the source as the writer left it.
TEST(RealDiskTest, MoveByCopyLeavesASourceChangedMeanwhile) {
  const struct {
    DiskStep step;
    const char* to;  // written, then renamed to "src"
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
    RealDiskInterface disk({.cross_device_move = kByCopy});
    disk.set_step_hook([&](DiskStep step) {
      if (step == c.step && WriteFile(dir / c.to, c.content, 0644, c.mtime)) {
        rename((dir / c.to).c_str(), (dir / "src").c_str());
      }
      return StepAction::kContinue;
    });
    EXPECT_FALSE(disk.MoveFile(dir / "src", dir / "out/dst").ok());
    EXPECT_EQ(ReadFile(dir / "src"), c.content);
    EXPECT_EQ(ListTree(dir / "out"), "");
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
        RealDiskInterface disk({.cross_device_move = kByCopy});
        Status status;
        std::unique_ptr<FolderHandle> in = disk.OpenFolder(dir.path(), &status);
        if (op == Op::kFolder && !disk.MakeSubFolder(*in, "dst").ok()) {
          return false;
        }
        return (op == Op::kCopy   ? disk.CopyFile(src, dst)
                : op == Op::kMove ? disk.MoveFile(src, dst)
                : op == Op::kLink
                    ? disk.CopySymlink(src, dst)
                    : disk.SetFolderAttributes(
                          *disk.OpenSubFolder(*in, "dst", &status),
                          {0, 0, 02755, owner, owner, 0}))
            .ok();
      }));
      struct stat st;
      ASSERT_EQ(lstat(dst.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, kNobody);
      EXPECT_EQ(st.st_gid, kNobody);
      const unsigned set_id = op == Op::kFolder ? 02000 : 06000;
      EXPECT_TRUE(op == Op::kLink ||
                  (st.st_mode & 07777) == (runner == 0 ? 0755 | set_id : 0755));
    }
  }
}

}  // namespace
}  // namespace dravelkent::testing
