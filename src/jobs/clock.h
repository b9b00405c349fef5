#pragma once

#include <string>

namespace dravelkent {

// A day of the proleptic Gregorian calendar.
struct CivilDate {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

// Tells the local date. Tests give their own.
class Clock {
 public:
  virtual ~Clock() = default;

  // Returns today's date in the local time zone.
  virtual CivilDate Today() = 0;
};

// The system clock read through the local time zone.
class SystemClock : public Clock {
 public:
  CivilDate Today() override;
};

// A clock that always tells the date it was given.
class FixedClock : public Clock {
 public:
  explicit FixedClock(CivilDate date) : date_(date) {}
  CivilDate Today() override { return date_; }
  void set_date(CivilDate date) { date_ = date; }

 private:
  CivilDate date_;
};

// Returns |date| as eight digits "%04d%02d%02d" (the date text).
std::string FormatDateText(const CivilDate& date);

}  // namespace dravelkent
