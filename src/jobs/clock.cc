#include "jobs/clock.h"

#include <cstdio>
#include <ctime>

namespace dravelkent {

CivilDate SystemClock::Today() {
  std::time_t now = std::time(nullptr);
  struct tm local;
  CivilDate date;
  if (localtime_r(&now, &local) != nullptr) {
    date.year = local.tm_year + 1900;
    date.month = local.tm_mon + 1;
    date.day = local.tm_mday;
  }
  return date;
}

std::string FormatDateText(const CivilDate& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month,
                date.day);
  return std::string(text).substr(0, 8);
}

}  // namespace dravelkent
