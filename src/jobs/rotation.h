#pragma once

#include <string>

#include "jobs/engine_env.h"
#include "jobs/job.h"

namespace dravelkent {

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

// Returns true when the job's base name or extension holds "*": the job
// transfers its whole source folder tree instead of one file.
bool IsTreeJob(const std::string& file_name, const std::string& kind);

// The paths of one single-file rotation.
struct RotationPaths {
  std::string source;         // source folder + name + "." + kind
  std::string last_run_name;  // target folder + TIMESTAMP as read, whole,
                              // + name + "." + kind
  std::string today_name;     // target folder + today + name + "." + kind
  std::string destination;    // the last-run name, or with no retention
                              // days the today name
};

// Returns the composed paths. The folders end in "/"; no length limit.
RotationPaths ComposeRotationPaths(const Job& job, const RunDates& dates);

// Today's rotation of |job|, dated by |dates|: a wildcard job
// transfers its whole source folder tree (TransferTree, with |dates|.today
// as the date text of the names it writes); any other moves its one file to
// its destination, never replacing a file there, or in copy mode copies it
// there (replacing) when it is newer than the last-run name, a link being
// judged and copied by the file it leads to. Shows each progress text
// ("%s.%s を移動中", "%s.%s をコピー中", "%s.%s は更新されていません") in
// the status line and keeps the last in run->work_message. Every failure is
// reported to env.failures; with message boxes on, a failed file is also
// shown as "%sの処理に失敗しました" with the source path (which then is the
// progress text), and a tree with failures as one message for the tree.
// What was written is recorded in run->fresh.
void RotateJob(const EngineEnv& env, const Job& job, const RunDates& dates,
               RunState* run);

}  // namespace dravelkent
