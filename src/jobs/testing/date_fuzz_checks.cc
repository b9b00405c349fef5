#include "jobs/testing/date_fuzz_checks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "jobs/dates.h"
#include "jobs/job_engine.h"

namespace dravelkent {

std::string CheckNameDate(std::string_view input) {
  if (input.size() < 4) return "";
  int32_t days = 0;
  std::memcpy(&days, input.data(), 4);
  const std::string name(input.substr(4));
  const Job job{"", "", "app", "log", days & 0x1fff};
  if (IsDatedCopy(job, name)) (void)IsExpired(job, "20261206", name);
  const std::string expires = AddDaysToDate(name, days);
  if (expires.size() != 8) return "not eight characters: " + expires;

  // The reference reads the fields with atoi, not as the code under test.
  auto field = [&](size_t offset, size_t length) {
    return offset < name.size() ? std::atoi(name.substr(offset, length).c_str())
                                : 0;
  };
  struct tm fields = {};
  fields.tm_year = field(0, 4) - 1900;
  fields.tm_mon = field(4, 2) - 1;
  fields.tm_mday = field(6, 2);
  fields.tm_hour = 1;
  time_t seconds = timegm(&fields) + static_cast<time_t>(days) * 86400;
  char reference[64];
  if (gmtime_r(&seconds, &fields) == nullptr) return "";
  std::snprintf(reference, sizeof reference, "%04d%02d%02d",
                fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday);
  if (expires == std::string(reference).substr(0, 8)) return "";
  return "calendar disagrees: " + expires + " vs " + reference;
}

}  // namespace dravelkent
