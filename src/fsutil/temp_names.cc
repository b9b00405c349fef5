#include "fsutil/temp_names.h"

#include <cstdio>

namespace dravelkent {
namespace {

constexpr std::string_view kFilePrefix = ".dravelkent-";
constexpr std::string_view kFileSuffix = ".tmp";
constexpr size_t kHexDigits = 16;
// The settings store saves "Dravelkent.ini" through "." + its name + "." +
// the six characters mkostemp puts in place of "XXXXXX".
constexpr std::string_view kSettingsPrefix = ".Dravelkent.ini.";
constexpr size_t kMkstempLetters = 6;

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z');
}

template <typename Pred>
bool AllOf(std::string_view text, Pred pred) {
  for (char c : text) {
    if (!pred(c)) return false;
  }
  return true;
}

}  // namespace

std::string FileTempName(uint64_t bits) {
  char hex[kHexDigits + 1];
  std::snprintf(hex, sizeof hex, "%016llx",
                static_cast<unsigned long long>(bits));
  return std::string(kFilePrefix) + hex + std::string(kFileSuffix);
}

bool IsOwnTemporaryName(std::string_view name) {
  if (name.size() == kFilePrefix.size() + kHexDigits + kFileSuffix.size() &&
      name.substr(0, kFilePrefix.size()) == kFilePrefix &&
      name.substr(name.size() - kFileSuffix.size()) == kFileSuffix) {
    return AllOf(name.substr(kFilePrefix.size(), kHexDigits), IsLowerHex);
  }
  return name.size() == kSettingsPrefix.size() + kMkstempLetters &&
         name.substr(0, kSettingsPrefix.size()) == kSettingsPrefix &&
         AllOf(name.substr(kSettingsPrefix.size()), IsAsciiAlnum);
}

}  // namespace dravelkent
