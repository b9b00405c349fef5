#include "settings/ini_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "settings/testing/ini_fuzz_checks.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

#define KIHON "\x8a\xee\x96\x7b"  // 基本 in CP932
#define HYO "\x95\x5c"            // 表: trail byte 0x5C
#define ZO "\x83\x5d"             // ゾ: trail byte "]"

TEST(DetectEncodingTest, SectionAndKeyLinesDecide) {
  using enum TextEncoding;
  const std::pair<std::string_view, TextEncoding> cases[] = {
      {"[a]\nk=1\n", kUtf8},
      {"\xEF\xBB\xBF" HYO, kUtf8WithBom},
      {"\xFF\xFE[\0a\0]\0", kUtf16},
      {"[" KIHON "]\r\n", kCp932},
      {"k=\xC0\xAF", kCp932},
      {"k=\xED\xA0\x80\nx=\xF4\x90\x80\x80", kUtf8},  // valid in neither
      {"; caf\xE9\n[基本]\n", kUtf8},
      {" ;" KIHON "\n" HYO "\n[a]", kUtf8},  // comments and others do not
      {"k=—\rx=" HYO "\r\n", kUtf8},         // a tie
      {"k=—\nx=" HYO "\n[" HYO "]", kCp932}};
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(DetectEncoding(bytes), expected) << testing::PrintToString(bytes);
  }
  for (size_t at = 2; at < 200; ++at) {  // any place of a long line counts
    std::string text = "k=" + std::string(198, 'a');
    text.replace(at, 2, "\xC3\xA9");
    text.resize(200);
    EXPECT_EQ(DetectEncoding(text), at == 199 ? kCp932 : kUtf8) << at;
    text[at] = '\xC0';
    EXPECT_EQ(DetectEncoding(text), kCp932) << at;
  }
}

TEST(FindIniValueTest, ReadsTheFirstMatch) {
  const std::tuple<std::string_view, std::string_view,
                   std::optional<std::string>>
      cases[] = {{"[Basic]\nK=On", "bASIC", "On"},
                 {" \t[ a ] x\n\t k \t= \tOn \v\f\n", "a", "On"},

                 {"[a]\nk=x=y", "a", "x=y"},
                 {"[a]\nk=\"C:\\My Files\"", "a", "C:\\My Files"},
                 {"[a]\nk='x'", "a", "x"},
                 {"[a]\nk=\" x \"", "a", " x "},
                 {"[a]\nk=\"x'", "a", "\"x'"},
                 {"[a]\nk=1\nk=2\n[a]\nk=3\n", "a", "1"},
                 {"[a]\nx=1\n[a]\nk=2\n", "a", std::nullopt},
                 {"[a]\n;k=1\n  ; k=2\nk\nk=3", "a", "3"},
                 {"k=1\n[a]\n[b]k=1\n", "a", std::nullopt},
                 {"[b]\nk=1\n", "a", std::nullopt},
                 {"[a]\n\x81\nk=1", "a", "1"},
                 {"[a]\nDIR=caf\xE9\nk=On\n", "a", "On"},
                 {"[" KIHON "]\r\nk=C:\\" HYO "\r\n", "基本", "C:\\表"},
                 {"[" ZO "x]\r\nk=" ZO "\r\n", "ゾx", "ゾ"}};
  for (const auto& [file, section, expected] : cases) {
    EXPECT_EQ(FindIniValue(file, section, "k"), expected)
        << testing::PrintToString(file);
  }
}

TEST(SetIniValueTest, EditsOnlyWhatTheWriteNames) {
  const std::tuple<std::string_view, std::string_view, std::string_view,
                   std::string_view>
      cases[] = {
          // file, section, value, file after; the key is "k"
          {"[a]\r\n  K  =  1  \r\nx=1\r\n", "a", "2",
           "[a]\r\n  K  =2\r\nx=1\r\n"},
          {"[a]\nk= \"On\" \n", "a", "On", "[a]\nk= \"On\" \n"},
          {"[a]\nk=1\nk=1\n[a]\nk=1\n", "a", "2", "[a]\nk=2\nk=1\n[a]\nk=1\n"},
          {"[a]\nk=1", "a", " x ", "[a]\nk=\" x \""},
          {"[a]\nk=1\n", "a", "\"x'", "[a]\nk=\"x'\n"},
          {"[a]\nx=1\n\n[b]\n", "a", "2", "[a]\nx=1\nk=2\n\n[b]\n"},
          {"[a]\r\nx=1\r\n;end\r\n\r\n", "a", "",
           "[a]\r\nx=1\r\n;end\r\nk=\r\n\r\n"},
          {"[a]", "a", "2", "[a]\nk=2\n"},
          {"", "a", "v", "[a]\nk=v\n"},
          {"[a]\rx=1\r", "b", "v", "[a]\rx=1\r[b]\rk=v\r"},
          {"[a]\r\nx=1", "b", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
          {"\xEF\xBB\xBF", "b", "v", "\xEF\xBB\xBF[b]\nk=v\n"},
          {"\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "表",
           "\xEF\xBB\xBF[a]\r\nk=表\r\n"},
          {"[" KIHON "]\r\nk=C:\\" HYO "\r\n", "基本", "D:\\表\\",
           "[" KIHON "]\r\nk=D:\\" HYO "\\\r\n"},
          {"[" ZO "]\r\nx=1\r\n", "ゾ", "2", "[" ZO "]\r\nx=1\r\nk=2\r\n"},
          {"[a]\r\nx=" HYO "\r\n", "設定", "表",
           "[a]\r\nx=" HYO "\r\n[\x90\xdd\x92\xe8]\r\nk=" HYO "\r\n"},
          {"[a]\r\n\x81\r\nk=" HYO "\r\n", "a", "1", "[a]\r\n\x81\r\nk=1\r\n"},
          {"[a]\rx=1\n\n", "a", "2", "[a]\rx=1\nk=2\n\n"},  // no CR before LF
          {"[a]\rx=1\r\n\n", "a", "2", "[a]\rx=1\r\nk=2\r\n\n"}};
  for (const auto& [before, section, value, expected] : cases) {
    std::string after;
    ASSERT_EQ(SetIniValue(before, section, "k", value, &after),
              IniEditResult::kDone)
        << testing::PrintToString(before);
    EXPECT_EQ(after, expected);
  }
}

TEST(SetIniValueTest, RefusesWritesThatWouldNotReadBack) {
  using enum IniEditResult;
  const std::tuple<std::string_view, std::string_view, std::string_view,
                   std::string_view, IniEditResult>
      cases[] = {
          {"[a]\r\nk=" HYO "\r\n", "a", "k", "😀", kNotEncodable},
          {"\xFF\xFE[\0a\0]\0", "a", "k", "1", kUnknownEncoding},
          // Without its old value the file would read as UTF-8, "ﾂｲ" as "²".
          {"[a]\nk=" HYO "\n\xC2\xB2=1\n", "a", "k", "1", kEncodingWouldChange},
          {"", "a", "k=x", "1\r", kMalformed},
          {"[a]\nk=1\n", "a", " ;k", "1", kMalformed},
          {"", "a]b", "k", "1", kMalformed},
          // A line that cannot be decoded may be the section itself.
          {"\xEF\xBB\xBF[" KIHON "]\n", "基本", "k", "1", kUndecodableLines},
          {";caf\xE9\n[a]\n", "b", "k", "1", kUndecodableLines}};
  for (const auto& [before, section, key, value, expected] : cases) {
    std::string after;
    EXPECT_EQ(SetIniValue(before, section, key, value, &after), expected)
        << testing::PrintToString(before) << key;
  }
}

// What the fuzzer found, its seeds and files of pieces pass its checks.
TEST(IniFuzzChecksTest, FoundInputsSeedsAndPiecesPass) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  for (const char* folder : {"regressions", "corpus"}) {
    for (const auto& entry : fs::directory_iterator(
             fs::path(DRAVELKENT_FUZZ_DIR) / folder / "settings")) {
      std::ostringstream bytes;
      bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
      files.push_back(bytes.str());
    }
  }
  EXPECT_GT(files.size(), 12u);
  // Pieces of settings files, "|" between them.
  const char kPieces[] =
      "[a]|[A ]|[b]| [ A ]x|[|]|k|kk|K=|=| = |x|'x'|\r|\n|\r\n|;|\"|" HYO "|" ZO
      "|\x81| |\t|\v|表|\xEF\xBB\xBF|\xFF\xFE|\0";
  std::vector<std::string_view> pieces;
  for (std::string_view rest(kPieces, sizeof kPieces - 1); !rest.empty();) {
    pieces.push_back(rest.substr(0, rest.find('|')));
    rest.remove_prefix(std::min(rest.size(), pieces.back().size() + 1));
  }
  std::mt19937 random(12345);
  for (int round = 0; round < 1500; ++round) {
    std::string& file = files.emplace_back();
    for (int i = static_cast<int>(random() % 30); i > 0; --i) {
      file += pieces[random() % pieces.size()];
    }
  }
  for (const std::string& file : files) {
    EXPECT_EQ(CheckSettingsFile(file), "") << testing::PrintToString(file);
  }
}

}  // namespace
}  // namespace dravelkent
