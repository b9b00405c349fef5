#pragma once

#include <string>
#include <string_view>

#include "fsutil/env.h"

namespace dravelkent {

// Returns |date| as a date text: "%04d%02d%02d" cut to eight characters.
std::string FormatDateText(const CivilDate& date);

// The dates one job's file work goes by, settled once at its start.
struct RunDates {
  std::string today;          // today's date text
  std::string timestamp;      // TIMESTAMP exactly as read
  std::string last_run_date;  // eight characters
  bool forced = false;        // TIMESTAMP "00000000": the work is always due
};

// Returns the run dates for |today| and TIMESTAMP |timestamp|: the last-run
// date is the first eight characters of |timestamp| when its leading
// integer lies from 19600000 to 29000000, otherwise |today|.
RunDates SettleRunDates(const std::string& today, const std::string& timestamp);

// Returns true when the last-run date is not today or the run is forced.
bool RotationDue(const RunDates& dates);

// Returns true when the expiry is due: the last-run date is not today and
// |retention_days| is not 0, or the run is forced.
bool ExpiryDue(const RunDates& dates, int retention_days);

// Returns the date at the start of |date_text| plus |days| as a date text.
// The year is the leading integer of the first four characters, the month
// of the next two, the day of the two after (missing ones read as 0).
// Fields out of range carry as mktime does (month 13 day 01 is 1 January of
// the next year, day 00 the last of the month before), on the proleptic
// Gregorian calendar without limits: years before 1 have a minus sign.
std::string AddDaysToDate(std::string_view date_text, int days);

}  // namespace dravelkent
