#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dravelkent {

// Returns ".dravelkent-", the random |bits| as 16 lower-case hex, ".tmp".
std::string FileTempName(uint64_t bits);

// Returns true when the entry name |name| has the exact form of a
// FileTempName, as a killed run can leave behind.
bool IsOwnTemporaryName(std::string_view name);

}  // namespace dravelkent
