#include "fsutil/name_pattern.h"

#include <algorithm>
#include <cctype>

#include "base/utf8.h"

namespace dravelkent {
namespace {

// Returns the length of the UTF-8 sequence at |pos| of |text|, else 1.
size_t CharLength(std::string_view text, size_t pos) {
  return std::max<size_t>(Utf8SequenceLength(text.substr(pos)), 1);
}

bool Matches(std::string_view pattern, std::string_view name,
             NameCase name_case) {
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
    } else if (p < pattern.size() &&
               (pattern[p] == name[n] ||
                (name_case == NameCase::kInsensitive &&
                 std::tolower(static_cast<unsigned char>(pattern[p])) ==
                     std::tolower(static_cast<unsigned char>(name[n]))))) {
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

bool MatchesNamePattern(std::string_view pattern, std::string_view name,
                        NameCase name_case) {
  if (Matches(pattern, name, name_case)) return true;
  return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
         name.find('.') == std::string_view::npos &&
         Matches(pattern.substr(0, pattern.size() - 2), name, name_case);
}

}  // namespace dravelkent
