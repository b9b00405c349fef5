#pragma once

#include <string_view>

#include "fsutil/env.h"

namespace dravelkent {

// Returns whether the entry name |name| matches the search pattern
// |pattern|: "*" matches any run of characters (none included), "?" exactly
// one character (one well-formed UTF-8 sequence as Utf8SequenceLength tells,
// else a single byte), and every other byte only itself, ASCII letters
// without regard to case where |name_case| says so. A pattern that ends in
// ".*" also matches names without a ".", so "*.*" matches every name, "."
// and ".." included.
bool MatchesNamePattern(std::string_view pattern, std::string_view name,
                        NameCase name_case);

}  // namespace dravelkent
