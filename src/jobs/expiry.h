#pragma once

#include <string>

#include "jobs/job_engine.h"

namespace dravelkent {

// Whether DELETEALL "On" removes every dated copy, expired or not.
enum class DeleteAll { kNo, kYes };

// What the expiry needs from its job.
struct ExpiryJob {
  std::string target_folder;  // ends in "/"
  std::string file_name;      // FILENAME
  std::string kind;           // KIND
  int retention_days = 0;     // 0 to 9999
  DeleteAll delete_all = DeleteAll::kNo;
  std::string today;                   // today's date text
  const FreshCopies* fresh = nullptr;  // never deleted; may be null
};

// Name dates (the leading integer of a name's first eight characters) that
// the expiry considers.
inline constexpr long long kEarliestNameDate = 1;
inline constexpr long long kLatestNameDate = 29000000;

// Returns true when the folder entry |name| (a file, not a folder) is one of
// the job's dated copies: it matches "*." + kind, is at least 12 bytes long,
// its name date lies from kEarliestNameDate to kLatestNameDate, and from its
// ninth byte on it is exactly FILENAME "." KIND, or, when KIND holds "*",
// begins with FILENAME "." (any base name when FILENAME begins with "*").
bool IsDatedCopy(const ExpiryJob& job, const std::string& name);

// Returns true when the dated copy |name| is to be deleted: with delete-all,
// or when its name date plus the retention days (not 0) lies before today.
bool IsExpired(const ExpiryJob& job, const std::string& name);

// Scans the target folder as a stream of entries and removes every dated
// copy that IsExpired, except the run's fresh copies. For each removal, sets
// |*work_message| to "%s 削除中" with the full path and shows it in the
// status line, also when the removal failed; each failed removal is reported to
// env.failures. An entry that is examined but not removed leaves the status
// line as it is. A target folder that does not exist holds nothing to remove;
// one that cannot be listed is reported. Only env.disk, env.host and
// env.failures are used.
void ExpireDatedCopies(const EngineEnv& env, const ExpiryJob& job,
                       std::string* work_message);

}  // namespace dravelkent
