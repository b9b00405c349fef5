#include "settings/ini_text.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

// One line of the file as raw bytes: its text and its line ending (LF, CRLF,
// CR, or empty for a last line without a break). |begin| is the offset of
// the text in the file body.
struct RawLine {
  std::string_view text;
  std::string_view ending;
  size_t begin = 0;

  size_t end() const { return begin + text.size() + ending.size(); }
};

bool IsLineBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Splits a body into its lines, one at a time.
class LineReader {
 public:
  explicit LineReader(std::string_view body)
      : body_(body), next_cr_(Find('\r', 0)) {}

  // Moves on to the first line, from the next one on, whose first byte
  // other than blanks (space, tab, VT, FF) is |c|. Returns false, at the
  // end of the body, when there is none.
  bool SkipToLineStartingWith(char c) {
    size_t from = pos_;
    while (from < body_.size()) {
      size_t at = Find(c, from);
      if (at == body_.size()) break;
      size_t start = at;
      while (start > pos_ && IsLineBlank(body_[start - 1])) --start;
      if (start == pos_ || body_[start - 1] == '\n' ||
          body_[start - 1] == '\r') {
        pos_ = start;
        return true;
      }
      from = at + 1;
    }
    pos_ = body_.size();
    return false;
  }

  // Moves on to the first line, from the current one on, whose first byte
  // |wanted| takes, passing over the others without splitting them: their
  // line breaks are found sixteen bytes at a time where the processor
  // allows. Does nothing while a CR lies ahead (those lines are taken one
  // by one).
  template <typename Wanted>
  void SkipToLineWhoseFirstByteIs(Wanted wanted) {
    const size_t size = body_.size();
    if (pos_ >= size || next_cr_ != size) return;
    const char* p = body_.data();
    if (wanted(p[pos_])) return;
    size_t i = pos_;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    for (; size - i >= 16; i += 16) {
      const __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      unsigned breaks = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)));
      while (breaks != 0) {
        const size_t start = i + static_cast<size_t>(__builtin_ctz(breaks)) + 1;
        breaks &= breaks - 1;
        if (start == size || wanted(p[start])) {
          pos_ = start;
          return;
        }
      }
    }
#endif
    for (; i < size; ++i) {
      if (p[i] == '\n' && (i + 1 == size || wanted(p[i + 1]))) {
        pos_ = i + 1;
        return;
      }
    }
    pos_ = size;
  }

  // Reads the next line into |*line|. Returns false at the end of the body.
  bool Next(RawLine* line) {
    if (pos_ >= body_.size()) return false;
    const size_t begin = pos_;
    // The next CR is looked for only once the last one found is passed, so
    // a file without CRs is searched for them once; a per-byte search of
    // the pair of breaks is several times slower on many short lines.
    if (next_cr_ < begin) next_cr_ = Find('\r', begin);
    size_t stop = std::min(Find('\n', begin), next_cr_);
    size_t ending_size = 0;
    if (stop < body_.size()) {
      ending_size = body_[stop] == '\r' && stop + 1 < body_.size() &&
                            body_[stop + 1] == '\n'
                        ? 2
                        : 1;
    }
    line->begin = begin;
    line->text = body_.substr(begin, stop - begin);
    line->ending = body_.substr(stop, ending_size);
    pos_ = stop + ending_size;
    return true;
  }

 private:
  // Returns the position of the first |c| at or after |from|, or the size.
  size_t Find(char c, size_t from) const {
    const void* at = std::memchr(body_.data() + from, c, body_.size() - from);
    return at != nullptr ? static_cast<const char*>(at) - body_.data()
                         : body_.size();
  }

  std::string_view body_;
  size_t pos_ = 0;
  size_t next_cr_;  // the next CR, or the size; stale while below pos_
};

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

// What one decoded line says. |name| is the section or key name, |value| the
// value as read (trimmed, without surrounding quotes).
struct LineInfo {
  LineKind kind = LineKind::kOther;
  std::string_view name;
  std::string_view value;
};

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

LineInfo ClassifyLine(std::string_view text) {
  LineInfo info;
  std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty()) {
    info.kind = LineKind::kBlank;
  } else if (trimmed.front() == '[') {
    info.kind = LineKind::kSection;
    std::string_view rest = trimmed.substr(1);
    info.name = TrimBlanks(rest.substr(0, rest.find(']')));
  } else if (trimmed.front() == ';') {
    info.kind = LineKind::kComment;
  } else if (size_t eq = trimmed.find('='); eq != std::string_view::npos) {
    info.kind = LineKind::kKey;
    info.name = TrimBlanks(trimmed.substr(0, eq));
    info.value = Unquote(TrimBlanks(trimmed.substr(eq + 1)));
  }
  return info;
}

// The file's body: its bytes after a UTF-8 byte order mark.
std::string_view BodyOf(std::string_view file_bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8WithBom) {
    return file_bytes.substr(kUtf8Bom.size());
  }
  return file_bytes;
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

// Returns true when every line of |body| reads the same as UTF-8 and as
// CP932: it is ASCII, or valid in neither.
bool ReadsTheSameEitherWay(std::string_view body) {
  TextCodec cp932(TextEncoding::kCp932);
  LineReader lines(body);
  RawLine line;
  std::string text;
  while (lines.Next(&line)) {
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

// Where a write lands in the file, found in one pass over its lines.
struct WriteSite {
  bool section_found = false;
  bool key_found = false;
  RawLine key_line;           // the matching key line, when key_found
  bool key_value_same = false;  // it already reads as the new value
  RawLine last_filled_line;   // last non-blank line of the section
  std::string_view eol;       // the file's first line ending, or empty
  bool ends_without_break = false;  // the body's last line has no ending
  bool undecodable_seen = false;    // a line passed cannot be decoded
};

WriteSite FindWriteSite(std::string_view body, TextCodec* codec,
                        std::string_view section, std::string_view key,
                        std::string_view value) {
  WriteSite site;
  bool inside = false;
  LineReader lines(body);
  RawLine line;
  std::string text;
  while (lines.Next(&line)) {
    if (site.eol.empty()) site.eol = line.ending;
    site.ends_without_break = line.ending.empty();
    if (!codec->Decode(line.text, &text)) {
      // Kept as it is; it still counts as text of the section it is in.
      site.undecodable_seen = true;
      if (inside) site.last_filled_line = line;
      continue;
    }
    LineInfo info = ClassifyLine(text);
    if (info.kind == LineKind::kSection) {
      if (inside) return site;  // the first matching section ends here
      if (!site.section_found && NamesMatch(info.name, section)) {
        site.section_found = true;
        inside = true;
        site.last_filled_line = line;
      }
      continue;
    }
    if (!inside) continue;
    if (info.kind != LineKind::kBlank) site.last_filled_line = line;
    if (info.kind == LineKind::kKey && NamesMatch(info.name, key)) {
      site.key_found = true;
      site.key_line = line;
      site.key_value_same = info.value == value;
      return site;
    }
  }
  return site;
}

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// FindIniValue on a body that is valid UTF-8 as a whole. Every line of it
// then decodes to itself, so each line is judged in place, without a copy,
// and a line is looked at only as far as needed to tell it apart from the
// key asked for. |section| and |key| are trimmed. Gives what the general
// path gives.
std::optional<std::string> FindInUtf8Body(std::string_view body,
                                          std::string_view section,
                                          std::string_view key) {
  // The name of a key line ends at its first "=", so a key holding one
  // never matches.
  if (key.find('=') != std::string_view::npos) return std::nullopt;
  // Nor does one that starts like a comment.
  if (!key.empty() && key.front() == ';') return std::nullopt;
  const char key_first = key.empty() ? '=' : FoldCase(key.front());
  bool inside = false;
  LineReader lines(body);
  RawLine line;
  while (true) {
    if (!inside) {
      // Outside the section only section lines count: go from "[" to "[".
      if (!lines.SkipToLineStartingWith('[')) break;
    } else {
      // Inside, a line can be the key's or end the section only when its
      // first byte could start the key, a section or blanks.
      lines.SkipToLineWhoseFirstByteIs([key_first](char c) {
        return FoldCase(c) == key_first || c == '[' || IsLineBlank(c);
      });
    }
    if (!lines.Next(&line)) break;
    std::string_view text = line.text;
    size_t i = 0;
    while (i < text.size() && IsLineBlank(text[i])) ++i;
    if (i == text.size()) continue;
    // Most lines of the section differ from the key in their first byte.
    const char first = FoldCase(text[i]);
    if (first == '[') {
      if (inside) return std::nullopt;  // only the first match counts
      std::string_view rest = text.substr(i + 1);
      inside = NamesMatch(TrimBlanks(rest.substr(0, rest.find(']'))), section);
      continue;
    }
    // A key line of |key|: the key, blanks, "=". (A comment starts with
    // ";", which no key can start with.)
    if (first != key_first || text.size() - i < key.size() ||
        !NamesMatch(text.substr(i, key.size()), key)) {
      continue;
    }
    size_t eq = i + key.size();
    while (eq < text.size() && IsLineBlank(text[eq])) ++eq;
    if (eq < text.size() && text[eq] == '=') {
      return std::string(Unquote(TrimBlanks(text.substr(eq + 1))));
    }
  }
  return std::nullopt;
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

std::optional<std::string> FindIniValue(std::string_view file_bytes,
                                        std::string_view section,
                                        std::string_view key) {
  bool all_utf8 = false;
  TextEncoding encoding = DetectEncoding(file_bytes, &all_utf8);
  std::string_view body = BodyOf(file_bytes, encoding);
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  if (all_utf8 && encoding != TextEncoding::kCp932) {
    return FindInUtf8Body(body, section, key);
  }
  TextCodec codec(encoding);
  if (!codec.usable()) return std::nullopt;

  bool inside = false;
  LineReader lines(body);
  RawLine line;
  std::string text;
  while (lines.Next(&line)) {
    if (!codec.Decode(line.text, &text)) continue;
    LineInfo info = ClassifyLine(text);
    if (info.kind == LineKind::kSection) {
      if (inside) return std::nullopt;  // only the first match counts
      inside = NamesMatch(info.name, section);
    } else if (inside && info.kind == LineKind::kKey &&
               NamesMatch(info.name, key)) {
      return std::string(info.value);
    }
  }
  return std::nullopt;
}

UndecodableLines FindUndecodableLines(std::string_view file_bytes) {
  UndecodableLines found;
  TextEncoding encoding = DetectEncoding(file_bytes);
  TextCodec codec(encoding);
  if (!codec.usable()) return found;
  std::string_view body = BodyOf(file_bytes, encoding);
  LineReader lines(body);
  size_t number = 0;
  RawLine line;
  std::string text;
  while (lines.Next(&line)) {
    ++number;
    if (codec.Decode(line.text, &text)) continue;
    if (found.count++ == 0) found.first = number;
  }
  return found;
}

IniEditResult SetIniValue(std::string_view file_bytes, std::string_view section,
                          std::string_view key, std::string_view value,
                          std::string* new_bytes) {
  if (!IsWritable(section, key, value)) return IniEditResult::kMalformed;
  TextEncoding encoding = DetectEncoding(file_bytes);
  TextCodec codec(encoding);
  if (!codec.usable()) return IniEditResult::kUnknownEncoding;
  std::string_view body = BodyOf(file_bytes, encoding);
  size_t body_offset = file_bytes.size() - body.size();

  WriteSite site = FindWriteSite(body, &codec, TrimBlanks(section),
                                 TrimBlanks(key), value);
  std::string_view eol = site.eol.empty() ? "\n" : site.eol;

  std::string encoded_value;
  if (!codec.Encode(value, &encoded_value)) {
    return IniEditResult::kNotEncodable;
  }
  if (NeedsQuotes(value)) encoded_value = "\"" + encoded_value + "\"";
  if (site.key_found) {
    if (site.key_value_same) {
      new_bytes->assign(file_bytes);
      return IniEditResult::kDone;
    }
    // "=" (0x3D) is never part of a CP932 double-byte character, so the raw
    // bytes up to the first one are exactly the key part of the line.
    const RawLine& line = site.key_line;
    size_t key_part = body_offset + line.begin + line.text.find('=') + 1;
    new_bytes->assign(file_bytes.substr(0, key_part));
    new_bytes->append(encoded_value);
    new_bytes->append(line.ending);
    new_bytes->append(file_bytes.substr(body_offset + line.end()));
    // Added lines never change the file's encoding, but a replaced value
    // may have held what made it CP932 (or UTF-8). Lines that are ASCII or
    // valid in neither read the same either way.
    if (DetectEncoding(*new_bytes) != encoding &&
        !ReadsTheSameEitherWay(*new_bytes)) {
      return IniEditResult::kEncodingWouldChange;
    }
    return IniEditResult::kDone;
  }

  std::string encoded_key;
  if (!codec.Encode(key, &encoded_key)) return IniEditResult::kNotEncodable;
  std::string added;
  if (site.section_found) {
    const RawLine& after = site.last_filled_line;
    size_t at = body_offset + after.end();
    std::string_view line_eol = eol;
    if (eol == "\r" && at < file_bytes.size() && file_bytes[at] == '\n') {
      // A CR here would join the LF of the blank line that follows; the line
      // before ends in LF or CRLF, so the added one does too.
      line_eol = after.ending;
    }
    if (after.ending.empty()) added.append(eol);
    added.append(encoded_key).append("=").append(encoded_value);
    added.append(line_eol);
    new_bytes->assign(file_bytes.substr(0, at));
    new_bytes->append(added);
    new_bytes->append(file_bytes.substr(at));
    return IniEditResult::kDone;
  }

  // A line that cannot be decoded may be this very section, written in
  // another encoding: a new one would hide it and its keys for good.
  if (site.undecodable_seen) return IniEditResult::kUndecodableLines;
  std::string encoded_section;
  if (!codec.Encode(section, &encoded_section)) {
    return IniEditResult::kNotEncodable;
  }
  if (site.ends_without_break) added.append(eol);
  added.append("[").append(encoded_section).append("]").append(eol);
  added.append(encoded_key).append("=").append(encoded_value).append(eol);
  new_bytes->assign(file_bytes);
  new_bytes->append(added);
  return IniEditResult::kDone;
}

}  // namespace dravelkent
