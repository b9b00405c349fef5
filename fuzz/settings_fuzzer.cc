// Feeds arbitrary bytes to the settings reader and writer as the contents of
// a settings file, and stops at the first broken rule (see
// CheckSettingsFile).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "settings/testing/ini_fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure = dravelkent::CheckSettingsFile(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!failure.empty()) {
    std::fprintf(stderr, "settings check failed: %s\n", failure.c_str());
    __builtin_trap();
  }
  return 0;
}
