#include "jobs/dates.h"

#include <cstdint>
#include <cstdio>

#include "base/text_util.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// The leading integers of a plausible TIMESTAMP.
constexpr long long kEarliestLastRun = 19600000;
constexpr long long kLatestLastRun = 29000000;

// Every value below stays far inside int64_t: the fields come from at most
// four characters (-999 to 9999) and |days| is an int, so a day count never
// exceeds a few billion.

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Returns the number of days from 1970-01-01 to |year|-|month|-|day|, for
// |month| 1 to 12 and |day| 1 to 31, on the proleptic Gregorian calendar.
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

struct Ymd {
  int64_t year;
  int64_t month;  // 1 to 12
  int64_t day;    // 1 to 31
};

// The inverse of DaysFromCivil.
Ymd CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t day_of_era = days - era * 146097;  // 0 to 146096
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 +
                               day_of_era / 36524 - day_of_era / 146096) /
                              365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // March 0
  Ymd result;
  result.day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  result.month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  result.year = year_of_era + era * 400 + (result.month <= 2 ? 1 : 0);
  return result;
}

// Returns the leading integer of the |length| characters at |offset|, or of
// what there is of them.
int64_t Field(std::string_view text, size_t offset, size_t length) {
  if (offset >= text.size()) return 0;
  return LeadingInteger(text.substr(offset, length));
}

}  // namespace

std::string AddDaysToDate(std::string_view date_text, int days) {
  const int64_t year = Field(date_text, 0, 4);
  const int64_t month = Field(date_text, 4, 2);
  const int64_t day = Field(date_text, 6, 2);

  // Carry the month into the year first, then count the day from the first
  // of that month, as the calendar conversion does.
  const int64_t month_index = month - 1;
  const int64_t carried_year = year + FloorDiv(month_index, 12);
  const int64_t month_in_year = month_index - FloorDiv(month_index, 12) * 12;
  const int64_t day_number =
      DaysFromCivil(carried_year, month_in_year + 1, 1) + (day - 1) + days;

  const Ymd result = CivilFromDays(day_number);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld%02lld%02lld",
                static_cast<long long>(result.year),
                static_cast<long long>(result.month),
                static_cast<long long>(result.day));
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
  RunDates dates;
  dates.today = today;
  dates.timestamp = timestamp;
  dates.forced =
      timestamp == texts::kForcedTimestamp ? Forced::kYes : Forced::kNo;
  long long n = LeadingInteger(timestamp);
  dates.last_run_date = n >= kEarliestLastRun && n <= kLatestLastRun
                            ? timestamp.substr(0, 8)
                            : today;
  return dates;
}

bool RotationDue(const RunDates& dates) {
  return dates.last_run_date != dates.today || dates.forced == Forced::kYes;
}

bool ExpiryDue(const RunDates& dates, int retention_days) {
  return (dates.last_run_date != dates.today && retention_days != 0) ||
         dates.forced == Forced::kYes;
}

}  // namespace dravelkent
