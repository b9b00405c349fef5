#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Reads |input| as a day count (its first four bytes, little endian) and a
// file name (the rest) and checks: AddDaysToDate gives eight characters and
// agrees with the C library's UTC calendar wherever that can tell; in plain
// years normalising first or adding in two steps changes nothing; the
// expiry's name tests do not crash. Returns "" or what broke.
std::string CheckNameDate(std::string_view input);

}  // namespace dravelkent
