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

// Returns |text| fit to be written as one line on a terminal: each control
// byte (0x00 to 0x1F, 0x7F) becomes "\n", "\r", "\t" or "\xNN", so that a
// file name cannot break a line in two or steer the terminal. Every other
// byte is kept.
std::string EscapeControlBytes(std::string_view text);

}  // namespace dravelkent
