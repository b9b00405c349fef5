#include "base/utf8.h"

namespace dravelkent {
namespace {

void AppendUtf8(char32_t code_point, std::string* text) {
  auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (code_point < 0x80) {
    text->push_back(byte(code_point));
  } else if (code_point < 0x800) {
    text->push_back(byte(0xC0 | (code_point >> 6)));
    text->push_back(byte(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    text->push_back(byte(0xE0 | (code_point >> 12)));
    text->push_back(byte(0x80 | ((code_point >> 6) & 0x3F)));
    text->push_back(byte(0x80 | (code_point & 0x3F)));
  } else {
    text->push_back(byte(0xF0 | (code_point >> 18)));
    text->push_back(byte(0x80 | ((code_point >> 12) & 0x3F)));
    text->push_back(byte(0x80 | ((code_point >> 6) & 0x3F)));
    text->push_back(byte(0x80 | (code_point & 0x3F)));
  }
}

void AppendUtf16Le(char32_t unit, std::string* bytes) {
  bytes->push_back(static_cast<char>(unit & 0xFF));
  bytes->push_back(static_cast<char>(unit >> 8));
}

}  // namespace

size_t Utf8SequenceLength(std::string_view bytes) {
  if (bytes.empty()) return 0;
  unsigned char lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return 1;
  size_t length = 0;
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
    return 0;
  }
  if (bytes.size() < length) return 0;
  unsigned char second = static_cast<unsigned char>(bytes[1]);
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;  // ASCII, the most of a settings file
      continue;
    }
    const size_t length = Utf8SequenceLength(bytes.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool Utf16LeToUtf8(std::string_view bytes, std::string* text) {
  if (bytes.size() % 2 != 0) return false;
  auto unit_at = [bytes](size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                 static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  text->clear();
  for (size_t i = 0; i < bytes.size(); i += 2) {
    char32_t unit = unit_at(i);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;  // a lone low half
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      char32_t low = i + 2 < bytes.size() ? unit_at(i + 2) : 0;
      if (low < 0xDC00 || low > 0xDFFF) return false;  // a lone high half
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(unit, text);
  }
  return true;
}

bool Utf8ToUtf16Le(std::string_view text, std::string* bytes) {
  bytes->clear();
  while (!text.empty()) {
    size_t length = Utf8SequenceLength(text);
    if (length == 0) return false;
    char32_t code_point = static_cast<unsigned char>(text[0]);
    if (length > 1) code_point &= 0x7F >> length;  // the lead byte's bits
    for (size_t i = 1; i < length; ++i) {
      code_point =
          code_point << 6 | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    text.remove_prefix(length);
    if (code_point < 0x10000) {
      AppendUtf16Le(code_point, bytes);
    } else {
      AppendUtf16Le(0xD800 + ((code_point - 0x10000) >> 10), bytes);
      AppendUtf16Le(0xDC00 + ((code_point - 0x10000) & 0x3FF), bytes);
    }
  }
  return true;
}

}  // namespace dravelkent
