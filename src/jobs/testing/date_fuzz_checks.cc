#include "jobs/testing/date_fuzz_checks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "jobs/dates.h"
#include "jobs/job_engine.h"

namespace dravelkent {
namespace {

static_assert(sizeof(time_t) == 8, "the C library's calendar must span it");

// The name's date (its fields read by strtol, not by the code under test)
// plus |days| on the C library's calendar as "%04d%02d%02d" (not cut), or
// "" when the C library cannot tell.
std::string Reference(std::string_view name, int days) {
  auto field = [name](size_t offset, size_t length) {
    if (offset >= name.size()) return 0L;
    return std::strtol(std::string(name.substr(offset, length)).c_str(),
                       nullptr, 10);
  };
  struct tm fields = {};
  fields.tm_year = static_cast<int>(field(0, 4)) - 1900;
  fields.tm_mon = static_cast<int>(field(4, 2)) - 1;
  fields.tm_mday = static_cast<int>(field(6, 2));
  fields.tm_hour = fields.tm_min = fields.tm_sec = 1;
  time_t seconds = timegm(&fields);
  if (seconds == static_cast<time_t>(-1)) return "";
  seconds += static_cast<time_t>(days) * 86400;
  if (gmtime_r(&seconds, &fields) == nullptr) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday);
  return text;
}

}  // namespace

std::string CheckNameDate(std::string_view input) {
  if (input.size() < 4) return "";
  uint32_t raw = 0;
  std::memcpy(&raw, input.data(), 4);
  const int days = static_cast<int>(raw), half = days / 2;
  const std::string_view name = input.substr(4);

  const std::string expires = AddDaysToDate(name, days);
  if (expires.size() != 8) return "not eight characters: " + expires;
  const std::string reference = Reference(name, days).substr(0, 8);
  if (!reference.empty() && reference != expires) {
    return "calendar disagrees: " + expires + " vs " + reference;
  }
  // Where the dates are eight plain digits (years 1000 to 9999):
  auto plain = [name](int d) {
    const std::string date = Reference(name, d);
    return date.size() == 8 && date[0] >= '1' && date[0] <= '9';
  };
  if (plain(0) && plain(half) && plain(days)) {
    const std::string normal = AddDaysToDate(name, 0);
    if (AddDaysToDate(normal, days) != expires) {
      return "normalising changed the result: " + normal;
    }
    if (AddDaysToDate(AddDaysToDate(normal, half), days - half) != expires) {
      return "two steps differ from one";
    }
  }
  // A copy kept by no retention is never expired; none of it may crash.
  const Job job{"", "", "app", "log", static_cast<int>(raw % 10000)};
  const std::string file(name);
  if (IsDatedCopy(job, file) && IsExpired(job, "20261206", file) &&
      raw % 10000 == 0) {
    return "expired without retention days: " + file;
  }
  return "";
}

}  // namespace dravelkent
