#pragma once

#include <string_view>

namespace dravelkent {

// Returns true when |name| matches |pattern|, byte for byte and
// case-sensitive: "*" matches any run of bytes, "?" exactly one. A pattern
// that ends in ".*" also matches names without a dot that match the pattern
// without its ".*" (so "*.*" matches every name).
bool MatchesPattern(std::string_view pattern, std::string_view name);

}  // namespace dravelkent
