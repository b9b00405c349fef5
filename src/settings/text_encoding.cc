#include "settings/text_encoding.h"

#include <algorithm>
#include <cstddef>

#include "base/cp932.h"
#include "base/utf8.h"
#include "settings/ini_text.h"

namespace dravelkent {
namespace {

// The sections the jobs read (jobs/texts.h), in UTF-8 and in CP932 bytes.
constexpr std::string_view kOwnSectionsUtf8[] = {"基本", "設定", "裏設定"};
constexpr std::string_view kOwnSectionsCp932[] = {
    "\x8A\xEE\x96\x7B", "\x90\xDD\x92\xE8", "\x97\xA0\x90\xDD\x92\xE8"};

// Returns the name of the section the raw |line| opens, trimmed, or "" when
// it opens none. "[", "]" and blanks are never part of another character
// in UTF-8 or CP932, so the name's bytes are the same either way.
std::string_view RawSectionName(std::string_view line) {
  std::string_view trimmed = TrimBlanks(line);
  if (!trimmed.starts_with('[')) return {};
  std::string_view rest = trimmed.substr(1);
  return TrimBlanks(rest.substr(0, rest.find(']')));
}

bool IsOneOf(std::string_view name, const std::string_view (&names)[3]) {
  return std::ranges::find(names, name) != std::end(names);
}

struct Votes {
  size_t utf8 = 0;
  size_t cp932 = 0;
};

}  // namespace

TextEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) return TextEncoding::kUtf8WithBom;
  if (bytes.starts_with(kUtf16LeBom)) return TextEncoding::kUtf16Le;
  if (bytes.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
  if (IsValidUtf8(bytes)) return TextEncoding::kUtf8;

  const TextCodec cp932(TextEncoding::kCp932);
  const bool has_cp932 = cp932.usable();
  Votes sections;
  Votes lines;  // of lines valid in only one of the two encodings
  std::string text;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t stop = bytes.find_first_of("\r\n", pos);
    if (stop == std::string_view::npos) stop = bytes.size();
    std::string_view line = bytes.substr(pos, stop - pos);
    pos = stop + 1;  // a CRLF leaves an empty line, which votes for neither
    std::string_view name = RawSectionName(line);
    if (IsOneOf(name, kOwnSectionsUtf8)) ++sections.utf8;
    if (IsOneOf(name, kOwnSectionsCp932)) ++sections.cp932;
    bool is_utf8 = IsValidUtf8(line);
    bool is_cp932 = has_cp932 ? cp932.Decode(line, &text) : !is_utf8;
    if (is_utf8 && !is_cp932) ++lines.utf8;
    if (is_cp932 && !is_utf8) ++lines.cp932;
  }
  const Votes& votes = sections.utf8 + sections.cp932 > 0 ? sections : lines;
  return votes.cp932 > votes.utf8 ? TextEncoding::kCp932 : TextEncoding::kUtf8;
}

const char* EncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf8:
      return "UTF-8";
    case TextEncoding::kUtf8WithBom:
      return "UTF-8 with byte order mark";
    case TextEncoding::kCp932:
      return "CP932";
    case TextEncoding::kUtf16Le:
      return "UTF-16LE";
    case TextEncoding::kUtf16Be:
      return "UTF-16BE";
  }
  return "unknown";
}

bool TextCodec::usable() const {
  switch (encoding_) {
    case TextEncoding::kUtf8:
    case TextEncoding::kUtf8WithBom:
    case TextEncoding::kUtf16Le:
      return true;
    case TextEncoding::kCp932: {
      std::string text;
      return Cp932ToUtf8("", &text);
    }
    case TextEncoding::kUtf16Be:
      return false;
  }
  return false;
}

bool TextCodec::Decode(std::string_view bytes, std::string* text) const {
  switch (encoding_) {
    case TextEncoding::kUtf8:
    case TextEncoding::kUtf8WithBom:
      if (!IsValidUtf8(bytes)) return false;
      text->assign(bytes);
      return true;
    case TextEncoding::kCp932:
      return Cp932ToUtf8(bytes, text);
    case TextEncoding::kUtf16Le:
      return Utf16LeToUtf8(bytes, text);
    case TextEncoding::kUtf16Be:
      return false;
  }
  return false;
}

bool TextCodec::Encode(std::string_view text, std::string* bytes) const {
  switch (encoding_) {
    case TextEncoding::kUtf8:
    case TextEncoding::kUtf8WithBom:
      if (!IsValidUtf8(text)) return false;
      bytes->assign(text);
      return true;
    case TextEncoding::kCp932:
      return Utf8ToCp932(text, bytes);
    case TextEncoding::kUtf16Le:
      return Utf8ToUtf16Le(text, bytes);
    case TextEncoding::kUtf16Be:
      return false;
  }
  return false;
}

}  // namespace dravelkent
