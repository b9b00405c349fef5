#pragma once

#include <string_view>

#include "fsutil/env.h"

namespace dravelkent {

// Returns whether the entry name |name| matches the search pattern
// |pattern|: "*" matches any run of characters, "?" exactly one (a UTF-8
// sequence, else a byte), every other byte only itself (ASCII letters
// without regard to case as |name_case| says). A pattern that ends in ".*"
// also matches names without a ".", so "*.*" matches every name.
bool MatchesNamePattern(std::string_view pattern, std::string_view name,
                        NameCase name_case);

}  // namespace dravelkent
