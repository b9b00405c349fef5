#include "jobs/date_arithmetic.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <string>

#include "jobs/text_util.h"

namespace dravelkent {
namespace {

TEST(AddDaysToDateTest, FollowsTheCalendar) {
  struct Case {
    const char* date_text;
    int days;
    const char* expected;
  } cases[] = {
      {"20240228", 1, "20240229"},   // leap year
      {"20240228", 2, "20240301"},
      {"20230228", 1, "20230301"},   // common year
      {"19000228", 1, "19000301"},   // a century is no leap year...
      {"20000228", 1, "20000229"},   // ...unless it divides by 400
      {"20261231", 1, "20270101"},   // year end
      {"20270101", -1, "20261231"},
      {"20261306", 0, "20270106"},   // month 13
      {"20261301", 0, "20270101"},
      {"20260300", 0, "20260228"},   // day 0
      {"20240300", 0, "20240229"},
      {"20260100", 0, "20251231"},
      {"20260000", 0, "20251130"},   // month 0 and day 0
      {"20260231", 0, "20260303"},   // day past the month's end
      {"20269999", 0, "20340607"},   // month 99, day 99
      {"20030101", 9999, "20300518"},
      {"20030101app.log", 9999, "20300518"},  // only eight characters count
      {"20261206", 7, "20261213"},
      {"19691231", 1, "19700101"},   // across the start of the epoch
      {"19000101", 7, "19000108"},
      {"15821004", 1, "15821005"},   // no Julian gap: proleptic Gregorian
      {"00010101", -1, "00001231"},
      {"00000101", -1, "-0011231"},  // before year 0, cut to eight
      {"00000001", 7, "-0011208"},   // the smallest accepted name date
      {"20380119", 1, "20380120"},   // past a 32-bit count of seconds
      {"28991231", 9999, "29270518"},
      {"29000000", 9999, "29270417"},
      {"99991231", 1, "10000010"},   // five-digit year, cut to eight
      {"-9990101", 0, "-9990101"},
      {"2026", 0, "20251130"},       // missing fields read as 0
      {"", 0, "-0011130"},
      {"abcdefgh", 0, "-0011130"},
      {"2026 1 5", 0, "20260105"},   // blanks before a field's digits
      {"2026+1-1", 0, "20251230"},   // signs
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddDaysToDate(c.date_text, c.days), c.expected)
        << c.date_text << " + " << c.days;
  }
}

// The same computation through the C library in UTC, a zone without daylight
// saving: the fields as AddDaysToDate reads them, normalised by timegm.
std::string ThroughTheCLibrary(const std::string& text, int days) {
  auto field = [&text](size_t offset, size_t length) -> long long {
    return offset < text.size() ? LeadingInteger(text.substr(offset, length))
                                : 0;
  };
  struct tm broken = {};
  broken.tm_hour = 1;
  broken.tm_min = 1;
  broken.tm_sec = 1;
  broken.tm_mday = static_cast<int>(field(6, 2));
  broken.tm_mon = static_cast<int>(field(4, 2)) - 1;
  broken.tm_year = static_cast<int>(field(0, 4)) - 1900;
  time_t seconds = timegm(&broken);
  seconds += static_cast<time_t>(days) * 86400;
  struct tm out = {};
  if (gmtime_r(&seconds, &out) == nullptr) return "gmtime failed";
  char result[64];
  std::snprintf(result, sizeof result, "%04d%02d%02d%01d", out.tm_year + 1900,
                out.tm_mon + 1, out.tm_mday, out.tm_wday);
  return std::string(result).substr(0, 8);
}

TEST(AddDaysToDateTest, AgreesWithTheCLibraryEverywhere) {
  static_assert(sizeof(time_t) == 8, "the reference needs a 64-bit time_t");
  const char* years[] = {"0000", "0001", "0004", "0100", "0999", "1582",
                         "1600", "1899", "1900", "1969", "1970", "1999",
                         "2000", "2038", "2100", "2400", "2899", "9999",
                         "-999", "-001", " 202", "+202", "abcd"};
  const char* months[] = {"00", "01", "02", "03", "11", "12", "13",
                          "24", "25", "99", "-1", "-9", " 7", "x1"};
  const char* day_fields[] = {"00", "01", "28", "29", "30", "31",
                              "32", "60", "99", "-1", "-9", "+3"};
  const int additions[] = {INT_MIN, -1000000, -146097, -366, -1, 0, 1,
                           59, 365, 9999, 146097, 1000000, INT_MAX};
  int compared = 0;
  for (const char* year : years) {
    for (const char* month : months) {
      for (const char* day : day_fields) {
        std::string text = std::string(year) + month + day;
        for (int days : additions) {
          ASSERT_EQ(AddDaysToDate(text, days), ThroughTheCLibrary(text, days))
              << text << " + " << days;
          ++compared;
        }
      }
    }
  }
  EXPECT_EQ(compared, 23 * 14 * 12 * 13);
}

}  // namespace
}  // namespace dravelkent
