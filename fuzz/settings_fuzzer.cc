#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/testing/ini_fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = dravelkent::CheckSettingsFile(
      {reinterpret_cast<const char*>(data), size});
  if (failure.empty()) return 0;
  std::fprintf(stderr, "settings check failed: %s\n", failure.c_str());
  __builtin_trap();
}
