#include "fsutil/temp_names.h"

#include <cstdio>

namespace dravelkent {
namespace {

constexpr std::string_view kFilePrefix = ".dravelkent-";
constexpr std::string_view kFileSuffix = ".tmp";
constexpr size_t kHexDigits = 16;

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string FileTempName(uint64_t bits) {
  char hex[kHexDigits + 1];
  std::snprintf(hex, sizeof hex, "%016llx",
                static_cast<unsigned long long>(bits));
  return std::string(kFilePrefix) + hex + std::string(kFileSuffix);
}

bool IsOwnTemporaryName(std::string_view name) {
  if (name.size() != kFilePrefix.size() + kHexDigits + kFileSuffix.size() ||
      !name.starts_with(kFilePrefix) || !name.ends_with(kFileSuffix)) {
    return false;
  }
  for (char c : name.substr(kFilePrefix.size(), kHexDigits)) {
    if (!IsLowerHex(c)) return false;
  }
  return true;
}

}  // namespace dravelkent
