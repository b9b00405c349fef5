#include "jobs/dates.h"

#include <cstdint>
#include <cstdio>

#include "base/text_util.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Returns the days from 1970-01-01 to |year|-|month|-|day| (month 1 to 12,
// day 1 to 31) on the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = FloorDiv(year, 400);
  const int64_t year_of_era = year - era * 400;                     // 0 to 399
  const int64_t shifted_month = month > 2 ? month - 3 : month + 9;  // March 0
  const int64_t day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
  const int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// Returns the leading integer of the |length| characters at |offset|.
int64_t Field(std::string_view text, size_t offset, size_t length) {
  if (offset >= text.size()) return 0;
  return LeadingInteger(text.substr(offset, length));
}

}  // namespace

std::string AddDaysToDate(std::string_view date_text, int days) {
  // The month carries into the year first; the day counts from its first.
  const int64_t month_index = Field(date_text, 4, 2) - 1;
  const int64_t year = Field(date_text, 0, 4) + FloorDiv(month_index, 12);
  const int64_t month = month_index - FloorDiv(month_index, 12) * 12 + 1;
  int64_t day_number =
      DaysFromCivil(year, month, 1) + Field(date_text, 6, 2) - 1 + days;

  // Back from the day number to the civil date.
  day_number += 719468;
  const int64_t era = FloorDiv(day_number, 146097);
  const int64_t day_of_era = day_number - era * 146097;  // 0 to 146096
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 +
                               day_of_era / 36524 - day_of_era / 146096) /
                              365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // March 0
  const int64_t result_month =
      shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  char text[64];
  std::snprintf(
      text, sizeof text, "%04lld%02lld%02lld",
      static_cast<long long>(year_of_era + era * 400 + (result_month <= 2)),
      static_cast<long long>(result_month),
      static_cast<long long>(day_of_year - (153 * shifted_month + 2) / 5 + 1));
  return std::string(text).substr(0, 8);
}

std::string FormatDateText(const CivilDate& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month,
                date.day);
  return std::string(text).substr(0, 8);
}

RunDates SettleRunDates(const std::string& today,
                        const std::string& timestamp) {
  const long long n = LeadingInteger(timestamp);
  const bool plausible = n >= 19600000 && n <= 29000000;
  return {today, timestamp, plausible ? timestamp.substr(0, 8) : today,
          timestamp == texts::kForcedTimestamp};
}

bool RotationDue(const RunDates& dates) {
  return dates.last_run_date != dates.today || dates.forced;
}

bool ExpiryDue(const RunDates& dates, int retention_days) {
  return (dates.last_run_date != dates.today && retention_days != 0) ||
         dates.forced;
}

}  // namespace dravelkent
