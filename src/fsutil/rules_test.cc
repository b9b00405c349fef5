// The rules that pick files: name patterns, and which of two is newer.

#include <gtest/gtest.h>

#include "fsutil/name_pattern.h"
#include "fsutil/newer_file.h"
#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent::testing {
namespace {

TEST(NamePatternTest, StarQuestionMarkAndTheStarDotRule) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.log", "20240101app.log", true},
      {"*.log", "20240101app.LOG", false},
      {"*.log", "app.log.bak", false},
      {"*.*", "20240101app", true},  // ".*" takes names without a dot too
      {"app.*", "app", true},
      {"app.*", "apple", false},
      {"*.?", "x.cc", false},
      {"*.?", "x.\xE3\x83\xAD", true},  // "?" is one UTF-8 character,
      {"*.?", "x.\xFF", true},          // or one byte that starts none
      {"*a*b*.txt", "xxbxxaxx.txt", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesNamePattern(c.pattern, c.name), c.matches)
        << c.pattern << " " << c.name;
  }
}

TEST(IsSourceNewerTest, EachEntryByItsOwnTimeToTheNanosecond) {
  constexpr int64_t kTime = 1700000000123456700;
  const struct {
    const char* source;  // "file", "link" (to a later file) or "none"
    int64_t source_delta;
    const char* destination;
    int expected;
  } cases[] = {
      {"file", 0, "none", 1}, {"none", 0, "file", 1},   {"file", 0, "file", 0},
      {"file", 1, "file", 1}, {"file", -1, "file", -1}, {"link", 0, "file", 0},
  };
  RealDiskInterface disk;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + std::to_string(c.source_delta));
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "later", "x", 0644, kTime + 100));
    if (std::string(c.source) == "file") {
      ASSERT_TRUE(WriteFile(dir / "src", "x"));
    } else if (std::string(c.source) == "link") {
      ASSERT_EQ(symlink("later", (dir / "src").c_str()), 0);
    }
    SetMtime(dir / "src", kTime + c.source_delta);
    if (std::string(c.destination) == "file") {
      ASSERT_TRUE(WriteFile(dir / "dst", "x", 0644, kTime));
    }
    EXPECT_EQ(IsSourceNewer(&disk, dir / "src", dir / "dst"), c.expected);
  }
}

}  // namespace
}  // namespace dravelkent::testing
