// What copies (and moves by copying) make of set-id bits and of holes.

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

using testing::ModeOf;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(RealDiskCopyTest, SetIdBitsStayOnlyWithTheirOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
  constexpr uid_t kNobody = 65534;
  enum class Op { kCopy, kMove, kCopyLink };
  // Root keeps the source's owner; nobody copies root's file as its own.
  for (uid_t runner : {uid_t{0}, kNobody}) {
    for (Op op : {Op::kCopy, Op::kMove, Op::kCopyLink}) {
      SCOPED_TRACE(std::to_string(runner) + " " +
                   std::to_string(static_cast<int>(op)));
      TempFolder dir;
      ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
      std::string src = dir / "src";
      std::string dst = dir / "dst";
      if (op == Op::kCopyLink) {
        ASSERT_EQ(symlink("elsewhere", src.c_str()), 0);
      } else {
        ASSERT_TRUE(WriteFile(src, "#!/bin/sh\n"));
      }
      uid_t source_owner = runner == 0 ? kNobody : 0;
      ASSERT_EQ(lchown(src.c_str(), source_owner, source_owner), 0);
      if (op != Op::kCopyLink) {
        ASSERT_EQ(chmod(src.c_str(), 06755), 0);
      }
      pid_t child = fork();
      if (child == 0) {
        if (setgroups(0, nullptr) != 0 ||
            setresgid(runner, runner, runner) != 0 ||
            setresuid(runner, runner, runner) != 0) {
          _exit(2);
        }
        RealDiskOptions options;
        options.cross_device_move = RealDiskOptions::CrossDeviceMove::kAlways;
        RealDiskInterface disk(options);
        Status status = op == Op::kCopy   ? disk.CopyFile(src, dst)
                        : op == Op::kMove ? disk.MoveFile(src, dst)
                                          : disk.CopySymlink(src, dst);
        _exit(status.ok() ? 0 : 1);
      }
      int child_status = -1;
      ASSERT_EQ(waitpid(child, &child_status, 0), child);
      ASSERT_EQ(child_status, 0);
      struct stat st;
      ASSERT_EQ(lstat(dst.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, kNobody);
      EXPECT_EQ(st.st_gid, kNobody);
      if (op != Op::kCopyLink) {
        EXPECT_EQ(ModeOf(dst), runner == 0 ? 06755 : 0755);
      }
    }
  }
}

TEST(RealDiskCopyTest, HolesStayHoles) {
  constexpr off_t kSize = off_t{16} << 20;
  TempFolder dir;
  std::string src = dir / "src";
  ASSERT_TRUE(WriteFile(src, ""));
  ASSERT_EQ(truncate(src.c_str(), kSize), 0);
  FILE* file = fopen(src.c_str(), "r+");
  ASSERT_NE(file, nullptr);
  for (long offset : {long{1} << 20, long{9} << 20}) {
    fseek(file, offset, SEEK_SET);
    fputs("data between holes", file);
  }
  fclose(file);

  RealDiskInterface disk;
  ASSERT_TRUE(disk.CopyFile(src, dir / "dst").ok());
  EXPECT_TRUE(ReadFile(dir / "dst") == ReadFile(src));
  struct stat st;
  ASSERT_EQ(stat((dir / "dst").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, kSize);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);
}

}  // namespace
}  // namespace dravelkent
