#include "settings/testing/ini_fuzz_checks.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <vector>

#include "jobs/texts.h"
#include "settings/ini_text.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

// Names taken from one file at most; keeps one input quick.
constexpr size_t kMaxFoundNames = 5;

struct KeyName {
  std::string section;
  std::string key;
};

// Fixed values written besides those taken from the file: the program's
// own, an empty one, and Japanese text with a 0x5C and a "]" trail byte in
// CP932.
const std::string_view kFixedValues[] = {
    texts::kOff, "", "20261206", "C:\\表\\ゾ\\ログ", "x=y;z",
};

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

bool HasBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// One line of a file: [begin, text_end) is its text, [text_end, end) its
// line ending (LF, CRLF, lone CR or none).
struct Line {
  size_t begin;
  size_t text_end;
  size_t end;
};

std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t stop = bytes.find_first_of("\r\n", pos);
    if (stop == std::string_view::npos) {
      lines.push_back({pos, bytes.size(), bytes.size()});
      break;
    }
    size_t end = stop + 1;
    if (bytes[stop] == '\r' && end < bytes.size() && bytes[end] == '\n') ++end;
    lines.push_back({pos, stop, end});
    pos = end;
  }
  return lines;
}

std::string Show(const std::optional<std::string>& value) {
  return value ? "\"" + EscapeBytes(*value) + "\"" : "(missing)";
}

std::string ShowWrite(const KeyName& name, std::string_view value) {
  return "[" + EscapeBytes(name.section) + "] " + EscapeBytes(name.key) +
         "=\"" + EscapeBytes(value) + "\"";
}

bool SameName(const KeyName& a, const KeyName& b) {
  return NamesMatch(TrimBlanks(a.section), TrimBlanks(b.section)) &&
         NamesMatch(TrimBlanks(a.key), TrimBlanks(b.key));
}

// The names the checks read and write: the program's own, then up to
// kMaxFoundNames key names found in |file_bytes| with their sections, each
// also with a suffix that makes it a key the section lacks.
std::vector<KeyName> NamesToProbe(std::string_view file_bytes) {
  std::vector<KeyName> names = {
      {texts::kBasicSection, texts::kView},
      {texts::kBasicSection, texts::kTimestamp},
      {texts::kJobSection, std::string("01") + texts::kDirNameFrom},
      {texts::kJobSection, std::string("01") + texts::kKind},
      {texts::kHiddenSection, std::string("01") + texts::kDeleteAll},
      {"新しい節", "NEW"},
  };
  TextEncoding encoding = DetectEncoding(file_bytes);
  TextCodec codec(encoding);
  if (encoding == TextEncoding::kUtf8WithBom) {
    file_bytes.remove_prefix(kUtf8Bom.size());
  }
  std::string section;
  std::string text;
  size_t found = 0;
  for (const Line& line : SplitLines(file_bytes)) {
    if (found == kMaxFoundNames) break;
    std::string_view raw =
        file_bytes.substr(line.begin, line.text_end - line.begin);
    if (!codec.Decode(raw, &text)) continue;
    std::string_view trimmed = TrimBlanks(text);
    if (trimmed.empty() || trimmed.front() == ';') continue;
    if (trimmed.front() == '[') {
      std::string_view rest = trimmed.substr(1);
      section = std::string(TrimBlanks(rest.substr(0, rest.find(']'))));
      continue;
    }
    size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key(TrimBlanks(trimmed.substr(0, eq)));
    names.push_back({section, key});
    names.push_back({section, key + "_2"});
    ++found;
  }
  return names;
}

// Values taken from |file_bytes|: the raw bytes of its last line and the
// text after the first "=" of its first line, decoded.
std::vector<std::string> ValuesFrom(std::string_view file_bytes) {
  std::vector<std::string> values;
  std::vector<Line> lines = SplitLines(file_bytes);
  if (lines.empty()) return values;
  const Line& last = lines.back();
  values.emplace_back(
      file_bytes.substr(last.begin, last.text_end - last.begin));
  TextCodec codec(DetectEncoding(file_bytes));
  std::string first;
  std::string_view raw = file_bytes.substr(0, lines.front().text_end);
  if (codec.Decode(raw, &first) && first.find('=') != std::string::npos) {
    values.push_back(first.substr(first.find('=') + 1));
  }
  return values;
}

// Returns true when |after| is |before| with the text after the first "="
// of one line replaced (line endings untouched), or with whole lines
// inserted at a line boundary (after a break added to a last line that
// lacked one). Otherwise says why not in |*why|.
bool KeepsAllOtherBytes(std::string_view before, std::string_view after,
                        std::string* why) {
  if (before == after) return true;
  // A byte order mark is no line of its own, but text may follow it.
  size_t body_start =
      DetectEncoding(before) == TextEncoding::kUtf8WithBom ? kUtf8Bom.size()
                                                            : 0;
  size_t n = before.size();
  size_t m = after.size();
  size_t shorter = std::min(n, m);
  size_t prefix = 0;
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < shorter &&
         before[n - 1 - suffix] == after[m - 1 - suffix]) {
    ++suffix;
  }
  size_t kept_suffix = std::min(suffix, shorter - prefix);
  std::string_view removed = before.substr(prefix, n - kept_suffix - prefix);
  std::string_view added = after.substr(prefix, m - kept_suffix - prefix);

  // A value replaced within one line, after that line's first "=".
  if (!HasBreak(removed) && !HasBreak(added)) {
    for (const Line& line : SplitLines(before)) {
      if (prefix < line.begin || prefix > line.text_end) continue;
      size_t eq = before.find('=', line.begin);
      if (eq < prefix && n - kept_suffix <= line.text_end) return true;
      break;
    }
  }

  // Whole lines inserted at some position |at| that the common prefix and
  // suffix allow.
  if (removed.empty()) {
    size_t length = m - n;
    size_t first = n - std::min(suffix, n);
    for (size_t at = first; at <= prefix; ++at) {
      std::string_view inserted = after.substr(at, length);
      if (at < body_start) continue;
      bool at_line_start = at == body_start || IsBreak(before[at - 1]);
      if (at == n && !at_line_start) {
        // Appended to a last line without a break: it must get one.
        at_line_start = IsBreak(inserted.front());
      }
      if (!at_line_start || !IsBreak(inserted.back())) continue;
      if (at > 0 && at < n && before[at - 1] == '\r' && before[at] == '\n') {
        continue;  // would split a CRLF
      }
      if (at < n && inserted.back() == '\r' && before[at] == '\n') {
        continue;  // would join the next line's LF to the inserted CR
      }
      return true;
    }
  }
  *why = "the write changed more than one value or whole lines: \"" +
         EscapeBytes(removed) + "\" became \"" + EscapeBytes(added) +
         "\" at byte " + std::to_string(prefix);
  return false;
}

// Returns true when SetIniValue may give |result| for this write: the
// documented refusals where they apply, and success otherwise; a CP932 file
// may also lack a character, a file of mixed lines change its encoding
// without the old value, and a file with lines that cannot be decoded
// refuse a new section.
bool IsSoundResult(IniEditResult result, std::string_view file_bytes,
                   const KeyName& name, std::string_view value) {
  std::string_view key = TrimBlanks(name.key);
  if (HasBreak(name.section) || HasBreak(name.key) || HasBreak(value) ||
      name.section.find(']') != std::string::npos ||
      name.key.find('=') != std::string::npos ||
      (!key.empty() && (key.front() == '[' || key.front() == ';'))) {
    return result == IniEditResult::kMalformed;
  }
  TextEncoding encoding = DetectEncoding(file_bytes);
  if (encoding == TextEncoding::kUtf16) {
    return result == IniEditResult::kUnknownEncoding;
  }
  if (!IsValidUtf8(name.section) || !IsValidUtf8(name.key) ||
      !IsValidUtf8(value)) {
    return result == IniEditResult::kNotEncodable;
  }
  if (result == IniEditResult::kUndecodableLines) {
    return FindUndecodableLines(file_bytes).count > 0;
  }
  if (encoding == TextEncoding::kCp932) {
    return result == IniEditResult::kDone ||
           result == IniEditResult::kNotEncodable ||
           result == IniEditResult::kEncodingWouldChange;
  }
  // A UTF-8 file with lines of CP932 may turn CP932 without the old value.
  if (result == IniEditResult::kEncodingWouldChange) {
    return !IsValidUtf8(file_bytes);
  }
  return result == IniEditResult::kDone;
}

class Checker {
 public:
  explicit Checker(std::string_view file_bytes)
      : file_(file_bytes), names_(NamesToProbe(file_bytes)) {
    for (const KeyName& name : names_) {
      values_before_.push_back(FindIniValue(file_, name.section, name.key));
    }
  }

  // Returns the first broken rule, or the empty text.
  std::string Run() {
    for (size_t i = 0; i < names_.size() && failure_.empty(); ++i) {
      const std::optional<std::string>& value = values_before_[i];
      if (value && !IsValidUtf8(*value)) {
        Fail("read of " + ShowWrite(names_[i], "") + " gave bytes that are "
             "not UTF-8: " + Show(value));
      }
    }
    std::vector<std::string> found_values = ValuesFrom(file_);
    for (size_t i = 0; i < names_.size() && failure_.empty(); ++i) {
      // Each name gets a fixed value or one taken from the file, which one
      // depending on the file, and its own value written back.
      size_t pick = i + file_.size();
      if (pick % 2 == 1 && !found_values.empty()) {
        CheckWrite(names_[i], found_values[pick / 2 % found_values.size()]);
      } else {
        CheckWrite(names_[i], kFixedValues[pick / 2 % std::size(kFixedValues)]);
      }
      if (values_before_[i]) CheckWrite(names_[i], *values_before_[i]);
    }
    return failure_;
  }

 private:
  void Fail(const std::string& what) {
    if (failure_.empty()) failure_ = what;
  }

  void CheckWrite(const KeyName& name, std::string_view value) {
    if (!failure_.empty()) return;
    std::string after;
    IniEditResult result =
        SetIniValue(file_, name.section, name.key, value, &after);
    if (!IsSoundResult(result, file_, name, value)) {
      Fail("write of " + ShowWrite(name, value) + " gave result " +
           std::to_string(static_cast<int>(result)));
      return;
    }
    if (result != IniEditResult::kDone) return;

    auto context = [&] {
      return "write of " + ShowWrite(name, value) + " made \"" +
             EscapeBytes(after) + "\": ";
    };
    std::optional<std::string> read_back =
        FindIniValue(after, name.section, name.key);
    if (read_back != value) {
      Fail(context() + "the key reads back as " + Show(read_back));
      return;
    }
    std::optional<std::string> old_value =
        FindIniValue(file_, name.section, name.key);
    if (old_value == value && after != file_) {
      Fail(context() + "the key held this value already");
      return;
    }
    if (after == file_) return;  // nothing else can have changed
    std::string again;
    if (SetIniValue(after, name.section, name.key, value, &again) !=
            IniEditResult::kDone ||
        again != after) {
      Fail(context() + "writing it again gave \"" + EscapeBytes(again) + "\"");
      return;
    }
    std::string why;
    if (!KeepsAllOtherBytes(file_, after, &why)) {
      Fail(context() + why);
      return;
    }
    // Added lines move them, but their number stays.
    size_t bad_before = FindUndecodableLines(file_).count;
    size_t bad_after = FindUndecodableLines(after).count;
    if (bad_after != bad_before) {
      Fail(context() + std::to_string(bad_before) + " lines could not be "
           "decoded before, " + std::to_string(bad_after) + " after");
      return;
    }
    for (size_t i = 0; i < names_.size(); ++i) {
      if (SameName(names_[i], name)) continue;
      std::optional<std::string> other =
          FindIniValue(after, names_[i].section, names_[i].key);
      if (other != values_before_[i]) {
        Fail(context() + "the other key " + ShowWrite(names_[i], "") +
             " read " + Show(values_before_[i]) + " before and " +
             Show(other) + " after");
        return;
      }
    }
  }

  std::string_view file_;
  std::vector<KeyName> names_;
  std::vector<std::optional<std::string>> values_before_;
  std::string failure_;
};

}  // namespace

std::string CheckSettingsFile(std::string_view file_bytes) {
  return Checker(file_bytes).Run();
}

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace dravelkent
