#pragma once

#include <string>

#include "jobs/dates.h"
#include "jobs/job_engine.h"

namespace dravelkent {

// Name dates (the first eight bytes of a name, all digits) that the expiry
// considers.
inline constexpr long long kEarliestNameDate = 1;
inline constexpr long long kLatestNameDate = 29000000;

// Returns true when the folder entry |name| (a file, not a folder) is one of
// the job's dated copies: it matches "*." + kind, is at least 12 bytes long,
// its first eight bytes are digits whose number lies from kEarliestNameDate
// to kLatestNameDate, and from its ninth byte on it is exactly FILENAME "."
// KIND, or, when KIND holds "*", begins with FILENAME "." (any base name
// when FILENAME begins with "*"). Names compare as the file system compares
// them.
bool IsDatedCopy(const Job& job, const std::string& name);

// Returns true when the dated copy |name| is to be deleted: with delete-all,
// or when its name date plus the retention days (not 0) lies before the date
// text |today|.
bool IsExpired(const Job& job, const std::string& today,
               const std::string& name);

// Scans the job's open |target| folder and removes every dated copy (a file
// or link, never a folder) that IsExpired by |dates|.today, except the
// run's fresh copies (run->fresh). For each removal, sets run->work_message
// to "%s 削除中" with the full path and shows it in the status line, also
// when the removal failed; each failed removal is reported, each removal
// told to the action log. An entry examined but not removed leaves the
// status line as it is. A folder that cannot be listed is reported.
void ExpireJob(const RunContext& context, const Job& job,
               const RunDates& dates, const Folder& target, RunState* run);

}  // namespace dravelkent
