// What copies (and moves by copying) make of holes.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

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
