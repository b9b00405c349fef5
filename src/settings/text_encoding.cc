#include "settings/text_encoding.h"

#include <cerrno>
#include <cstddef>

namespace dravelkent {
namespace {

const iconv_t kNoHandle = reinterpret_cast<iconv_t>(-1);

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
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    return TextEncoding::kUtf8WithBom;
  }
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    return TextEncoding::kUtf16;
  }
  if (IsValidUtf8(bytes)) return TextEncoding::kUtf8;

  // Lines valid in only one of the two encodings; lines valid in both (all
  // ASCII ones among them) weigh the same either way.
  TextCodec cp932(TextEncoding::kCp932);
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
    case TextEncoding::kUtf16:
      return "UTF-16";
  }
  return "unknown";
}

TextCodec::TextCodec(TextEncoding encoding) : encoding_(encoding) {
  if (encoding_ == TextEncoding::kCp932) {
    to_utf8_ = iconv_open("UTF-8", "CP932");
    from_utf8_ = iconv_open("CP932", "UTF-8");
  }
}

TextCodec::~TextCodec() {
  if (to_utf8_ != kNoHandle) iconv_close(to_utf8_);
  if (from_utf8_ != kNoHandle) iconv_close(from_utf8_);
}

bool TextCodec::usable() const {
  switch (encoding_) {
    case TextEncoding::kUtf8:
    case TextEncoding::kUtf8WithBom:
      return true;
    case TextEncoding::kCp932:
      return to_utf8_ != kNoHandle && from_utf8_ != kNoHandle;
    case TextEncoding::kUtf16:
      return false;
  }
  return false;
}

bool TextCodec::Decode(std::string_view bytes, std::string* text) {
  if (!usable()) return false;
  if (encoding_ != TextEncoding::kCp932) {
    if (!IsValidUtf8(bytes)) return false;
    text->assign(bytes);
    return true;
  }
  return Convert(to_utf8_, bytes, text);
}

bool TextCodec::Encode(std::string_view text, std::string* bytes) {
  if (!usable() || !IsValidUtf8(text)) return false;
  if (encoding_ != TextEncoding::kCp932) {
    bytes->assign(text);
    return true;
  }
  return Convert(from_utf8_, text, bytes);
}

bool TextCodec::Convert(iconv_t handle, std::string_view in, std::string* out) {
  iconv(handle, nullptr, nullptr, nullptr, nullptr);  // fresh shift state
  out->clear();
  // Neither direction grows a text by more than half (two CP932 bytes become
  // at most three UTF-8 bytes), so one resize is nearly always enough.
  out->resize(in.size() + in.size() / 2 + 4);
  char* in_ptr = const_cast<char*>(in.data());
  size_t in_left = in.size();
  size_t used = 0;
  for (;;) {
    char* out_ptr = out->data() + used;
    size_t out_left = out->size() - used;
    size_t rc = iconv(handle, &in_ptr, &in_left, &out_ptr, &out_left);
    used = out->size() - out_left;
    if (rc != static_cast<size_t>(-1)) {
      // iconv counts characters it could only approximate; refuse those so
      // a write never puts a different text into the file.
      if (rc != 0) return false;
      break;
    }
    if (errno != E2BIG) return false;  // EILSEQ or EINVAL: not convertible
    out->resize(out->size() * 2 + 16);
  }
  out->resize(used);
  return true;
}

}  // namespace dravelkent
