#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Reads |input| as a day count (its first four bytes) and a file name (the
// rest) and checks AddDaysToDate against the C library's UTC calendar and
// itself, and that the expiry's name tests hold. Returns "" or what broke.
std::string CheckNameDate(std::string_view input);

}  // namespace dravelkent
