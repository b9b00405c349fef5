#include "settings/testing/ini_fuzz_checks.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/utf8.h"
#include "settings/ini_text.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

using Lines = std::vector<std::string_view>;

// The lines after a byte order mark, each with its ending (LF, CRLF, CR).
Lines SplitLines(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  Lines lines;
  while (!bytes.empty()) {
    size_t end = std::min(bytes.find_first_of("\r\n"), bytes.size() - 1) + 1;
    if (bytes[end - 1] == '\r' && bytes.substr(end, 1) == "\n") ++end;
    lines.push_back(bytes.substr(0, end));
    bytes.remove_prefix(end);
  }
  return lines;
}

std::string_view TextOf(std::string_view line) {
  return line.substr(0, std::min(line.find_first_of("\r\n"), line.size()));
}

// Whether |after| is |before| with up to two lines added, or one line's
// value (after its first "=") replaced, or a break added to the last line.
bool OtherLinesKept(std::string_view before, std::string_view after) {
  Lines b = SplitLines(before), a = SplitLines(after);
  size_t p = 0, s = 0;
  while (p < b.size() && p < a.size() && b[p] == a[p]) ++p;
  while (s < b.size() - p && s < a.size() - p &&
         b[b.size() - 1 - s] == a[a.size() - 1 - s]) {
    ++s;
  }
  size_t removed = b.size() - p - s, added = a.size() - p - s;
  if (removed != 1 || added == 0) return removed == 0 && added <= 2;
  std::string_view was = b[p], now = a[p];
  size_t eq = was.find('=') + 1;
  return (added == 1 && eq != 0 && now.substr(0, eq) == was.substr(0, eq) &&
          now.substr(TextOf(now).size()) == was.substr(TextOf(was).size())) ||
         (added <= 3 && p + 1 == b.size() && TextOf(now) == was);
}

// Whether |after| keeps a BOM and every line reads as in |before|'s encoding.
bool EncodingKept(std::string_view before, std::string_view after) {
  if (before.starts_with(kUtf8Bom) != after.starts_with(kUtf8Bom)) return false;
  TextCodec old_codec(DetectEncoding(before)), codec(DetectEncoding(after));
  if (old_codec.encoding() == codec.encoding()) return true;
  std::string old_text, text;
  return std::ranges::all_of(SplitLines(after), [&](std::string_view line) {
    bool ok = old_codec.Decode(TextOf(line), &old_text);
    return codec.Decode(TextOf(line), &text) == ok && (!ok || old_text == text);
  });
}

}  // namespace

std::string CheckSettingsFile(std::string_view file) {
  std::vector<std::pair<std::string, std::string>> names = {
      {"基本", "VIEW"}, {"設定", "01DIRNAMEFROM"}};
  std::vector<std::string> values = {"Off", "", "C:\\表\\ゾ", " x ", "'q'"};
  Lines lines = SplitLines(file);
  if (!lines.empty()) values.emplace_back(TextOf(lines.back()));
  TextCodec codec(DetectEncoding(file));
  std::string section, text, after, again;
  for (std::string_view line : lines) {
    if (names.size() > 8 || !codec.Decode(TextOf(line), &text)) continue;
    std::string_view trimmed = TrimBlanks(text);
    size_t eq = trimmed.find('=');
    if (trimmed.starts_with('[')) {
      section = TrimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
    } else if (!trimmed.starts_with(';') && eq != std::string_view::npos) {
      std::string key(TrimBlanks(trimmed.substr(0, eq)));
      names.insert(names.end(), {{section, key}, {section, key + "_2"}});
      values.emplace_back(trimmed.substr(eq + 1));
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const auto& [section_name, key] = names[i];
    values.push_back(FindIniValue(file, section_name, key).value_or("1"));
    for (size_t v = 0; v < values.size(); ++v) {
      if (v % 3 != i % 3 && v + 1 < values.size()) continue;  // and its own
      const std::string& value = values[v];
      const char* broken = nullptr;
      if (SetIniValue(file, section_name, key, value, &after) !=
          IniEditResult::kDone) {
        if (IsValidUtf8(file) && IsValidUtf8(value)) broken = "refused";
      } else if (FindIniValue(after, section_name, key) != value) {
        broken = "no read back";
      } else if (SetIniValue(after, section_name, key, value, &again),
                 again != after) {
        broken = "writing it again changed the file";
      } else if (!OtherLinesKept(file, after)) {
        broken = "other bytes changed";
      } else if (!EncodingKept(file, after)) {
        broken = "the encoding changed";
      }
      if (broken) return std::string(broken) + ": " + key + "=" + value;
    }
    values.pop_back();
  }
  return "";
}

}  // namespace dravelkent
