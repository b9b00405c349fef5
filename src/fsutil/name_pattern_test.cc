#include "fsutil/name_pattern.h"

#include <gtest/gtest.h>

namespace dravelkent {
namespace {

TEST(NamePatternTest, MatchesAsTheExpirySearchNeeds) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      // The expiry's "*." + KIND.
      {"*.log", "20240101app.log", true},
      {"*.log", "20240101app.LOG", false},  // case-sensitive
      {"*.log", "20240101app.log.bak", false},
      {"*.log", "app.logx", false},
      {"*.log", ".log", true},
      {"*.log", "log", false},
      {"*.tar.gz", "20240101a.tar.gz", true},
      {"*.", "name.", true},
      {"*.", "name", false},
      // "*.*" and other patterns ending in ".*" also take names without a
      // dot.
      {"*.*", "20240101app", true},
      {"*.*", "a.b.c", true},
      {"*.*", ".", true},
      {"*.*", "..", true},
      {"*.*", ".hidden", true},
      {"app.*", "app", true},
      {"app.*", "app.txt", true},
      {"app.*", "apple", false},
      {"a*.*", "xyz", false},
      // "?" is one character, a multi-byte one included.
      {"*.?", "x.c", true},
      {"*.?", "x.cc", false},
      {"*.?", "x.", false},
      {"*.?", "x.\xE3\x83\xAD", true},          // one UTF-8 character
      {"*.??", "x.\xE3\x83\xAD", false},
      {"*.?", "x.\xFF", true},                  // a byte that is no UTF-8
      {"*.?", "x.\xE3\x83", false},             // a broken sequence: 2 bytes
      {"*.??", "x.\xE3\x83", true},
      // Backtracking over several stars.
      {"*a*b*.txt", "xxaxxbxx.txt", true},
      {"*a*b*.txt", "xxbxxaxx.txt", false},
      {"**.log", "a.log", true},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"*.ログ", "20240101日報.ログ", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesNamePattern(c.pattern, c.name), c.matches)
        << "pattern \"" << c.pattern << "\", name \"" << c.name << "\"";
  }
}

}  // namespace
}  // namespace dravelkent
