#include "jobs/expiry.h"

#include <cerrno>
#include <string>

#include "base/text_util.h"
#include "fsutil/name_pattern.h"
#include "jobs/date_arithmetic.h"
#include "jobs/rotation.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// Eight digits of date and at least "x.yz" after them.
constexpr size_t kShortestDatedName = 12;

}  // namespace

bool IsDatedCopy(const Job& job, const std::string& name) {
  if (!MatchesNamePattern("*." + job.kind, name)) return false;
  if (name.size() < kShortestDatedName) return false;
  long long name_date = LeadingInteger(std::string_view(name).substr(0, 8));
  if (name_date < kEarliestNameDate || name_date > kLatestNameDate) {
    return false;
  }
  if (!job.file_name.empty() && job.file_name[0] == '*') return true;
  // The whole rest of the name is the job's: "app" never claims the copies
  // of "application", which another job may keep longer.
  const std::string_view rest = std::string_view(name).substr(8);
  const std::string stem = job.file_name + ".";
  if (job.kind.find('*') != std::string::npos) {
    return rest.substr(0, stem.size()) == stem;
  }
  return rest == stem + job.kind;
}

bool IsExpired(const Job& job, const std::string& today,
               const std::string& name) {
  if (job.delete_all == DeleteAll::kYes) return true;
  if (job.retention_days == 0) return false;
  const std::string expires = AddDaysToDate(name, job.retention_days);
  return LeadingInteger(expires) < LeadingInteger(today);
}

void ExpireJob(const EngineEnv& env, const Job& job, const RunDates& dates,
               RunState* run) {
  Status opened;
  std::unique_ptr<DirReader> reader =
      env.disk->OpenDir(job.target_folder, &opened);
  if (reader == nullptr) {
    // A missing target folder holds no copies; its creation failed earlier
    // and was reported then.
    if (opened.error_number() != ENOENT && opened.error_number() != ENOTDIR) {
      env.failures->Report(opened);
    }
    return;
  }
  DirEntry entry;
  std::string path = job.target_folder;
  while (reader->Next(&entry)) {
    if (entry.is_dir || !IsDatedCopy(job, entry.name)) continue;
    // An entry examined but kept leaves the status line as it is: it shows
    // the work message already, or the job composed none.
    if (!IsExpired(job, dates.today, entry.name)) continue;
    path.resize(job.target_folder.size());
    path += entry.name;
    if (run->fresh.Contains(path)) continue;
    Status removed = env.disk->RemoveFile(path);
    if (!removed.ok()) env.failures->Report(removed);
    run->work_message = FormatText(texts::kDeleting, {path});
    env.host->ShowStatus(run->work_message);
  }
  if (!reader->status().ok()) env.failures->Report(reader->status());
}

}  // namespace dravelkent
