// Feeds arbitrary bytes to the name-date reading of the expiry and to the
// date arithmetic, and stops at the first broken rule (see CheckNameDate).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "jobs/testing/date_fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure = dravelkent::CheckNameDate(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!failure.empty()) {
    std::fprintf(stderr, "name date check failed: %s\n", failure.c_str());
    __builtin_trap();
  }
  return 0;
}
