#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

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
