#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dravelkent {

// Returns the name of the file layer's temporary file for the random
// |bits|: ".dravelkent-", sixteen lower-case hex digits, ".tmp".
std::string FileTempName(uint64_t bits);

// Returns true when the entry name |name| is one of the program's own
// temporary files (a FileTempName), which a killed run can leave behind:
// those of copies and of settings saves alike. Judged by the exact form, so
// that a user's own dot files, however alike, are never taken for one.
bool IsOwnTemporaryName(std::string_view name);

}  // namespace dravelkent
