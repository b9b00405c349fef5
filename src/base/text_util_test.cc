#include "base/text_util.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

#include "base/utf8.h"

namespace dravelkent {
namespace {

// Reads back a text written by EscapeForLine.
std::string Unescape(std::string_view text) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t what = text[i] == '\\' && i + 1 < text.size()
                            ? std::string_view("\\nrtx").find(text[i + 1])
                            : std::string_view::npos;
    if (what == 4) {
      bytes += static_cast<char>(kHex.find(text.at(i + 2)) * 16 +
                                 kHex.find(text.at(i + 3)));
      i += 3;
    } else {
      bytes += what == std::string_view::npos ? text[i] : "\\\n\r\t"[what];
      i += what == std::string_view::npos ? 0 : 1;
    }
  }
  return bytes;
}

TEST(TextUtilTest, EscapeForLineGivesOneLineThatReadsBackExactly) {
  const std::pair<std::string, std::string> examples[] = {
      {"C:\\logs\\new", "C:\\logs\\\\new"},
      {"a\nb\\nc", "a\\nb\\\\nc"},
      {"a -> b ", "a -\\x3E b\\x20"},
      {"\\\x1B\xC2\x85\xC2\xA0\xFF", "\\\\\\x1B\\xC2\\x85\xC2\xA0\\xFF"},
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
  };
  for (const auto& [text, escaped] : examples) {
    EXPECT_EQ(EscapeForLine(text), escaped);
  }
  // Random texts, mostly of the bytes the rule singles out.
  const std::string kTricky = "\\ntx->  \n\x80\x85\x9F\xC2\xC2\xFF";
  std::mt19937 random(20261206);
  for (int n = 0; n < 5000; ++n) {
    std::string text;
    for (size_t length = random() % 12; length > 0; --length) {
      text += random() % 4 != 0 ? kTricky[random() % kTricky.size()]
                                : static_cast<char>(random());
    }
    const std::string escaped = EscapeForLine(text);
    ASSERT_EQ(Unescape(escaped), text) << escaped;
    ASSERT_TRUE(IsValidUtf8(escaped)) << escaped;
    for (size_t i = 0; i < escaped.size(); ++i) {
      const unsigned char byte = escaped[i];
      ASSERT_TRUE(
          byte >= 0x20 && byte != 0x7F &&
          (byte != 0xC2 || static_cast<unsigned char>(escaped[i + 1]) >= 0xA0))
          << escaped;
    }
    ASSERT_EQ(escaped.find("->"), std::string::npos) << escaped;
    ASSERT_FALSE(escaped.ends_with(" ")) << escaped;
  }
}

}  // namespace
}  // namespace dravelkent
