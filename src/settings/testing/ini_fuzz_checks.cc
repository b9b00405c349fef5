#include "settings/testing/ini_fuzz_checks.h"

#include <algorithm>
#include <vector>

#include "base/utf8.h"
#include "settings/ini_text.h"

namespace dravelkent {
namespace {

// A file's byte order mark, lines (each with its LF, CRLF or CR) and, in
// UTF-16, stray last byte; code units are |unit| bytes.
struct Lines {
  std::string_view bom, stray;
  size_t unit = 1;
  std::vector<std::string_view> all;
};

// Whether the code unit at |i| of |bytes| is the ASCII |c|.
bool UnitIs(std::string_view bytes, size_t i, size_t unit, char c) {
  return i + unit <= bytes.size() && bytes[i] == c &&
         (unit == 1 || bytes[i + 1] == '\0');
}

std::string_view TextOf(std::string_view line, size_t unit) {
  while (line.size() >= unit &&
         (UnitIs(line, line.size() - unit, unit, '\r') ||
          UnitIs(line, line.size() - unit, unit, '\n'))) {
    line.remove_suffix(unit);
  }
  return line;
}

Lines SplitLines(std::string_view bytes) {
  Lines lines;
  for (std::string_view bom : {kUtf8Bom, kUtf16LeBom}) {
    if (bytes.starts_with(bom)) lines.bom = bom;
  }
  if (lines.bom == kUtf16LeBom) {
    lines.unit = 2;
    lines.stray = bytes.substr(bytes.size() - bytes.size() % 2);
  }
  const size_t u = lines.unit, end = bytes.size() - lines.stray.size();
  for (size_t begin = lines.bom.size(), i = begin; i < end; i += u) {
    const bool cr = UnitIs(bytes, i, u, '\r');
    if (cr && UnitIs(bytes, i + u, u, '\n')) i += u;
    if (cr || UnitIs(bytes, i, u, '\n') || i + u >= end) {
      lines.all.push_back(bytes.substr(begin, i + u - begin));
      begin = i + u;
    }
  }
  return lines;
}

// Whether |after| is |before| with up to two lines added, or one line's
// value (after its first "=") replaced, or a break added to the last line
// and lines after it.
bool OtherLinesKept(std::string_view before, std::string_view after) {
  const Lines old_lines = SplitLines(before), new_lines = SplitLines(after);
  const auto &b = old_lines.all, &a = new_lines.all;
  const size_t u = old_lines.unit;
  if (old_lines.bom != new_lines.bom || old_lines.stray != new_lines.stray) {
    return false;
  }
  const size_t p = std::ranges::mismatch(b, a).in1 - b.begin();
  const size_t s =
      std::mismatch(b.rbegin(), b.rend() - p, a.rbegin(), a.rend() - p).first -
      b.rbegin();
  const size_t removed = b.size() - p - s, added = a.size() - p - s;
  if (removed != 1 || added == 0) return removed == 0 && added <= 2;
  const std::string_view was = b[p], now = a[p];
  const size_t eq = was.find(std::string_view("=\0", u)) + u;
  return (added == 1 && eq >= u && now.substr(0, eq) == was.substr(0, eq) &&
          now.substr(TextOf(now, u).size()) ==
              was.substr(TextOf(was, u).size())) ||
         (added <= 3 && p + 1 == b.size() && TextOf(now, u) == was);
}

// Whether every line of |after| reads as in |before|'s encoding.
bool EncodingKept(std::string_view before, std::string_view after) {
  const TextEncoding was = DetectEncoding(before), is = DetectEncoding(after);
  const Lines lines = SplitLines(after);
  std::string old_text, text;
  return was == is || std::ranges::all_of(lines.all, [&](auto line) {
           line = TextOf(line, lines.unit);
           const bool ok = Decode(was, line, &old_text);
           return Decode(is, line, &text) == ok && (!ok || old_text == text);
         });
}

}  // namespace

std::string CheckSettingsFile(std::string_view file) {
  std::vector<std::pair<std::string, std::string>> names = {
      {"基本", "VIEW"}, {"設定", "01DIRNAMEFROM"}};
  std::vector<std::string> values = {"Off", "", "C:\\表\\ゾ", " x ", "'q'"};
  const Lines lines = SplitLines(file);
  if (!lines.all.empty()) {
    values.emplace_back(TextOf(lines.all.back(), lines.unit));
  }
  const TextEncoding encoding = DetectEncoding(file);
  std::string section, text, after;
  for (std::string_view line : lines.all) {
    if (!Decode(encoding, TextOf(line, lines.unit), &text)) continue;
    const std::string_view trimmed = TrimBlanks(text);
    const size_t eq = trimmed.find('=');
    if (trimmed.starts_with('[')) {
      section = TrimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
    } else if (!trimmed.starts_with(';') && eq != std::string_view::npos &&
               names.size() <= 8) {
      std::string key(TrimBlanks(trimmed.substr(0, eq)));
      names.insert(names.end(), {{section, key}, {section, key + "_2"}});
      values.emplace_back(trimmed.substr(eq + 1));
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const auto& [section_name, key] = names[i];
    const std::optional<std::string> own =
        FindIniValue(file, section_name, key);
    values.push_back(own.value_or("1"));
    for (size_t v = 0; v < values.size(); ++v) {
      if (v % 3 != i % 3 && v + 1 < values.size()) continue;  // and its own
      const std::string& value = values[v];
      const char* broken = nullptr;
      if (!SetIniValue(file, section_name, key, value, "f", &after).ok()) {
        if (IsValidUtf8(file) && IsValidUtf8(value)) broken = "refused";
      } else if (FindIniValue(after, section_name, key) != value) {
        broken = "no read back";
      } else if (own == value && after != file) {
        broken = "its own value changed the file";
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
