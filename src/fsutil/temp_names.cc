#include "fsutil/temp_names.h"

#include <cstdio>

namespace dravelkent {
namespace {

constexpr std::string_view kFilePrefix = ".dravelkent-";
constexpr std::string_view kFileSuffix = ".tmp";
constexpr size_t kHexDigits = 16;

}  // namespace

std::string FileTempName(uint64_t bits) {
  char hex[kHexDigits + 1];
  std::snprintf(hex, sizeof hex, "%016llx",
                static_cast<unsigned long long>(bits));
  return std::string(kFilePrefix) + hex + std::string(kFileSuffix);
}

bool IsOwnTemporaryName(std::string_view name) {
  return name.size() == kFilePrefix.size() + kHexDigits + kFileSuffix.size() &&
         name.starts_with(kFilePrefix) && name.ends_with(kFileSuffix) &&
         name.substr(kFilePrefix.size(), kHexDigits)
                 .find_first_not_of("0123456789abcdef") ==
             std::string_view::npos;
}

}  // namespace dravelkent
