#include "settings/ini_text.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "base/cp932.h"
#include "base/utf8.h"

namespace dravelkent {
namespace {

// The sections the jobs read (jobs/texts.h), in UTF-8 and in CP932 bytes.
constexpr std::string_view kOwnSections[2][3] = {
    {"基本", "設定", "裏設定"},
    {"\x8A\xEE\x96\x7B", "\x90\xDD\x92\xE8", "\x97\xA0\x90\xDD\x92\xE8"}};

// kUndecodable: a section or key line that does not decode; kOther: any
// other line that holds text, decoded or not.
enum class LineKind { kBlank, kSection, kKey, kOther, kUndecodable };

struct Line {
  size_t begin = 0;  // offsets in the file's bytes
  size_t text_size = 0;
  size_t ending_size = 0;  // of the LF, CRLF or CR; 0 for none
  LineKind kind = LineKind::kOther;
  std::string name;        // of a section or key, trimmed, in UTF-8
  std::string value;       // of a key, as read, in UTF-8
  size_t value_begin = 0;  // of a key: just after its "="

  size_t end() const { return begin + text_size + ending_size; }
};

struct IniFile {
  TextEncoding encoding = TextEncoding::kUtf8;
  bool readable = false;  // else there are no lines
  size_t lines_end = 0;   // before a stray last byte of UTF-16
  std::vector<Line> lines;
};

// Returns the lines of |text|, split at LF, CRLF and lone CR, with their
// offsets times |unit| plus |offset|.
std::vector<Line> SplitLines(std::string_view text, size_t unit = 1,
                             size_t offset = 0) {
  std::vector<Line> lines;
  for (size_t begin = 0; begin < text.size();) {
    const size_t stop =
        std::min(text.find_first_of("\r\n", begin), text.size());
    size_t ending = stop < text.size() ? 1 : 0;
    if (text.substr(stop, 2) == "\r\n") ending = 2;
    Line& line = lines.emplace_back();
    line.begin = offset + begin * unit;
    line.text_size = (stop - begin) * unit;
    line.ending_size = ending * unit;
    begin = stop + ending;
  }
  return lines;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Fills in the kind, name and value of |*line| from its |text|.
void Classify(std::string_view text, Line* line) {
  const std::string_view trimmed = TrimBlanks(text);
  const size_t eq = trimmed.find('=');
  if (trimmed.empty()) {
    line->kind = LineKind::kBlank;
  } else if (trimmed[0] == '[') {
    line->kind = LineKind::kSection;
    line->name = TrimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
  } else if (trimmed[0] != ';' && eq != std::string_view::npos) {
    line->kind = LineKind::kKey;
    line->name = TrimBlanks(trimmed.substr(0, eq));
    line->value = Unquote(TrimBlanks(trimmed.substr(eq + 1)));
  } else {
    line->kind = LineKind::kOther;
  }
}

bool CanConvert(TextEncoding encoding) {
  std::string text;
  return Decode(encoding, "", &text);
}

IniFile ParseIniFile(std::string_view bytes) {
  IniFile file;
  file.encoding = DetectEncoding(bytes);
  file.readable = CanConvert(file.encoding);
  if (!file.readable) return file;
  const size_t unit = file.encoding == TextEncoding::kUtf16Le ? 2 : 1;
  size_t bom = unit == 2 ? kUtf16LeBom.size() : 0;
  if (file.encoding == TextEncoding::kUtf8WithBom) bom = kUtf8Bom.size();
  // One character a code unit: the ASCII one it is, else "?"; line breaks,
  // "[" and "=" are never part of another character in UTF-8 or CP932.
  std::string ascii;
  for (size_t i = bom; i + unit <= bytes.size(); i += unit) {
    const bool is_ascii = static_cast<unsigned char>(bytes[i]) < 0x80 &&
                          (unit == 1 || bytes[i + 1] == '\0');
    ascii += is_ascii ? bytes[i] : '?';
  }
  file.lines_end = bom + ascii.size() * unit;
  file.lines = SplitLines(ascii, unit, bom);
  std::string text;
  for (Line& line : file.lines) {
    const std::string_view units = std::string_view(ascii).substr(
        (line.begin - bom) / unit, line.text_size / unit);
    if (Decode(file.encoding, bytes.substr(line.begin, line.text_size),
               &text)) {
      Classify(text, &line);
      line.value_begin = line.begin + (units.find('=') + 1) * unit;
    } else {
      Classify(units, &line);
      const bool named =
          line.kind == LineKind::kSection || line.kind == LineKind::kKey;
      line.kind = named ? LineKind::kUndecodable : LineKind::kOther;
    }
  }
  return file;
}

bool NamesMatch(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  return std::ranges::equal(a, b, {}, lower, lower);
}

// Where a key of a section is: its line, else (when the section is there)
// the section's last line that is not blank.
struct Site {
  const Line* key = nullptr;
  const Line* last_filled = nullptr;
};

Site FindSite(const IniFile& file, std::string_view section,
              std::string_view key) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  Site site;
  for (const Line& line : file.lines) {
    if (line.kind == LineKind::kSection) {
      if (site.last_filled != nullptr) break;  // only the first match counts
      if (NamesMatch(line.name, section)) site.last_filled = &line;
    } else if (site.last_filled != nullptr && line.kind != LineKind::kBlank) {
      site.last_filled = &line;
      if (line.kind == LineKind::kKey && NamesMatch(line.name, key)) {
        site.key = &line;
        break;
      }
    }
  }
  return site;
}

// Returns how many lines of |file| are kUndecodable, and the first's number.
std::pair<size_t, size_t> CountUndecodable(const IniFile& file) {
  std::pair<size_t, size_t> found = {0, 0};
  for (size_t i = 0; i < file.lines.size(); ++i) {
    if (file.lines[i].kind != LineKind::kUndecodable) continue;
    if (found.first++ == 0) found.second = i + 1;
  }
  return found;
}

// Returns true when every line of |bytes| reads the same in UTF-8 and in
// CP932: it is ASCII, or valid in neither.
bool ReadsTheSameEitherWay(std::string_view bytes) {
  std::string utf8, cp932;
  return std::ranges::all_of(SplitLines(bytes), [&](const Line& line) {
    const std::string_view text = bytes.substr(line.begin, line.text_size);
    const bool valid = Decode(TextEncoding::kUtf8, text, &utf8);
    return Decode(TextEncoding::kCp932, text, &cp932) == valid &&
           (!valid || utf8 == cp932);
  });
}

}  // namespace

TextEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) return TextEncoding::kUtf8WithBom;
  if (bytes.starts_with(kUtf16LeBom)) return TextEncoding::kUtf16Le;
  if (bytes.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
  if (IsValidUtf8(bytes)) return TextEncoding::kUtf8;
  const bool has_cp932 = CanConvert(TextEncoding::kCp932);
  size_t sections[2] = {}, lines[2] = {};  // votes for UTF-8, for CP932
  std::string text;
  for (Line& line : SplitLines(bytes)) {
    const std::string_view raw = bytes.substr(line.begin, line.text_size);
    // A section's name has the same bytes in UTF-8 and CP932 lines alike.
    Classify(raw, &line);
    for (int i : {0, 1}) {
      sections[i] += line.kind == LineKind::kSection &&
                     std::ranges::count(kOwnSections[i], line.name) > 0;
    }
    const bool utf8 = IsValidUtf8(raw);
    const bool cp932 = has_cp932 ? Cp932ToUtf8(raw, &text) : !utf8;
    if (utf8 != cp932) ++lines[cp932];
  }
  const size_t* votes = sections[0] + sections[1] > 0 ? sections : lines;
  return votes[1] > votes[0] ? TextEncoding::kCp932 : TextEncoding::kUtf8;
}

const char* EncodingName(TextEncoding encoding) {
  constexpr const char* kNames[] = {"UTF-8", "UTF-8 with byte order mark",
                                    "CP932", "UTF-16LE", "UTF-16BE"};
  return kNames[static_cast<int>(encoding)];
}

bool Decode(TextEncoding encoding, std::string_view bytes, std::string* text) {
  if (encoding == TextEncoding::kCp932) return Cp932ToUtf8(bytes, text);
  if (encoding == TextEncoding::kUtf16Le) return Utf16LeToUtf8(bytes, text);
  text->assign(bytes);
  return encoding != TextEncoding::kUtf16Be && IsValidUtf8(bytes);
}

bool Encode(TextEncoding encoding, std::string_view text, std::string* bytes) {
  if (encoding == TextEncoding::kCp932) return Utf8ToCp932(text, bytes);
  if (encoding == TextEncoding::kUtf16Le) return Utf8ToUtf16Le(text, bytes);
  return Decode(encoding, text, bytes);
}

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::optional<std::string> FindIniValue(std::string_view file_bytes,
                                        std::string_view section,
                                        std::string_view key) {
  // A run reads its file some hundred times, mostly unchanged.
  thread_local std::string parsed_bytes;
  thread_local IniFile parsed = ParseIniFile("");
  if (file_bytes != parsed_bytes) {
    parsed = ParseIniFile(file_bytes);
    parsed_bytes = file_bytes;
  }
  const Line* line = FindSite(parsed, section, key).key;
  if (line == nullptr) return std::nullopt;
  return line->value;
}

Status CheckIniText(std::string_view file_bytes, const std::string& path) {
  const IniFile file = ParseIniFile(file_bytes);
  const std::string encoding = EncodingName(file.encoding);
  if (!file.readable) {
    return Status::Error("cannot read " + path + ": text in " + encoding +
                         " cannot be read");
  }
  const auto [count, first] = CountUndecodable(file);
  if (count == 0) return Status::Ok();
  const std::string where =
      count == 1 ? "line " + std::to_string(first) + " of " + path
                 : std::to_string(count) + " lines of " + path +
                       " (the first is line " + std::to_string(first) + ")";
  return Status::Error("cannot read " + where + ": not valid " + encoding +
                       (count == 1
                            ? "; it is ignored and kept as it is"
                            : "; they are ignored and kept as they are"));
}

Status SetIniValue(std::string_view file_bytes, std::string_view section,
                   std::string_view key, std::string_view value,
                   const std::string& path, std::string* new_bytes) {
  const std::string head = "cannot write " + std::string(key) + " in [" +
                           std::string(section) + "] of " + path + ": ";
  const std::string_view trimmed_key = TrimBlanks(key);
  bool malformed = section.find(']') != std::string_view::npos ||
                   key.find('=') != std::string_view::npos ||
                   trimmed_key.starts_with('[') || trimmed_key.starts_with(';');
  for (std::string_view text : {section, key, value}) {
    malformed |= text.find_first_of("\r\n") != std::string_view::npos;
  }
  if (malformed) {
    return Status::Error(head + "the name or the value would not read back");
  }
  const IniFile file = ParseIniFile(file_bytes);
  const TextEncoding encoding = file.encoding;
  const std::string name = EncodingName(encoding);
  if (!file.readable) {
    return Status::Error(head + "the file's encoding (" + name +
                         ") cannot be written");
  }
  const Status not_encodable = Status::Error(
      head + "the value has no form in the file's encoding (" + name + ")");
  // A value that reads back only inside quotes.
  const bool quoted =
      TrimBlanks(value).size() != value.size() || Unquote(value) != value;
  std::string encoded_value;
  if (!Encode(encoding,
              quoted ? "\"" + std::string(value) + "\"" : std::string(value),
              &encoded_value)) {
    return not_encodable;
  }
  const Site site = FindSite(file, section, key);
  if (site.key != nullptr) {
    const Line& line = *site.key;
    new_bytes->assign(file_bytes);
    if (line.value == value) return Status::Ok();
    new_bytes->replace(line.value_begin,
                       line.begin + line.text_size - line.value_begin,
                       encoded_value);
    // Added lines never change the file's encoding, but a replaced value
    // may have held what made it CP932 (or UTF-8).
    if (DetectEncoding(*new_bytes) != encoding &&
        !ReadsTheSameEitherWay(*new_bytes)) {
      return Status::Error(
          head + "the file is " + name +
          " only because of the old value; without it the file would read "
          "as " +
          (encoding == TextEncoding::kCp932 ? "UTF-8" : "CP932") +
          " and its other lines would change");
    }
    return Status::Ok();
  }

  std::string added;
  if (!Encode(encoding, std::string(key) + "=", &added)) return not_encodable;
  added += encoded_value;
  std::string section_line;
  if (site.last_filled == nullptr) {
    // A line that cannot be decoded may be this very section.
    if (const auto [count, first] = CountUndecodable(file); count > 0) {
      return Status::Error(
          head + "the section is not in the file, and " +
          std::to_string(count) + " of its lines (the first is line " +
          std::to_string(first) + ") are not valid " + name +
          "; one of them may be the section, so none is added");
    }
    if (!Encode(encoding, "[" + std::string(section) + "]", &section_line)) {
      return not_encodable;
    }
  }
  const size_t unit = encoding == TextEncoding::kUtf16Le ? 2 : 1;
  const std::string lf("\n\0", unit), cr("\r\0", unit);
  auto ending_of = [&](const Line& line) {
    return file_bytes.substr(line.begin + line.text_size, line.ending_size);
  };
  const std::string_view eol =
      file.lines.empty() || file.lines[0].ending_size == 0
          ? lf
          : ending_of(file.lines[0]);
  const Line* before = site.last_filled;
  if (before == nullptr && !file.lines.empty()) before = &file.lines.back();
  const size_t at = before != nullptr ? before->end() : file.lines_end;
  // A CR before the LF of a blank line would join it: the line before ends
  // in LF or CRLF, and the added one the same way.
  const std::string_view last_eol =
      eol == cr && file_bytes.substr(at).starts_with(lf) ? ending_of(*before)
                                                         : eol;
  new_bytes->assign(file_bytes.substr(0, at));
  if (before != nullptr && before->ending_size == 0) *new_bytes += eol;
  if (!section_line.empty()) new_bytes->append(section_line).append(eol);
  new_bytes->append(added).append(last_eol).append(file_bytes.substr(at));
  return Status::Ok();
}

}  // namespace dravelkent
