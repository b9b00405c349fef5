#include "settings/ini_text.h"

#include <cstddef>

#include "base/utf8.h"

namespace dravelkent {
namespace {

// One line of a text as raw bytes: its text and its line ending (LF,
// CRLF, CR, or empty for a last line without a break).
struct RawLine {
  std::string_view text;
  std::string_view ending;
};

// Returns the size in bytes of a code unit of |encoding|: 2 in UTF-16, else
// 1. ASCII characters are one code unit each, and in UTF-8 and CP932 their
// bytes are never part of another character at the places looked at here.
size_t UnitSize(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf16Le ? 2 : 1;
}

// Returns the ASCII character that the code unit at offset |i| of the raw
// |text| is, code units being |unit| bytes; 0 for any other unit or half a
// unit.
char AsciiAt(std::string_view text, size_t i, size_t unit) {
  if (i + unit > text.size() || (unit == 2 && text[i + 1] != '\0')) return 0;
  return static_cast<unsigned char>(text[i]) < 0x80 ? text[i] : 0;
}

// Returns the offset of the first code unit of the raw |text| that is the
// ASCII |c|, or npos.
size_t FindAscii(std::string_view text, char c, size_t unit) {
  for (size_t i = 0; i < text.size(); i += unit) {
    if (AsciiAt(text, i, unit) == c) return i;
  }
  return std::string_view::npos;
}

// Returns the lines of |body|, split at LF, CRLF and lone CR code units.
std::vector<RawLine> SplitLines(std::string_view body, size_t unit) {
  std::vector<RawLine> lines;
  size_t begin = 0;
  size_t i = 0;
  while (i < body.size()) {
    char c = AsciiAt(body, i, unit);
    if (c != '\r' && c != '\n') {
      i += unit;
      continue;
    }
    size_t ending_size = unit;
    if (c == '\r' && AsciiAt(body, i + unit, unit) == '\n') ending_size += unit;
    lines.push_back(
        {body.substr(begin, i - begin), body.substr(i, ending_size)});
    i += ending_size;
    begin = i;
  }
  if (begin < body.size()) lines.push_back({body.substr(begin), {}});
  return lines;
}

// Returns the part of |file_bytes| that holds its lines: all but a byte
// order mark and, in UTF-16, a stray last byte (half a code unit), which
// belongs to no line and stays last.
std::string_view BodyOf(std::string_view file_bytes, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8WithBom:
      return file_bytes.substr(kUtf8Bom.size());
    case TextEncoding::kUtf16Le: {
      std::string_view body = file_bytes.substr(kUtf16LeBom.size());
      return body.substr(0, body.size() - body.size() % 2);
    }
    default:
      return file_bytes;
  }
}

bool IsLineBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Returns true when the raw |text| of a line would be a section or a key
// line whatever its other characters: its first code unit other than
// blanks is "[", or it holds "=" and does not start with ";".
bool LooksLikeSectionOrKey(std::string_view text, size_t unit) {
  size_t first = 0;
  while (first < text.size() && IsLineBlank(AsciiAt(text, first, unit))) {
    first += unit;
  }
  char c = AsciiAt(text, first, unit);
  if (first >= text.size() || c == ';') return false;
  return c == '[' || FindAscii(text, '=', unit) != std::string_view::npos;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Fills in the kind, name and value of |*line| from its decoded |text|.
void ClassifyLine(std::string_view text, IniLine* line) {
  std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty()) {
    line->kind = IniLineKind::kBlank;
  } else if (trimmed.front() == '[') {
    line->kind = IniLineKind::kSection;
    std::string_view rest = trimmed.substr(1);
    line->name = TrimBlanks(rest.substr(0, rest.find(']')));
  } else if (trimmed.front() == ';') {
    line->kind = IniLineKind::kComment;
  } else if (size_t eq = trimmed.find('='); eq != std::string_view::npos) {
    line->kind = IniLineKind::kKey;
    line->name = TrimBlanks(trimmed.substr(0, eq));
    line->value = Unquote(TrimBlanks(trimmed.substr(eq + 1)));
  } else {
    line->kind = IniLineKind::kOther;
  }
}

// Returns true when |value| written after "=" as it is would not read back
// as |value|: reading drops blanks at its ends and one pair of surrounding
// quotes.
bool NeedsQuotes(std::string_view value) {
  return TrimBlanks(value).size() != value.size() || Unquote(value) != value;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Returns true when every line of |bytes| reads the same as UTF-8 and as
// CP932: it is ASCII, or valid in neither.
bool ReadsTheSameEitherWay(std::string_view bytes) {
  const TextCodec cp932(TextEncoding::kCp932);
  std::string text;
  for (const RawLine& line : SplitLines(bytes, 1)) {
    if (IsAscii(line.text)) continue;
    if (IsValidUtf8(line.text) || !cp932.usable() ||
        cp932.Decode(line.text, &text)) {
      return false;
    }
  }
  return true;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsWritable(std::string_view section, std::string_view key,
                std::string_view value) {
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
    return false;
  }
  if (section.find(']') != std::string_view::npos) return false;
  if (key.find('=') != std::string_view::npos) return false;
  std::string_view trimmed_key = TrimBlanks(key);
  return trimmed_key.empty() ||
         (trimmed_key.front() != '[' && trimmed_key.front() != ';');
}

// Where a write lands in the file.
struct WriteSite {
  bool section_found = false;
  const IniLine* key_line = nullptr;  // the matching key line, if any
  bool key_value_same = false;        // it already reads as the new value
  const IniLine* last_filled_line = nullptr;  // of the section, once found
};

WriteSite FindWriteSite(const IniFile& file, std::string_view section,
                        std::string_view key, std::string_view value) {
  WriteSite site;
  for (const IniLine& line : file.lines) {
    if (line.kind == IniLineKind::kSection) {
      if (site.section_found) break;  // the first matching section ends here
      if (NamesMatch(line.name, section)) {
        site.section_found = true;
        site.last_filled_line = &line;
      }
      continue;
    }
    if (!site.section_found) continue;
    // A line that cannot be decoded is kept as it is; it still counts as
    // text of the section it is in.
    if (line.kind != IniLineKind::kBlank) site.last_filled_line = &line;
    if (line.kind == IniLineKind::kKey && NamesMatch(line.name, key)) {
      site.key_line = &line;
      site.key_value_same = line.value == value;
      break;
    }
  }
  return site;
}

std::string_view TextOf(std::string_view file_bytes, const IniLine& line) {
  return file_bytes.substr(line.begin, line.text_size);
}

std::string_view EndingOf(std::string_view file_bytes, const IniLine& line) {
  return file_bytes.substr(line.begin + line.text_size, line.ending_size);
}

// Returns true when |line| of |file| (whose bytes are |file_bytes|) cannot
// be decoded and may be a section or key line: a comment cannot be a section.
bool IsUndecodableSectionOrKey(std::string_view file_bytes, const IniFile& file,
                               const IniLine& line) {
  return line.kind == IniLineKind::kUndecodable &&
         LooksLikeSectionOrKey(TextOf(file_bytes, line),
                               UnitSize(file.encoding));
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool NamesMatch(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

IniFile ParseIniFile(std::string_view file_bytes) {
  IniFile file;
  file.encoding = DetectEncoding(file_bytes);
  const TextCodec codec(file.encoding);
  file.readable = codec.usable();
  if (!file.readable) return file;
  const std::string_view body = BodyOf(file_bytes, file.encoding);
  const size_t body_offset =
      static_cast<size_t>(body.data() - file_bytes.data());
  std::string text;
  for (const RawLine& raw : SplitLines(body, UnitSize(file.encoding))) {
    IniLine& line = file.lines.emplace_back();
    line.begin =
        body_offset + static_cast<size_t>(raw.text.data() - body.data());
    line.text_size = raw.text.size();
    line.ending_size = raw.ending.size();
    if (codec.Decode(raw.text, &text)) {
      ClassifyLine(text, &line);
    } else {
      line.kind = IniLineKind::kUndecodable;
    }
  }
  return file;
}

std::optional<std::string> FindIniValue(const IniFile& file,
                                        std::string_view section,
                                        std::string_view key) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  bool inside = false;
  for (const IniLine& line : file.lines) {
    if (line.kind == IniLineKind::kSection) {
      if (inside) return std::nullopt;  // only the first match counts
      inside = NamesMatch(line.name, section);
    } else if (inside && line.kind == IniLineKind::kKey &&
               NamesMatch(line.name, key)) {
      return line.value;
    }
  }
  return std::nullopt;
}

std::optional<std::string> FindIniValue(std::string_view file_bytes,
                                        std::string_view section,
                                        std::string_view key) {
  return FindIniValue(ParseIniFile(file_bytes), section, key);
}

UndecodableLines FindUndecodableLines(std::string_view file_bytes) {
  UndecodableLines found;
  IniFile file = ParseIniFile(file_bytes);
  for (size_t i = 0; i < file.lines.size(); ++i) {
    if (!IsUndecodableSectionOrKey(file_bytes, file, file.lines[i])) continue;
    if (found.count++ == 0) found.first = i + 1;
  }
  return found;
}

IniEditResult SetIniValue(std::string_view file_bytes, std::string_view section,
                          std::string_view key, std::string_view value,
                          std::string* new_bytes) {
  if (!IsWritable(section, key, value)) return IniEditResult::kMalformed;
  const IniFile file = ParseIniFile(file_bytes);
  if (!file.readable) return IniEditResult::kUnknownEncoding;
  const TextCodec codec(file.encoding);
  const size_t unit = UnitSize(file.encoding);

  WriteSite site =
      FindWriteSite(file, TrimBlanks(section), TrimBlanks(key), value);
  std::string lf;
  std::string cr;
  if (!codec.Encode("\n", &lf) || !codec.Encode("\r", &cr)) {
    return IniEditResult::kUnknownEncoding;
  }
  // The file's first line ending, LF when it has none.
  std::string_view eol = lf;
  if (!file.lines.empty() && file.lines.front().ending_size > 0) {
    eol = EndingOf(file_bytes, file.lines.front());
  }

  std::string encoded_value;
  if (!codec.Encode(NeedsQuotes(value) ? "\"" + std::string(value) + "\""
                                       : std::string(value),
                    &encoded_value)) {
    return IniEditResult::kNotEncodable;
  }
  if (site.key_line != nullptr) {
    if (site.key_value_same) {
      new_bytes->assign(file_bytes);
      return IniEditResult::kDone;
    }
    // The raw bytes up to the first "=" code unit are exactly the key part
    // of the line.
    const IniLine& line = *site.key_line;
    size_t key_part =
        line.begin + FindAscii(TextOf(file_bytes, line), '=', unit) + unit;
    new_bytes->assign(file_bytes.substr(0, key_part));
    new_bytes->append(encoded_value);
    new_bytes->append(EndingOf(file_bytes, line));
    new_bytes->append(file_bytes.substr(line.end()));
    // Added lines never change the file's encoding, but a replaced value
    // may have held what made it CP932 (or UTF-8). Lines that are ASCII or
    // valid in neither read the same either way.
    if (DetectEncoding(*new_bytes) != file.encoding &&
        !ReadsTheSameEitherWay(*new_bytes)) {
      return IniEditResult::kEncodingWouldChange;
    }
    return IniEditResult::kDone;
  }

  std::string key_line;
  if (!codec.Encode(std::string(key) + "=", &key_line)) {
    return IniEditResult::kNotEncodable;
  }
  key_line.append(encoded_value);
  std::string added;
  size_t at = 0;
  if (site.section_found) {
    const IniLine& after = *site.last_filled_line;
    const std::string_view after_ending = EndingOf(file_bytes, after);
    at = after.end();
    std::string_view line_eol = eol;
    if (eol == cr && file_bytes.substr(at).starts_with(lf)) {
      // A CR here would join the LF of the blank line that follows; the line
      // before ends in LF or CRLF, so the added one does too.
      line_eol = after_ending;
    }
    if (after_ending.empty()) added.append(eol);
    added.append(key_line).append(line_eol);
  } else {
    // A line that cannot be decoded may be this very section, written in
    // another encoding: a new one would hide it and its keys for good.
    for (const IniLine& line : file.lines) {
      if (IsUndecodableSectionOrKey(file_bytes, file, line)) {
        return IniEditResult::kUndecodableLines;
      }
    }
    std::string section_line;
    if (!codec.Encode("[" + std::string(section) + "]", &section_line)) {
      return IniEditResult::kNotEncodable;
    }
    const std::string_view body = BodyOf(file_bytes, file.encoding);
    at = static_cast<size_t>(body.data() - file_bytes.data()) + body.size();
    if (!file.lines.empty() && file.lines.back().ending_size == 0) {
      added.append(eol);
    }
    added.append(section_line).append(eol).append(key_line).append(eol);
  }
  new_bytes->assign(file_bytes.substr(0, at));
  new_bytes->append(added);
  new_bytes->append(file_bytes.substr(at));
  return IniEditResult::kDone;
}

}  // namespace dravelkent
