#include "ui/window/display_text.h"

#include <gtest/gtest.h>

namespace dravelkent {
namespace {

struct DisplayCase {
  const char* name;
  std::string bytes;
  std::string shown;
};

TEST(ValidUtf8ForDisplayTest, KeepsUtf8AndReplacesEveryOtherByte) {
  const std::string r = "\xEF\xBF\xBD";
  const DisplayCase cases[] = {
      {"empty", "", ""},
      {"ascii", "/home/a/log.txt", "/home/a/log.txt"},
      {"japanese", "全ての処理が終了しました", "全ての処理が終了しました"},
      {"four-byte", "\xF0\x9F\x93\x81 x", "\xF0\x9F\x93\x81 x"},
      {"latin-1 byte", "caf\xE9.txt", "caf" + r + ".txt"},
      // "表" in CP932 is 0x95 0x5C: the trail byte is a plain backslash.
      {"cp932 name", "\x95\x5C.log", r + "\\.log"},
      {"lone continuation", "a\x80z", "a" + r + "z"},
      {"truncated at end", "ab\xE3\x81", "ab" + r + r},
      {"overlong slash", "\xC0\xAF", r + r},
      {"overlong three bytes", "\xE0\x80\xAF", r + r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"invalid lead", "\xFF\xFE", r + r},
  };
  for (const DisplayCase& c : cases) {
    EXPECT_EQ(ValidUtf8ForDisplay(c.bytes), c.shown) << c.name;
  }
}

}  // namespace
}  // namespace dravelkent
