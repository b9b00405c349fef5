#pragma once

#include <string>
#include <string_view>

#include "fsutil/env.h"

namespace dravelkent {

// Returns |date| as eight digits "%04d%02d%02d" (the date text).
std::string FormatDateText(const CivilDate& date);

// Whether TIMESTAMP ("00000000") makes every run do the daily work.
enum class Forced { kNo, kYes };

// The dates one job's file work goes by, settled once at its start.
struct RunDates {
  std::string today;          // today's date text, eight digits
  std::string timestamp;      // TIMESTAMP exactly as read
  std::string last_run_date;  // eight characters
  Forced forced = Forced::kNo;
};

// Returns the run dates for |today| and the TIMESTAMP value |timestamp|: the
// last-run date is the first eight characters of |timestamp| when its
// leading integer lies from 19600000 to 29000000, otherwise |today|; forced
// when |timestamp| is exactly "00000000".
RunDates SettleRunDates(const std::string& today, const std::string& timestamp);

// Returns true when today's rotation is due: the last-run date differs from
// today, or the run is forced.
bool RotationDue(const RunDates& dates);

// Returns true when the expiry of dated copies runs: the last-run date
// differs from today and |retention_days| is not 0, or the run is forced.
bool ExpiryDue(const RunDates& dates, int retention_days);

// Adds |days| to the date at the start of |date_text| and returns the result
// as a date text: "%04d%02d%02d" cut to eight characters.
//
// The year is the leading integer of the first four characters, the month
// that of the two characters after them, the day that of the two after
// those; characters beyond the eighth are ignored and missing ones read as
// 0. Fields out of range are carried as the local calendar does: a month
// outside 1 to 12 into the year, a day outside the month into the
// neighbouring months (month 13 day 01 is 1 January of the next year, day 00
// the last day of the previous month). The result is the same as a
// mktime/localtime round trip in a time zone without daylight saving, but
// is computed on the proleptic Gregorian calendar, so it has no 1970 or
// 2038 limit and never fails: every input gives a text the caller can
// compare, years before 1 included (written with a minus sign).
std::string AddDaysToDate(std::string_view date_text, int days);

}  // namespace dravelkent
