#include "jobs/text_util.h"

#include <gtest/gtest.h>

namespace dravelkent {
namespace {

TEST(LeadingIntegerTest, ReadsTheNumberAtTheStart) {
  struct Case {
    const char* text;
    long long expected;
  } cases[] = {
      {"", 0},           {"abc", 0},          {"7", 7},
      {"  42days", 42},  {"\t-3", -3},        {"+15", 15},
      {"- 3", 0},        {"10000", 10000},    {"20261206", 20261206},
      {"0012", 12},      {"99999999999999999999999", 9223372036854775807LL},
      {"--1", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LeadingInteger(c.text), c.expected) << "text: " << c.text;
  }
}

TEST(FormatTextTest, ReplacesEachPlaceholderWithoutCutting) {
  std::string long_name(300, 'x');
  EXPECT_EQ(FormatText("%s.%s を移動中", {"app", "log"}), "app.log を移動中");
  EXPECT_EQ(FormatText("%s 削除中", {long_name}), long_name + " 削除中");
  EXPECT_EQ(FormatText("100%", {}), "100%");
  EXPECT_EQ(FormatText("%s", {"%s"}), "%s");
}

TEST(EscapeControlBytesTest, KeepsOneLineAndEveryOtherByte) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"plain /path/名前.txt", "plain /path/名前.txt"},
      {"new\nline", "new\\nline"},
      {"tab\tcr\r", "tab\\tcr\\r"},
      {"\x1b[31mred", "\\x1B[31mred"},
      {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7F"},
      {"\xff\xfe raw", "\xff\xfe raw"},
      {"back\\slash", "back\\slash"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeControlBytes(c.text), c.expected) << c.expected;
  }
}

}  // namespace
}  // namespace dravelkent
