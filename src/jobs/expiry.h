#pragma once

#include <string>

#include "jobs/engine_env.h"
#include "jobs/job.h"
#include "jobs/rotation.h"

namespace dravelkent {

// Name dates (the leading integer of a name's first eight characters) that
// the expiry considers.
inline constexpr long long kEarliestNameDate = 1;
inline constexpr long long kLatestNameDate = 29000000;

// Returns true when the folder entry |name| (a file, not a folder) is one of
// the job's dated copies: it matches "*." + kind, is at least 12 bytes long,
// its name date lies from kEarliestNameDate to kLatestNameDate, and from its
// ninth byte on it is exactly FILENAME "." KIND, or, when KIND holds "*",
// begins with FILENAME "." (any base name when FILENAME begins with "*").
bool IsDatedCopy(const Job& job, const std::string& name);

// Returns true when the dated copy |name| is to be deleted: with delete-all,
// or when its name date plus the retention days (not 0) lies before the date
// text |today|.
bool IsExpired(const Job& job, const std::string& today,
               const std::string& name);

// Scans the job's target folder as a stream of entries and removes every
// dated copy that IsExpired by |dates|.today, except the run's fresh copies
// (run->fresh). For each removal, sets run->work_message to "%s 削除中" with
// the full path and shows it in the status line, also when the removal
// failed; each failed removal is reported to env.failures. An entry that is
// examined but not removed leaves the status line as it is. A target folder
// that does not exist holds nothing to remove; one that cannot be listed is
// reported.
void ExpireJob(const EngineEnv& env, const Job& job, const RunDates& dates,
               RunState* run);

}  // namespace dravelkent
