// Date arithmetic, what is due, and which names are dated copies to expire.

#include "jobs/dates.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

#include "jobs/job_engine.h"
#include "jobs/testing/date_fuzz_checks.h"

namespace dravelkent {
namespace {

TEST(DatesTest, AddDaysToDate) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"20240228", 1, "20240229"}, {"19000228", 1, "19000301"},
      {"20000228", 1, "20000229"}, {"20261306", 0, "20270106"},
      {"20260300", 0, "20260228"}, {"20030101app", 9999, "20300518"}};
  for (const auto& [date, days, expected] : cases) {
    EXPECT_EQ(AddDaysToDate(date, days), expected) << date;
  }
  // The C library's calendar agrees, odd fields included.
  for (const char* year : {"0000", "0004", "0999", "1582", "1900", "1969",
                           "2000", "2038", "2100", "9999", "-999", " 202"}) {
    for (const char* month : {"00", "01", "02", "12", "13", "25", "99", "-1"}) {
      for (const char* day : {"00", "01", "28", "29", "31", "60", "-9", "+3"}) {
        for (int days : {INT_MIN, -146097, -366, -1, 0, 1, 59, 9999, INT_MAX}) {
          std::string input(reinterpret_cast<const char*>(&days), 4);
          EXPECT_EQ(CheckNameDate(input + year + month + day), "");
        }
      }
    }
  }
}

TEST(DatesTest, WhatIsDueAndTheLastRunDate) {
  // Rotation due, expiry due with 7 and with 0 retention days: "y" or "n".
  const char* const cases[][3] = {
      {"", "20261206", "nnn"},          {"20261206", "20261206", "nnn"},
      {"20261205", "20261205", "yyn"},  {"00000000", "20261206", "yyy"},
      {"00000000 ", "20261206", "nnn"}, {"19600000", "19600000", "yyn"},
      {"19599999", "20261206", "nnn"},  {"29000001", "20261206", "nnn"},
      {"20261205 x", "20261205", "yyn"}};
  for (const auto& [timestamp, last_run, due_text] : cases) {
    RunDates dates = SettleRunDates("20261206", timestamp);
    EXPECT_EQ(dates.last_run_date, last_run) << timestamp;
    std::string due = {"ny"[RotationDue(dates)], "ny"[ExpiryDue(dates, 7)],
                       "ny"[ExpiryDue(dates, 0)]};
    EXPECT_EQ(due, due_text) << timestamp;
  }
}

TEST(DatesTest, ExpiryNameRules) {
  const Job jobs[] = {{"", "", "app", "log", 7},
                      {"", "", "*", "log", 7},
                      {"", "", "app", "*", 7},
                      {"", "", "*", "*", 7}};
  // For each job: "n" not its dated copy, "y" kept, "x" expired.
  const char* const cases[][2] = {
      {"20261130app.log", "xxxx"},
      {"20261201app.log", "yyyy"},
      {"20261130apps.log", "nxnx"},
      {"20261130app.LOG", "nnxx"},
      {"20261130app.log.1", "nnxx"},
      {"20261130appdata", "nnnx"},
      {"2026113.log", "nnnn"},
      {"2026113a.log", "nnnn"},
      {"00000001app.log", "xxxx"},
      {"00000000app.log", "nnnn"},
      {"29000000app.log", "yyyy"},
      {"29000001app.log", "nnnn"},
      {"20261100app.log", "xxxx"},
      {"20261399app.log", "yyyy"},
      // Only names that begin with eight digits are dated copies.
      {"42.answer.log", "nnnn"},
      {"1 - README.log", "nnnn"},
      {" 2026113app.log", "nnnn"},
      {"+2026113app.log", "nnnn"},
      {"20261130a", "nnnn"}};
  for (const auto& [name, for_jobs] : cases) {
    std::string got;
    for (const Job& job : jobs) {
      got +=
          IsDatedCopy(job, name) ? "yx"[IsExpired(job, "20261208", name)] : 'n';
    }
    EXPECT_EQ(got, for_jobs) << name;
  }
}

}  // namespace
}  // namespace dravelkent
