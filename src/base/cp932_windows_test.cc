// Code page 932 by Windows' own converter: exact both ways, or refused.

#include <gtest/gtest.h>

#include "base/cp932.h"

namespace dravelkent {
namespace {

TEST(Cp932WindowsTest, ConvertsExactlyOrRefuses) {
  const struct {
    std::string_view cp932, utf8;
    bool to_utf8, to_cp932;
  } cases[] = {
      {"", "", true, true},
      {"\x8a\xee\x96\x7b", "基本", true, true},
      {"C:\\\x95\x5c", "C:\\表", true, true},  // a trail byte "\"
      {"\x81\x5c", "―", true, true},           // U+2015, not U+2014
      {"", "—", false, false},                 // U+2014: a best fit only
      {"", "é", false, false},                 // a best fit "e" only
      {"\x81", "", false, false},              // a lead byte alone
      {"", "\xED\xA0\x80", false, false},      // a surrogate, not UTF-8
  };
  for (const auto& c : cases) {
    std::string text, bytes;
    if (!c.cp932.empty() || c.to_utf8) {
      EXPECT_EQ(Cp932ToUtf8(c.cp932, &text), c.to_utf8);
      EXPECT_TRUE(!c.to_utf8 || text == c.utf8) << text;
    }
    if (!c.utf8.empty() || c.to_cp932) {
      EXPECT_EQ(Utf8ToCp932(c.utf8, &bytes), c.to_cp932) << c.utf8;
      EXPECT_TRUE(!c.to_cp932 || bytes == c.cp932);
    }
  }
}

}  // namespace
}  // namespace dravelkent
