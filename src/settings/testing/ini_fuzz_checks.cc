#include "settings/testing/ini_fuzz_checks.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/utf8.h"
#include "settings/ini_text.h"

namespace dravelkent {
namespace {

// A file's lines, each with its ending (LF, CRLF, CR), after a byte order
// mark; code units are |unit| bytes, and a stray last byte of UTF-16 is
// |stray|.
struct Lines {
  std::vector<std::string_view> all;
  size_t unit = 1;
  std::string_view stray;
};

// The offset of the first CR or LF code unit of |bytes|, or its size.
size_t BreakAt(std::string_view bytes, size_t unit) {
  for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
    std::string_view code = bytes.substr(i, unit);
    if (code == std::string_view("\r\0", unit) ||
        code == std::string_view("\n\0", unit)) {
      return i;
    }
  }
  return bytes.size();
}

Lines SplitLines(std::string_view bytes) {
  Lines lines;
  if (bytes.starts_with(kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
  } else if (bytes.starts_with(kUtf16LeBom)) {
    bytes.remove_prefix(kUtf16LeBom.size());
    lines.unit = 2;
    lines.stray = bytes.substr(bytes.size() & ~size_t{1});
    bytes.remove_suffix(lines.stray.size());
  }
  const size_t u = lines.unit;
  while (!bytes.empty()) {
    size_t end = std::min(BreakAt(bytes, u) + u, bytes.size());
    if (bytes.substr(end - u, u) == std::string_view("\r\0", u) &&
        bytes.substr(end, u) == std::string_view("\n\0", u)) {
      end += u;
    }
    lines.all.push_back(bytes.substr(0, end));
    bytes.remove_prefix(end);
  }
  return lines;
}

std::string_view TextOf(std::string_view line, size_t unit) {
  return line.substr(0, BreakAt(line, unit));
}

// Whether |after| is |before| with up to two lines added, or one line's
// value (after its first "=") replaced, or a break added to the last line.
bool OtherLinesKept(std::string_view before, std::string_view after) {
  Lines old_lines = SplitLines(before), new_lines = SplitLines(after);
  const auto &b = old_lines.all, &a = new_lines.all;
  const size_t u = old_lines.unit;
  if (old_lines.stray != new_lines.stray) return false;
  size_t p = 0, s = 0;
  while (p < b.size() && p < a.size() && b[p] == a[p]) ++p;
  while (s < b.size() - p && s < a.size() - p &&
         b[b.size() - 1 - s] == a[a.size() - 1 - s]) {
    ++s;
  }
  size_t removed = b.size() - p - s, added = a.size() - p - s;
  if (removed != 1 || added == 0) return removed == 0 && added <= 2;
  std::string_view was = b[p], now = a[p];
  size_t eq = was.find(std::string_view("=\0", u)) + u;
  return (added == 1 && eq >= u && now.substr(0, eq) == was.substr(0, eq) &&
          now.substr(TextOf(now, u).size()) ==
              was.substr(TextOf(was, u).size())) ||
         (added <= 3 && p + 1 == b.size() && TextOf(now, u) == was);
}

// Whether |after| keeps a byte order mark and every line reads as in
// |before|'s encoding.
bool EncodingKept(std::string_view before, std::string_view after) {
  for (std::string_view bom : {kUtf8Bom, kUtf16LeBom}) {
    if (before.starts_with(bom) != after.starts_with(bom)) return false;
  }
  TextEncoding old_encoding = DetectEncoding(before),
               encoding = DetectEncoding(after);
  if (old_encoding == encoding) return true;
  std::string old_text, text;
  Lines lines = SplitLines(after);
  return std::ranges::all_of(lines.all, [&](std::string_view line) {
    std::string_view line_text = TextOf(line, lines.unit);
    bool ok = Decode(old_encoding, line_text, &old_text);
    return Decode(encoding, line_text, &text) == ok &&
           (!ok || old_text == text);
  });
}

}  // namespace

std::string CheckSettingsFile(std::string_view file) {
  std::vector<std::pair<std::string, std::string>> names = {
      {"基本", "VIEW"}, {"設定", "01DIRNAMEFROM"}};
  std::vector<std::string> values = {"Off", "", "C:\\表\\ゾ", " x ", "'q'"};
  Lines lines = SplitLines(file);
  if (!lines.all.empty()) {
    values.emplace_back(TextOf(lines.all.back(), lines.unit));
  }
  const TextEncoding encoding = DetectEncoding(file);
  std::string section, text, after, again;
  for (std::string_view line : lines.all) {
    if (names.size() > 8 ||
        !Decode(encoding, TextOf(line, lines.unit), &text)) {
      continue;
    }
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
      if (!SetIniValue(file, section_name, key, value, "f", &after).ok()) {
        if (IsValidUtf8(file) && IsValidUtf8(value)) broken = "refused";
      } else if (FindIniValue(after, section_name, key) != value) {
        broken = "no read back";
      } else if ((void)SetIniValue(after, section_name, key, value, "f",
                                   &again),
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
