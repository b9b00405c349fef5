#include "base/text_util.h"

#include <gtest/gtest.h>

#include <random>

#include "base/utf8.h"

namespace dravelkent {
namespace {

// Reads back a text written by EscapeForLine.
std::string Unescape(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const char next = text[i] == '\\' && i + 1 < text.size() ? text[i + 1] : 0;
    const size_t what = std::string_view("\\nrt").find(next);
    if (next == 'x') {
      bytes += static_cast<char>(
          std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else {
      bytes += what == std::string_view::npos ? text[i] : "\\\n\r\t"[what];
      i += what != std::string_view::npos;
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
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"}};
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
    ASSERT_TRUE(IsValidUtf8(escaped) && !escaped.ends_with(" ") &&
                escaped.find("->") == std::string::npos)
        << escaped;
    for (size_t i = 0; i < escaped.size(); ++i) {  // no C0 or C1 control
      const unsigned char byte = escaped[i], next = escaped[i + 1];
      ASSERT_TRUE(byte >= 0x20 && byte != 0x7F &&
                  (byte != 0xC2 || next >= 0xA0))
          << escaped;
    }
  }
}

}  // namespace
}  // namespace dravelkent
