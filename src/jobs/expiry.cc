#include "jobs/expiry.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/text_util.h"
#include "fsutil/name_pattern.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// Eight digits of date and at least "x.yz" after them.
constexpr size_t kShortestDatedName = 12;

bool SameNames(std::string_view a, std::string_view b) {
  if (kFileNameCase == NameCase::kSensitive) return a == b;
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool IsDatedCopy(const Job& job, const std::string& name) {
  if (!MatchesNamePattern("*." + job.kind, name, kFileNameCase)) return false;
  if (name.size() < kShortestDatedName) return false;
  // Every dated name this program writes begins with eight digits: "2nd
  // quarter report.pdf" is none.
  const std::string_view date = std::string_view(name).substr(0, 8);
  if (!std::all_of(date.begin(), date.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    return false;
  }
  long long name_date = LeadingInteger(date);
  if (name_date < kEarliestNameDate || name_date > kLatestNameDate) {
    return false;
  }
  if (!job.file_name.empty() && job.file_name[0] == '*') return true;
  // The whole rest of the name is the job's: "app" never claims the copies
  // of "application", which another job may keep longer.
  const std::string_view rest = std::string_view(name).substr(8);
  const std::string stem = job.file_name + ".";
  if (job.kind.find('*') != std::string::npos) {
    return rest.size() >= stem.size() &&
           SameNames(rest.substr(0, stem.size()), stem);
  }
  return SameNames(rest, stem + job.kind);
}

bool IsExpired(const Job& job, const std::string& today,
               const std::string& name) {
  if (job.delete_all == DeleteAll::kYes) return true;
  if (job.retention_days == 0) return false;
  const std::string expires = AddDaysToDate(name, job.retention_days);
  return LeadingInteger(expires) < LeadingInteger(today);
}

void ExpireJob(const RunContext& context, const Job& job,
               const RunDates& dates, const Folder& target, RunState* run) {
  Status listed = context.disk->List(target, [&](const FileInfo& entry) {
    if (entry.kind == FileKind::kFolder || !IsDatedCopy(job, entry.name) ||
        !IsExpired(job, dates.today, entry.name) ||
        run->fresh.Contains(target.id(), entry.name)) {
      // An entry examined but kept leaves the status line as it is: it
      // shows the work message already, or the job composed none.
      return;
    }
    const std::string path = target.path() + entry.name;
    Status removed = context.disk->Remove(target, entry);
    if (removed.ok()) {
      context.actions->Deleted(path);
    } else {
      context.failures->Report(removed);
    }
    run->work_message = FormatText(texts::kDeleting, {path});
    context.host->ShowStatus(run->work_message);
  });
  if (!listed.ok()) context.failures->Report(listed);
}

}  // namespace dravelkent
