#include "settings/text_encoding.h"

#include <cerrno>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dravelkent {
namespace {

const iconv_t kNoHandle = reinterpret_cast<iconv_t>(-1);

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    // ASCII 64 bytes at a time: settings files are mostly ASCII.
    while (n - i >= 64) {
#if defined(__SSE2__)
      const auto* at = reinterpret_cast<const __m128i*>(p + i);
      const __m128i low =
          _mm_or_si128(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
      const __m128i high =
          _mm_or_si128(_mm_loadu_si128(at + 2), _mm_loadu_si128(at + 3));
      const __m128i any = _mm_or_si128(low, high);
      if (_mm_movemask_epi8(any) != 0) break;
#else
      unsigned char any = 0;
      for (size_t k = 0; k < 64; ++k) any |= p[i + k];
      if (any & 0x80) break;
#endif
      i += 64;
    }
    if (i == n) break;
    unsigned char lead = p[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80;  // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (p[i + 1] < low || p[i + 1] > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if (!IsContinuation(p[i + k])) return false;
    }
    i += length;
  }
  return true;
}

TextEncoding DetectEncoding(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    return TextEncoding::kUtf8WithBom;
  }
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    return TextEncoding::kUtf16;
  }
  return IsValidUtf8(bytes) ? TextEncoding::kUtf8 : TextEncoding::kCp932;
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

bool TextCodec::Convert(iconv_t handle, std::string_view in,
                        std::string* out) {
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
