#include <cstdint>
#include <cstdio>
#include <string>

#include "jobs/testing/date_fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure =
      dravelkent::CheckNameDate({reinterpret_cast<const char*>(data), size});
  if (failure.empty()) return 0;
  std::fprintf(stderr, "name date check failed: %s\n", failure.c_str());
  __builtin_trap();
}
