#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Reads |input| as a day count (its first four bytes, little endian) and a
// file name (the rest), and checks the dated-copy rules on them:
// AddDaysToDate gives eight characters, agrees with the C library's UTC
// calendar (timegm/gmtime_r on 64-bit time) wherever that can tell, and
// adding days in two steps equals adding them at once; the expiry's name
// tests neither crash nor call a copy expired without reason. Returns an
// empty text when every rule holds, else what broke.
std::string CheckNameDate(std::string_view input);

}  // namespace dravelkent
