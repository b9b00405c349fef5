#pragma once

#include <cstddef>
#include <string_view>

namespace dravelkent {

// Returns the length (1 to 4) of the well-formed UTF-8 sequence at the start
// of |bytes|, or 0 when |bytes| is empty or does not start with one.
// Overlong forms, surrogates and code points above U+10FFFF are not
// well-formed.
size_t Utf8SequenceLength(std::string_view bytes);

// Returns true when all of |bytes| is well-formed UTF-8 (the empty text
// included).
bool IsValidUtf8(std::string_view bytes);

}  // namespace dravelkent
