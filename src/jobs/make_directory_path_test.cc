#include "jobs/make_directory_path.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "jobs/testing/job_test_env.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

// Each path absolute and relative to the current folder, in a folder that
// holds the file "f"; MakeDir fails for "x/n".
TEST(MakeDirectoryPathTest, CreatesEachMissingFolder) {
  struct {
    const char* folder;
    bool went_through, failed;
    const char *made, *not_made;
  } cases[] = {{"a/b/c/", true, false, "a/b/c", ""},
               {"a/b", true, false, "a/b", ""},
               {"a//b/", false, false, "a", "a/b"},
               {"f/b/", false, true, "", "f/b"},
               {"x/n/c/", false, true, "x", "x/n"}};
  const fs::path saved = fs::current_path();
  for (const auto& c : cases) {
    for (bool relative : {false, true}) {
      SCOPED_TRACE(c.folder + std::string(relative ? " relative" : ""));
      testing::JobTestEnv t;
      testing::WriteFile(t.temp / "f", "file");
      t.disk.FailPath(testing::DiskCall::kMakeDir,
                      relative ? "x/n" : t.temp / "x/n");
      fs::current_path(t.temp.path());
      Status failure;
      EXPECT_EQ(MakeDirectoryPath(
                    &t.disk, relative ? c.folder : t.temp / c.folder, &failure),
                c.went_through);
      EXPECT_EQ(!failure.ok(), c.failed);
      EXPECT_TRUE(!*c.made || fs::is_directory(t.temp / c.made));
      EXPECT_FALSE(*c.not_made && fs::exists(t.temp / c.not_made));
      fs::current_path(saved);
    }
  }
  // A network path is not even looked at.
  testing::JobTestEnv t;
  Status failure;
  EXPECT_FALSE(MakeDirectoryPath(&t.disk, "//server/share/logs/", &failure));
  EXPECT_TRUE(failure.ok());
  EXPECT_EQ(t.disk.count(testing::DiskCall::kStat), 0);
}

}  // namespace
}  // namespace dravelkent
