#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace dravelkent {

// Returns the leading integer of |text|: leading blanks and one sign
// allowed, then decimal digits; 0 when there are no digits. Saturates
// instead of overflowing.
long long LeadingInteger(std::string_view text);

// Returns |format| with each "%s" replaced, in order, by the next of
// |args|; the texts are never cut.
std::string FormatText(std::string_view format,
                       std::initializer_list<std::string_view> args);

// Returns |text| fit to be written as one line, from which a reader gets
// back its exact bytes:
// - a control byte (0x00 to 0x1F, 0x7F) becomes "\n", "\r", "\t" or "\xNN"
//   (upper-case hex digits);
// - a byte of no well-formed UTF-8 sequence becomes "\xNN", and a C1
//   control (U+0080 to U+009F) "\xC2\xNN";
// - the ">" of every "->" becomes "\x3E" (a " -> " set between two escaped
//   texts is then the line's only one), and a blank at the very end becomes
//   "\x20";
// - a backslash is doubled when the byte after it is a backslash, "n", "r",
//   "t", "x" or a byte escaped above, and kept single otherwise;
// - every other byte is kept.
// Read back, "\\" is a backslash, "\n", "\r", "\t" and "\xHH" the bytes
// they name, and a backslash before anything else a backslash.
std::string EscapeForLine(std::string_view text);

}  // namespace dravelkent
