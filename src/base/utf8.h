#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravelkent {

// Returns the length (1 to 4) of the well-formed UTF-8 sequence at the start
// of |bytes|, or 0 when |bytes| is empty or does not start with one.
// Overlong forms, surrogates and code points above U+10FFFF are not
// well-formed.
size_t Utf8SequenceLength(std::string_view bytes);

// Returns true when all of |bytes| is well-formed UTF-8 ("" included).
bool IsValidUtf8(std::string_view bytes);

// Converts the UTF-16 little-endian |bytes| (no byte order mark) into UTF-8
// in |*text|. Returns false when |bytes| has an odd length or holds a
// surrogate that is not part of a pair.
bool Utf16LeToUtf8(std::string_view bytes, std::string* text);

// Converts the UTF-8 |text| into UTF-16 little-endian bytes (no byte order
// mark) in |*bytes|. Returns false when |text| is not valid UTF-8.
bool Utf8ToUtf16Le(std::string_view text, std::string* bytes);

}  // namespace dravelkent
