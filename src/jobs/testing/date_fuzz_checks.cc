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

// The leading integer of up to |length| characters at |offset|, read by the
// C library rather than by the code under test.
long FieldByStrtol(std::string_view name, size_t offset, size_t length) {
  if (offset >= name.size()) return 0;
  std::string field(name.substr(offset, length));
  field = field.c_str();  // strtol stops at a NUL byte as well
  return std::strtol(field.c_str(), nullptr, 10);
}

// Fills |*result| with the date the C library's UTC calendar gives for the
// name's date plus |days|. Returns false when it cannot tell.
bool ReferenceFields(std::string_view name, int days, struct tm* result) {
  struct tm fields = {};
  fields.tm_year = static_cast<int>(FieldByStrtol(name, 0, 4)) - 1900;
  fields.tm_mon = static_cast<int>(FieldByStrtol(name, 4, 2)) - 1;
  fields.tm_mday = static_cast<int>(FieldByStrtol(name, 6, 2));
  fields.tm_hour = 1;
  fields.tm_min = 1;
  fields.tm_sec = 1;
  time_t seconds = timegm(&fields);
  if (seconds == static_cast<time_t>(-1)) return false;
  seconds += static_cast<time_t>(days) * 86400;
  return gmtime_r(&seconds, result) != nullptr;
}

// Returns the reference date text, or an empty text when it cannot tell.
std::string ReferenceDate(std::string_view name, int days) {
  struct tm result;
  if (!ReferenceFields(name, days, &result)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d", result.tm_year + 1900,
                result.tm_mon + 1, result.tm_mday);
  return std::string(text).substr(0, 8);
}

// Returns true when the name's date plus |days| lies in the years 1000 to
// 9999, whose date texts are eight plain digits that read back the same.
bool InPlainYears(std::string_view name, int days) {
  struct tm result;
  return ReferenceFields(name, days, &result) &&
         result.tm_year + 1900 >= 1000 && result.tm_year + 1900 <= 9999;
}

}  // namespace

std::string CheckNameDate(std::string_view input) {
  if (input.size() < 4) return std::string();
  uint32_t raw = 0;
  std::memcpy(&raw, input.data(), 4);
  const int days = static_cast<int>(raw);
  const std::string_view name = input.substr(4);

  const std::string expires = AddDaysToDate(name, days);
  if (expires.size() != 8) return "not eight characters: " + expires;
  const std::string reference = ReferenceDate(name, days);
  if (!reference.empty() && reference != expires) {
    return "calendar disagrees: " + expires + " vs " + reference;
  }

  // Normalising first changes nothing, and two steps make one.
  const std::string normal = AddDaysToDate(name, 0);
  const int half = days / 2;
  if (InPlainYears(name, 0) && InPlainYears(name, half) &&
      InPlainYears(name, days)) {
    if (AddDaysToDate(normal, days) != expires) {
      return "normalising changed the result: " + normal;
    }
    if (AddDaysToDate(AddDaysToDate(normal, half), days - half) != expires) {
      return "two steps differ from one";
    }
  }

  // The expiry's tests on the same name: a copy kept by its retention is
  // never called expired, and none of it may crash.
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
  return std::string();
}

}  // namespace dravelkent
