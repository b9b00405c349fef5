#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Reads |input| as a day count (its first four bytes) and a file name (the
// rest), and checks AddDaysToDate on them against the C library's UTC
// calendar, and that the expiry's name tests do not fail on the name.
// Returns "" or what broke.
std::string CheckNameDate(std::string_view input);

}  // namespace dravelkent
