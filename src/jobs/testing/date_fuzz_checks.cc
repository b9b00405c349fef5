#include "jobs/testing/date_fuzz_checks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "jobs/date_arithmetic.h"
#include "jobs/expiry.h"

namespace dravelkent {
namespace {

// The name's date (its fields read by strtol, not by the code under test)
// plus |days| on the C library's calendar; false when it cannot tell.
bool Reference(std::string_view name, int days, struct tm* result) {
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
  if (seconds == static_cast<time_t>(-1)) return false;
  seconds += static_cast<time_t>(days) * 86400;
  return gmtime_r(&seconds, result) != nullptr;
}

}  // namespace

std::string CheckNameDate(std::string_view input) {
  if (input.size() < 4) return "";
  uint32_t raw = 0;
  std::memcpy(&raw, input.data(), 4);
  const int days = static_cast<int>(raw);
  const std::string_view name = input.substr(4);

  const std::string expires = AddDaysToDate(name, days);
  if (expires.size() != 8) return "not eight characters: " + expires;
  struct tm end;
  if (Reference(name, days, &end)) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d", end.tm_year + 1900,
                  end.tm_mon + 1, end.tm_mday);
    if (std::string(text).substr(0, 8) != expires) {
      return "calendar disagrees: " + expires + " vs " + text;
    }
  }
  // Where every date on the way has eight plain digits (years 1000 to 9999).
  auto plain = [name](int d) {
    struct tm r;
    return Reference(name, d, &r) && r.tm_year >= -900 && r.tm_year <= 8099;
  };
  const int half = days / 2;
  if (plain(0) && plain(half) && plain(days)) {
    const std::string normal = AddDaysToDate(name, 0);
    if (AddDaysToDate(normal, days) != expires) {
      return "normalising changed the result: " + normal;
    }
    if (AddDaysToDate(AddDaysToDate(normal, half), days - half) != expires) {
      return "two steps differ from one";
    }
  }

  ExpiryJob job;
  job.file_name = "app";
  job.kind = "log";
  job.today = "20261206";
  job.retention_days = static_cast<int>(raw % 10000);
  const std::string file(name);
  if (IsDatedCopy(job, file) && IsExpired(job, file) &&
      job.retention_days == 0) {
    return "expired without retention days: " + file;
  }
  return "";
}

}  // namespace dravelkent
