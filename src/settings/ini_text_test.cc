#include "settings/ini_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "settings/testing/ini_fuzz_checks.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

// CP932 bytes of a few words used below.
#define CP932_KIHON "\x8a\xee\x96\x7b"  // 基本: its own section name
#define CP932_HYO "\x95\x5c"            // 表: trail byte 0x5C
#define CP932_ZO "\x83\x5d"             // ゾ: trail byte "]"

TEST(DetectEncodingTest, PicksTheEncodingFromTheBytes) {
  struct Case {
    std::string_view bytes;
    TextEncoding expected;
  } cases[] = {
      {"", TextEncoding::kUtf8},
      {"[a]\nk=1\n", TextEncoding::kUtf8},
      {"[基本]\n", TextEncoding::kUtf8},
      {"\xEF\xBB\xBF[a]\n", TextEncoding::kUtf8WithBom},
      {"\xEF\xBB\xBF\x95\x5c", TextEncoding::kUtf8WithBom},
      {"\xFF\xFE[\0a\0]\0", TextEncoding::kUtf16},
      {"[" CP932_KIHON "]\r\n", TextEncoding::kCp932},
      {"k=\xC0\xAF", TextEncoding::kCp932},  // overlong "/"
      {"k=\xE8\xA1", TextEncoding::kCp932},  // cut short
      // Lines valid in neither, comments and other lines do not decide.
      {"k=\xED\xA0\x80\nx=\xF4\x90\x80\x80", TextEncoding::kUtf8},
      {"; caf\xE9\n[基本]\n", TextEncoding::kUtf8},
      {" ;" CP932_KIHON "\n" CP932_HYO "\n[a]", TextEncoding::kUtf8},
      // "—" is not CP932, CP932_HYO not UTF-8: the greater number wins.
      {"k=—\rx=" CP932_HYO "\r\n", TextEncoding::kUtf8},
      {"k=—\nx=" CP932_HYO "\n[" CP932_HYO "]", TextEncoding::kCp932},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectEncoding(c.bytes), c.expected) << EscapeBytes(c.bytes);
  }
}

TEST(DetectEncodingTest, EveryPlaceOfALongFileIsLookedAt) {
  // ASCII is passed over in blocks: a byte at any place in or between them
  // still decides.
  const std::string line = "k=" + std::string(198, 'a');
  for (size_t at = 2; at < 200; ++at) {
    std::string text = line;
    text.replace(at, 2, "\xC3\xA9");  // é
    text.resize(200);
    EXPECT_EQ(DetectEncoding(text),
              at == 199 ? TextEncoding::kCp932 : TextEncoding::kUtf8)
        << at;
    text = line;
    text[at] = '\xC0';
    EXPECT_EQ(DetectEncoding(text), TextEncoding::kCp932) << at;
    text[at] = '\x7F';
    EXPECT_EQ(DetectEncoding(text), TextEncoding::kUtf8) << at;
  }
}

TEST(FindIniValueTest, ReadsTheFirstMatch) {
  const std::string long_value(1000, 'v');
  struct Case {
    std::string_view file;
    std::string_view section;
    std::string_view key;
    std::optional<std::string> expected;
  } cases[] = {
      {"[基本]\nVIEW=On\n", "基本", "VIEW", "On"},
      {"[Basic]\nview=On", "bASIC", "VIEW", "On"},
      {" \t[ 基本 ] x\n\t VIEW \t= \tOn \v\f\n", "基本", "VIEW", "On"},
      {"[a]\r\nk=1\r\n", "a", "k", "1"},
      {"[a]\rk=1\r", "a", "k", "1"},
      {"\xEF\xBB\xBF[a]\nk=1", "a", "k", "1"},
      {"[a\nk=1", "a", "k", "1"},
      {"[a]\nk=x=y", "a", "k", "x=y"},
      {"[a]\nk=", "a", "k", ""},
      {"[a]\nk=\"C:\\My Files\"", "a", "k", "C:\\My Files"},
      {"[a]\nk='x'", "a", "k", "x"},
      {"[a]\nk=\" x \"", "a", "k", " x "},
      {"[a]\nk=\"x'", "a", "k", "\"x'"},
      {"[a]\nk=\"", "a", "k", "\""},
      {"[a]\nk=\"\"", "a", "k", ""},
      {"[a]\nk=1\nk=2\n", "a", "k", "1"},
      {"[a]\nk=1\n[a]\nk=2\n", "a", "k", "1"},
      {"[a]\nx=1\n[a]\nk=2\n", "a", "k", std::nullopt},
      {"[a]\n;k=1\n  ; k=2\nk=3", "a", "k", "3"},
      {"[a]\nk\n", "a", "k", std::nullopt},
      {"k=1\n[a]\n", "a", "k", std::nullopt},
      {"[a]\n[b]k=1\n", "a", "k", std::nullopt},
      {"[b]\nk=1\n", "a", "k", std::nullopt},
      {"", "a", "k", std::nullopt},
      {"[a]\n\x81\nk=1", "a", "k", "1"},
      {";caf\xE9\n[基本]\nVIEW=On\n", "基本", "VIEW", "On"},
      {"[基本]\nDIR=caf\xE9\nVIEW=On\n", "基本", "VIEW", "On"},
      {"[" CP932_KIHON "]\r\nDIR=C:\\" CP932_HYO "\r\n", "基本", "DIR",
       "C:\\表"},
      {"[" CP932_ZO "]\r\nk=" CP932_ZO "\r\n", "ゾ", "k", "ゾ"},
      {"[" CP932_ZO "x]\r\nk=1\r\n", "ゾx", "k", "1"},
      {"\xFF\xFE[\0a\0]\0\nk=1", "a", "k", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindIniValue(c.file, c.section, c.key), c.expected)
        << EscapeBytes(c.file);
  }
  std::string file = "[a]\nk=" + long_value + "\n";
  EXPECT_EQ(FindIniValue(file, "a", "k"), long_value);
}

TEST(SetIniValueTest, EditsOnlyWhatTheWriteNames) {
  struct Case {
    std::string_view before;
    std::string_view section;
    std::string_view key;
    std::string_view value;
    std::string_view after;
  } cases[] = {
      // Replacing a value keeps the key part and the line's ending.
      {"[a]\nk=1\n", "a", "k", "2", "[a]\nk=2\n"},
      {"[a]\r\n  K  =  1  \r\nx=1\r\n", "a", "k", "2",
       "[a]\r\n  K  =2\r\nx=1\r\n"},
      {"[a]\nk=1", "a", "k", "2", "[a]\nk=2"},
      {"[a]\nk=1\n", "a", "k", "", "[a]\nk=\n"},
      {"[a]\nk= \"On\" \n", "a", "k", "On", "[a]\nk= \"On\" \n"},
      {"[a]\nk=1\nk=1\n[a]\nk=1\n", "a", "k", "2",
       "[a]\nk=2\nk=1\n[a]\nk=1\n"},
      // Values that reading would trim or unquote go inside quotes.
      {"[a]\nk=1\n", "a", "k", " x ", "[a]\nk=\" x \"\n"},
      {"[a]\nk=1\n", "a", "k", "\t", "[a]\nk=\"\t\"\n"},
      {"[a]\nk=1\n", "a", "k", "\"x\"", "[a]\nk=\"\"x\"\"\n"},
      {"[a]\nk=1\n", "a", "k", "'x'", "[a]\nk=\"'x'\"\n"},
      {"[a]\nk=1\n", "a", "k", "\"x'", "[a]\nk=\"x'\n"},
      {"", "a", "k", "'", "[a]\nk='\n"},
      // A missing key goes after the section's last non-blank line.
      {"[a]\nk=1\n\n[b]\nx=1\n", "a", "y", "2", "[a]\nk=1\ny=2\n\n[b]\nx=1\n"},
      {"[a]\r\nk=1\r\n;end\r\n\r\n", "a", "y", "", "[a]\r\nk=1\r\n;end\r\ny=\r\n\r\n"},
      {"[a]\nx=1\n[a]\nk=2\n", "a", "k", "3", "[a]\nx=1\nk=3\n[a]\nk=2\n"},
      {";k=1\n[a]\n;k=1\n", "a", "k", "2", ";k=1\n[a]\n;k=1\nk=2\n"},
      {"k=1\n[a]\n", "a", "k", "2", "k=1\n[a]\nk=2\n"},
      {"[a]\nk=1", "a", "y", "2", "[a]\nk=1\ny=2\n"},
      {"[a]", "a", "y", "2", "[a]\ny=2\n"},
      // A missing section goes at the end, with the file's line ending.
      {"", "a", "k", "v", "[a]\nk=v\n"},
      {"[a]\nk=1\n", "b", "x", "v", "[a]\nk=1\n[b]\nx=v\n"},
      {"[a]\rk=1\r", "b", "x", "v", "[a]\rk=1\r[b]\rx=v\r"},
      {"[a]\r\nk=1", "b", "x", "v", "[a]\r\nk=1\r\n[b]\r\nx=v\r\n"},
      {"; only a comment", "b", "x", "v", "; only a comment\n[b]\nx=v\n"},
      {"\xEF\xBB\xBF", "b", "x", "v", "\xEF\xBB\xBF[b]\nx=v\n"},
      {"\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "表",
       "\xEF\xBB\xBF[a]\r\nk=表\r\n"},
      {"[a]\nk=1\n", "基本", "VIEW", "Off", "[a]\nk=1\n[基本]\nVIEW=Off\n"},
      // CP932 files stay CP932; trail bytes never act as text.
      {"[" CP932_KIHON "]\r\nDIR=C:\\" CP932_HYO "\r\nx=1\r\n", "基本", "DIR",
       "D:\\表\\", "[" CP932_KIHON "]\r\nDIR=D:\\" CP932_HYO "\\\r\nx=1\r\n"},
      {"[" CP932_ZO "]\r\nk=1\r\n", "ゾ", "y", "2",
       "[" CP932_ZO "]\r\nk=1\r\ny=2\r\n"},
      {"[a]\r\nk=" CP932_HYO "\r\n", "設定", "01KIND", "表",
       "[a]\r\nk=" CP932_HYO "\r\n[\x90\xdd\x92\xe8]\r\n01KIND=" CP932_HYO
       "\r\n"},
      {"[a]\r\n\x81\r\nk=" CP932_HYO "\r\n", "a", "k", "1",
       "[a]\r\n\x81\r\nk=1\r\n"},
      {"[a]\r\nk=" CP932_HYO "\r\n\x81", "a", "y", "1",
       "[a]\r\nk=" CP932_HYO "\r\n\x81\r\ny=1\r\n"},
      // The old value held the only CP932 bytes: plain ASCII is left.
      {"[a]\r\nk=" CP932_HYO "\r\n", "a", "k", "1", "[a]\r\nk=1\r\n"},
      // An added line never joins the LF of a blank line to a CR ending.
      {"[a]\rk=1\n\n", "a", "y", "2", "[a]\rk=1\ny=2\n\n"},
      {"[a]\rk=1\r\n\n", "a", "y", "2", "[a]\rk=1\r\ny=2\r\n\n"},
      {"[a]\rk=1\n\r", "a", "y", "2", "[a]\rk=1\ny=2\r\r"},
  };
  for (const Case& c : cases) {
    std::string after;
    ASSERT_EQ(SetIniValue(c.before, c.section, c.key, c.value, &after),
              IniEditResult::kDone)
        << EscapeBytes(c.before);
    EXPECT_EQ(EscapeBytes(after), EscapeBytes(c.after)) << "before: " << EscapeBytes(c.before);
  }
}

TEST(SetIniValueTest, RefusesWritesThatCannotBeMadeFaithfully) {
  struct Case {
    std::string_view before;
    std::string_view section;
    std::string_view key;
    std::string_view value;
    IniEditResult expected;
  } cases[] = {
      {"[a]\r\nk=" CP932_HYO "\r\n", "a", "k", "😀",
       IniEditResult::kNotEncodable},
      {"[a]\r\nk=" CP932_HYO "\r\n", "😀", "k", "1",
       IniEditResult::kNotEncodable},
      {"[a]\nk=1\n", "a", "k", "\xFF", IniEditResult::kNotEncodable},
      {"\xFF\xFE[\0a\0]\0", "a", "k", "1", IniEditResult::kUnknownEncoding},
      // Without its old value this file would read as UTF-8, and the name
      // of its other key would change from "ﾂｲ" (CP932) to "²" (UTF-8).
      {"[a]\nk=" CP932_HYO "\n\xC2\xB2=1\n", "a", "k", "1",
       IniEditResult::kEncodingWouldChange},
      {"", "a", "k", "1\n[b]", IniEditResult::kMalformed},
      {"", "a", "k", "1\r", IniEditResult::kMalformed},
      {"", "a", "k=x", "1", IniEditResult::kMalformed},
      {"", "a", " ;k", "1", IniEditResult::kMalformed},
      {"", "a", "[k", "1", IniEditResult::kMalformed},
      {"", "a]b", "k", "1", IniEditResult::kMalformed},
      // The CP932 line may be [基本] itself.
      {"\xEF\xBB\xBF[" CP932_KIHON "]\n", "基本", "k", "1",
       IniEditResult::kUndecodableLines},
      {";caf\xE9\n[a]\n", "基本", "k", "1", IniEditResult::kUndecodableLines},
  };
  for (const Case& c : cases) {
    std::string after;
    EXPECT_EQ(SetIniValue(c.before, c.section, c.key, c.value, &after),
              c.expected)
        << EscapeBytes(c.before) << " " << c.key << "=" << EscapeBytes(c.value);
  }
}

// Any bytes: no crash, and a value written reads back.
TEST(SetIniValueTest, WrittenValueReadsBackFromAnyFile) {
  const std::string_view pieces[] = {
      "[a]", "[A ]", "[b]", "[",  "]",      "k",          "K=",   "=", "x",
      "\r",  "\n",   "\r\n", ";", "\"",     CP932_HYO,    CP932_ZO, "\x81",
      " ",   "\t",   "表",   "\xEF\xBB\xBF", "\xFF\xFE",
      std::string_view("\0", 1)};
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string file;
    int count = static_cast<int>(random() % 24);
    for (int i = 0; i < count; ++i) {
      file += pieces[random() % std::size(pieces)];
    }
    std::string value = "v" + std::to_string(round);
    std::string after;
    FindIniValue(file, "a", "k");
    IniEditResult result = SetIniValue(file, "a", "k", value, &after);
    if (result == IniEditResult::kEncodingWouldChange) continue;
    if (result == IniEditResult::kUndecodableLines) {
      EXPECT_GT(FindUndecodableLines(file).count, 0u) << EscapeBytes(file);
      continue;
    }
    if (result != IniEditResult::kDone) {
      EXPECT_EQ(DetectEncoding(file), TextEncoding::kUtf16) << EscapeBytes(file);
      continue;
    }
    EXPECT_EQ(FindIniValue(after, "a", "k"), value)
        << EscapeBytes(file) << " -> " << EscapeBytes(after);
    std::string again;
    ASSERT_EQ(SetIniValue(after, "a", "k", value, &again), IniEditResult::kDone);
    EXPECT_EQ(again, after) << EscapeBytes(after);
  }
}

}  // namespace
}  // namespace dravelkent
