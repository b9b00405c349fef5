#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Writes a few names (fixed ones and ones found in |file_bytes|) with a few
// values: each write must read back, change one value or add whole lines and
// keep every other byte and the encoding, and be refused only for a cause.
// Returns the first broken rule, or "". For the fuzz target and its replay.
std::string CheckSettingsFile(std::string_view file_bytes);

}  // namespace dravelkent
