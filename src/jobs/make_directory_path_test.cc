#include "jobs/make_directory_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

// Fails MakeDir for one path with a chosen error.
class FailingMakeDirDisk : public RealDiskInterface {
 public:
  FailingMakeDirDisk(std::string path, int error)
      : path_(std::move(path)), error_(error) {}
  Status MakeDir(const std::string& path) override {
    if (path == path_) return Status::FromErrno("cannot create folder", path, error_);
    return RealDiskInterface::MakeDir(path);
  }

 private:
  std::string path_;
  int error_;
};

TEST(MakeDirectoryPathTest, CreatesWhatTheTextAsks) {
  struct Case {
    const char* folder;        // below the temporary folder unless "//"
    const char* existing_dir;  // made before the call, or ""
    const char* existing_file; // made before the call, or ""
    bool went_through;
    bool system_failure;
    const char* must_exist;    // afterwards, or ""
    const char* must_not_exist;
  } cases[] = {
      {"a/b/c/", "", "", true, false, "a/b/c", ""},
      {"a/b/c", "", "", true, false, "a/b/c", ""},
      {"a/b/", "a/b", "", true, false, "a/b", ""},
      {"a//b/", "", "", false, false, "a", "a/b"},
      {"a/f/b/", "a", "a/f", false, true, "", "a/f/b"},
      {"a/f/", "a", "a/f", false, true, "", ""},
      {"a/f", "a", "a/f", true, false, "", ""},  // the last name is not entered
  };
  for (const Case& c : cases) {
    testing::TempFolder temp;
    if (*c.existing_dir) fs::create_directories((temp / c.existing_dir));
    if (*c.existing_file) testing::WriteFile((temp / c.existing_file), "x");
    RealDiskInterface disk;
    Status failure;
    bool result = MakeDirectoryPath(&disk, temp.path() + "/" + c.folder, &failure);
    EXPECT_EQ(result, c.went_through) << c.folder;
    EXPECT_EQ(!failure.ok(), c.system_failure) << c.folder << ": " << failure.message();
    if (*c.must_exist) {
      EXPECT_TRUE(fs::is_directory((temp / c.must_exist))) << c.folder;
    }
    if (*c.must_not_exist) {
      EXPECT_FALSE(fs::exists((temp / c.must_not_exist))) << c.folder;
    }
  }
}

TEST(MakeDirectoryPathTest, ExistingFolderIsSettledByOneLook) {
  struct Case {
    const char* folder;  // below the temporary folder, which holds a/b/c
    bool went_through;
    bool walked;  // tried to create components
  } cases[] = {
      {"a/b/c/", true, false},
      {"a/b/c", true, false},
      {"a/b/../b/c/", true, false},
      {"a/b//c/", false, true},  // the walk refuses "//" even when it exists
      {"a/b/c/d/", true, true},
  };
  for (const Case& c : cases) {
    testing::TempFolder temp;
    fs::create_directories((temp / "a/b/c"));
    RealDiskInterface real;
    testing::FaultyDiskInterface disk(&real);
    Status failure;
    EXPECT_EQ(MakeDirectoryPath(&disk, temp.path() + "/" + c.folder, &failure),
              c.went_through)
        << c.folder;
    EXPECT_TRUE(failure.ok()) << c.folder;
    EXPECT_EQ(disk.count(testing::DiskCall::kMakeDir) > 0,
              c.walked)
        << c.folder;
  }
}

TEST(MakeDirectoryPathTest, NetworkPathCreatesNothing) {
  RealDiskInterface disk;
  Status failure;
  EXPECT_FALSE(MakeDirectoryPath(&disk, "//server/share/logs/", &failure));
  EXPECT_TRUE(failure.ok());
}

TEST(MakeDirectoryPathTest, RelativePathIsCreatedFromTheCurrentFolder) {
  testing::TempFolder temp;
  std::string saved = fs::current_path().string();
  fs::current_path(temp.path());
  RealDiskInterface disk;
  Status failure;
  EXPECT_TRUE(MakeDirectoryPath(&disk, "top/sub/", &failure));
  EXPECT_TRUE(fs::is_directory((temp / "top/sub")));
  EXPECT_TRUE(MakeDirectoryPath(&disk, "top/sub/deeper/", &failure));
  EXPECT_TRUE(fs::is_directory((temp / "top/sub/deeper")));
  EXPECT_EQ(fs::current_path().string(), temp.path());
  fs::current_path(saved);
}

TEST(MakeDirectoryPathTest, StopsAtTheFirstFolderThatCannotBeMade) {
  testing::TempFolder temp;
  FailingMakeDirDisk disk((temp / "a/b"), EACCES);
  Status failure;
  EXPECT_FALSE(MakeDirectoryPath(&disk, (temp / "a/b/c/"), &failure));
  EXPECT_EQ(failure.error_number(), EACCES);
  EXPECT_TRUE(fs::is_directory((temp / "a")));
  EXPECT_FALSE(fs::exists((temp / "a/b")));
}

TEST(MakeDirectoryPathTest, ALinkToAFolderIsEnteredLikeAFolder) {
  testing::TempFolder temp;
  fs::create_directory((temp / "real"));
  fs::create_directory_symlink((temp / "real"), (temp / "link"));
  RealDiskInterface disk;
  Status failure;
  EXPECT_TRUE(MakeDirectoryPath(&disk, (temp / "link/sub/"), &failure));
  EXPECT_TRUE(fs::is_directory((temp / "real/sub")));
}

}  // namespace
}  // namespace dravelkent
