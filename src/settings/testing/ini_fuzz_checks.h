#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Writes names found in |file_bytes| and others: each write must read back,
// keep every other line and the encoding, and be refused only for a cause.
// Returns the first broken rule, or "". For the fuzz target and its replay.
std::string CheckSettingsFile(std::string_view file_bytes);

}  // namespace dravelkent
