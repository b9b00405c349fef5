#include "base/utf8.h"

namespace dravelkent {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

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
    if (!IsContinuation(static_cast<unsigned char>(bytes[i]))) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    size_t length = Utf8SequenceLength(bytes);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

}  // namespace dravelkent
