// Our settings store against Windows' profile functions in code page 932: on
// random files each key read, read back after a write by each, and the files
// written are alike, or one of our mends says why not.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "base/cp932.h"
#include "settings/ini_text.h"
#include "settings/settings_store.h"

namespace dravelkent {
namespace {

struct Seen {
  std::string win, ours;  // a value in code page 932, or a file written
  bool utf8, file, same;  // UTF-8; a file; written with the value it had
  std::string value;      // written to this key
};

// Why Windows and we part, or null: each of our mends.
const char* Why(const Seen& s) {
  return s.utf8 ? "UTF-8 without a byte order mark (Windows: code page 932)"
         : s.win.size() > 125 && s.ours.starts_with(s.win)
             ? "no 127-byte cut (Windows, read through 128 bytes, cuts more)"
         : TrimBlanks(s.value) != s.value || s.value.find_first_of("'\"") == 0
             ? "our quoting keeps blanks at the ends and quotes"
         : s.file && s.same ? "an unchanged value is not rewritten"
         : s.file ? "we edit a line or add some, not write the file anew"
                  : nullptr;
}

std::string A(const std::string& utf8) {  // in code page 932
  std::string bytes;
  return Utf8ToCp932(utf8, &bytes) ? bytes : "?";
}

std::string Get(const std::string& s, const std::string& k,
                const std::string& path) {
  char value[128];
  return {value, GetPrivateProfileStringA(A(s).c_str(), A(k).c_str(), "-",
                                          value, 128, path.c_str())};
}

bool Utf8(const std::string& bytes) {  // no byte order mark; not ASCII
  return DetectEncoding(bytes) == TextEncoding::kUtf8 &&
         std::ranges::any_of(bytes, [](char c) { return c < 0; });
}

TEST(ProfileWindowsTest, OurStoreReadsAndWritesAsWindowsSaveForOurMends) {
  const auto folder = std::filesystem::temp_directory_path() / "dravelkent";
  std::filesystem::create_directory(folder);
  std::mt19937 random(20261207);
  auto pick = [&](const std::vector<std::string>& from) {
    return from[random() % from.size()];
  };
  std::vector<std::string> values = {
      "", "On", "C:\\logs\\", "売上\\日報 表", "ﾛｸﾞ", "a=b", "\"q \"", "'ソ'"};
  values.push_back(std::string(64, 'z') + "能");  // doubled past 127 bytes
  const std::vector<std::string> sections = {"基本", "設定", "裏設定", "x"},
                                 keys = {"VIEW", "01KIND", "表示"},
                                 blanks = {"", "", " ", "\t", " \t"};
  std::map<std::string, int> counts;
  for (int round = 0; round < 300; ++round) {
    const std::string kind = pick({"cp932", "utf8", "bom"}),
                      eol = pick({"\n", "\r\n"});
    std::string text = kind == "bom" ? "\xEF\xBB\xBF" : "";  // in UTF-8
    for (int line = random() % 14, shape; line > 0; --line) {
      const std::string v = pick(values), b = pick(blanks);
      text += b +
              ((shape = random() % 8) < 2 ? "[" + pick(sections) + "]"
               : shape < 3                ? "; " + v + "="
               : shape < 4                ? ""
                           : (shape < 5 ? "01kind" : pick(keys)) + b + "=" + b +
                                 v + (shape % 2 ? v : "")) +
              pick(blanks) + eol;
    }
    const std::string path = (folder / std::to_string(round)).string();
    const std::string bytes = kind == "cp932" ? A(text) : text;
    for (const char* end : {".ini", "-ours.ini", "-win.ini"}) {
      std::ofstream(path + end, std::ios::binary) << bytes;
    }
    const std::string section = pick(sections), key = pick(keys),
                      value = pick(values) + pick(blanks);
    SettingsStore original(Env::Default(), path + ".ini"),
        ours(Env::Default(), path + "-ours.ini");
    const bool same = original.Read(section, key, "-") == value;
    const Status wrote = ours.Write(section, key, value);
    ASSERT_TRUE(wrote.ok()) << wrote.message();
    ASSERT_TRUE(WritePrivateProfileStringA(A(section).c_str(), A(key).c_str(),
                                           A(value).c_str(),
                                           (path + "-win.ini").c_str()));
    WholeFile win, mine;
    ASSERT_TRUE(Env::Default()->ReadWholeFile(path + "-win.ini", &win).ok() &&
                Env::Default()->ReadWholeFile(path + "-ours.ini", &mine).ok());
    const bool utf8 = Utf8(bytes), written = Utf8(mine.bytes);
    std::vector<Seen> seen = {{win.bytes, mine.bytes, utf8, true, same, ""}};
    for (const std::string& s : sections) {
      for (const std::string& k : keys) {
        seen.push_back({Get(s, k, path + ".ini"), A(original.Read(s, k, "-")),
                        utf8, false, false, ""});
        seen.push_back({Get(s, k, path + "-win.ini"),
                        Get(s, k, path + "-ours.ini"), utf8 || written, false,
                        false, s == section && k == key ? value : ""});
      }
    }
    for (const Seen& s : seen) {
      const char* why = s.win == s.ours ? "alike" : Why(s);
      ++counts[why ? why : "unexplained"];
      EXPECT_TRUE(why) << s.win << " (Windows), " << s.ours
                       << " (ours), after [" << section << "] " << key << "="
                       << value << " in " << kind << ":\n"
                       << text;
    }
  }
  for (const auto& [why, count] : counts)
    std::cout << count << ": " << why << "\n";
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace dravelkent
