#include "fsutil/name_pattern.h"

namespace dravelkent {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Returns the length in bytes of the character at |pos| of |text|: the
// length of a well-formed UTF-8 sequence, else 1.
size_t CharLength(std::string_view text, size_t pos) {
  unsigned char lead = static_cast<unsigned char>(text[pos]);
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 1;
  if (pos + length > text.size()) return 1;
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(static_cast<unsigned char>(text[pos + i]))) return 1;
  }
  return length;
}

bool Matches(std::string_view pattern, std::string_view name) {
  size_t p = 0;
  size_t n = 0;
  // Where the last "*" was met, and where its run in |name| ends so far.
  size_t star = std::string_view::npos;
  size_t star_end = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_end = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += CharLength(name, n);
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      // Let the last "*" take one more character and try again from there.
      star_end += CharLength(name, star_end);
      n = star_end;
      p = star + 1;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesNamePattern(std::string_view pattern, std::string_view name) {
  if (Matches(pattern, name)) return true;
  return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
         name.find('.') == std::string_view::npos &&
         Matches(pattern.substr(0, pattern.size() - 2), name);
}

}  // namespace dravelkent
