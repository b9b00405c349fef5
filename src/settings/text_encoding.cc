#include "settings/text_encoding.h"

#include <cstddef>

#include "base/cp932.h"
#include "base/utf8.h"

namespace dravelkent {
namespace {

bool IsLineBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Returns true when the raw |line| reads as a section or key line. Its
// first byte other than blanks starts a character, and "=" is never part of
// one in UTF-8 or CP932, so the answer holds in either encoding.
bool IsSectionOrKeyLine(std::string_view line) {
  size_t first = 0;
  while (first < line.size() && IsLineBlank(line[first])) ++first;
  if (first == line.size() || line[first] == ';') return false;
  return line[first] == '[' || line.find('=') != std::string_view::npos;
}

}  // namespace

TextEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) return TextEncoding::kUtf8WithBom;
  if (bytes.starts_with(kUtf16LeBom)) return TextEncoding::kUtf16Le;
  if (bytes.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
  if (IsValidUtf8(bytes)) return TextEncoding::kUtf8;

  // Lines valid in only one of the two encodings; lines valid in both (all
  // ASCII ones among them) weigh the same either way.
  const TextCodec cp932(TextEncoding::kCp932);
  size_t utf8_only = 0;
  size_t cp932_only = 0;
  std::string text;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t stop = bytes.find_first_of("\r\n", pos);
    if (stop == std::string_view::npos) stop = bytes.size();
    std::string_view line = bytes.substr(pos, stop - pos);
    pos = stop + 1;  // a CRLF leaves an empty line, which decides nothing
    if (!IsSectionOrKeyLine(line)) continue;
    bool is_utf8 = IsValidUtf8(line);
    bool is_cp932 = cp932.usable() ? cp932.Decode(line, &text) : !is_utf8;
    if (is_utf8 && !is_cp932) ++utf8_only;
    if (is_cp932 && !is_utf8) ++cp932_only;
  }
  return cp932_only > utf8_only ? TextEncoding::kCp932 : TextEncoding::kUtf8;
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
