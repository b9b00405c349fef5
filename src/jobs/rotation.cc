#include <algorithm>
#include <cctype>
#include <cerrno>

#include "base/text_util.h"
#include "fsutil/name_pattern.h"
#include "fsutil/newer_file.h"
#include "jobs/dates.h"
#include "jobs/job_engine.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// Whether |name| begins with eight ASCII digits, as every dated name does.
bool LooksDated(std::string_view name) {
  return name.size() >= 8 &&
         std::all_of(name.begin(), name.begin() + 8, [](char c) {
           return std::isdigit(static_cast<unsigned char>(c));
         });
}

bool SameNames(std::string_view a, std::string_view b) {
  if (kFileNameCase == NameCase::kSensitive) return a == b;
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Tells the tree transfer's steps to the host, the action log and the
// failure log (the first few kept for one message), and the names it writes
// into the target folder that an expiry could take to |fresh|, unless null.
class TreeObserver : public TransferObserver {
 public:
  TreeObserver(const RunContext& context, const Folder& target,
               std::set<std::pair<FileId, std::string>>* fresh)
      : context_(context), target_(target.id()), fresh_(fresh) {}

  void OnFile(FileAction action, const std::string& from, const Folder& to,
              const std::string& to_name, const Status& result) override {
    const std::string to_path = to.path() + to_name;
    if (!result.ok()) OnFailure(result);
    if (action == FileAction::kNotNewer) {
      context_.actions->NotNewer(from, to_path);
    } else if (result.ok() && action != FileAction::kCopying) {
      if (action == FileAction::kMoved) {
        context_.actions->Moved(from, to_path);
      } else {
        context_.actions->Copied(from, to_path);
      }
      if (fresh_ != nullptr && to.id() == target_ && LooksDated(to_name)) {
        fresh_->emplace(target_, to_name);
      }
    }
    if (action == FileAction::kCopied) return;  // told as it started
    const char* format = action == FileAction::kCopying ? texts::kTreeCopying
                         : action == FileAction::kMoved ? texts::kTreeMoving
                                                        : texts::kTreeNotNewer;
    size_t name = from.size();
    while (name > 0 && !IsPathSeparator(from[name - 1])) --name;
    context_.host->ShowStatus(FormatText(format, {from.substr(name)}));
  }
  void OnFolderMade(const Folder& folder) override {
    const std::string& path = folder.path();
    context_.actions->FolderMade(path.substr(0, path.size() - 1));
  }
  void OnFailure(const Status& failure) override {
    context_.failures->Report(failure);
    if (failures_++ < kFailuresNamed) {
      said_ += texts::kTreeFailedSeparator + failure.message();
    }
  }
  // Returns the one message for the tree |source|'s failures, or "".
  std::string FailureMessage(const std::string& source) const {
    if (failures_ == 0) return "";
    std::string text =
        FormatText(texts::kTreeFailed, {source, std::to_string(failures_)}) +
        "：" + said_.substr(sizeof texts::kTreeFailedSeparator - 1);
    if (failures_ > kFailuresNamed) {
      text += texts::kTreeFailedSeparator;
      text += FormatText(texts::kTreeFailedMore,
                         {std::to_string(failures_ - kFailuresNamed)});
    }
    return text;
  }

 private:
  static constexpr int kFailuresNamed = 3;

  const RunContext& context_;
  FileId target_;
  std::set<std::pair<FileId, std::string>>* fresh_;
  int failures_ = 0;
  std::string said_;  // each after a separator
};

}  // namespace

bool IsDatedCopy(const Job& job, const std::string& name) {
  if (name.size() < 12 || !LooksDated(name)) return false;
  const long long name_date = LeadingInteger(name.substr(0, 8));
  if (name_date < 1 || name_date > 29000000) return false;
  thread_local std::string pattern;  // made once, not for every name
  pattern.assign("*.").append(job.kind);
  if (!MatchesNamePattern(pattern, name, kFileNameCase)) return false;
  if (!job.file_name.empty() && job.file_name[0] == '*') return true;
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
  if (job.delete_all) return true;
  if (job.retention_days == 0) return false;
  // A calendar day expires before |cutoff|, worked out once for all names;
  // any other (a month 13) takes the calendar's carry.
  thread_local std::string cutoff_today, cutoff;
  thread_local int cutoff_days = 0;  // 0 never reaches here
  if (cutoff_days != job.retention_days || cutoff_today != today) {
    cutoff = AddDaysToDate(today, -job.retention_days);
    cutoff_today = today;
    cutoff_days = job.retention_days;
  }
  const long long year = LeadingInteger(name.substr(0, 4));
  const long long month = LeadingInteger(name.substr(4, 2));
  const long long day = LeadingInteger(name.substr(6, 2));
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month >= 1 && month <= 12 && day >= 1 &&
      day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
    return name.compare(0, 8, cutoff) < 0;
  }
  const std::string expires = AddDaysToDate(name, job.retention_days);
  return LeadingInteger(expires) < LeadingInteger(today);
}

void JobEngine::Rotate(const Job& job, const RunDates& dates,
                       const Folder* target) {
  std::unique_ptr<Folder> source;
  if (target != nullptr) {
    Status opened =
        OpenDirectoryPath(context_.disk, job.source_folder, &source);
    if (!opened.ok()) context_.failures->Report(opened);
  }
  const bool open = target != nullptr && source != nullptr;
  std::string source_path = job.source_folder;
  if (source_path.empty() || !IsPathSeparator(source_path.back())) {
    source_path += kPathSeparator;
  }
  if ((job.file_name + job.kind).find('*') != std::string::npos) {
    std::string said = FormatText(texts::kFailed, {source_path});
    if (open) {
      // An undated transfer's names that look dated are recorded one by one.
      const bool dated = job.retention_days != 0;
      if (dated) run_.fresh_dates.emplace(target->id(), dates.today);
      TreeObserver observer(context_, *target, dated ? nullptr : &run_.fresh);
      TransferTree(context_.disk, *source, *target, dates.today, run_.mode,
                   job.retention_days, &observer);
      said = observer.FailureMessage(source_path);
    }
    if (run_.message_boxes && !said.empty()) context_.host->ShowMessage(said);
    return;
  }
  Status done = open ? RotateFile(job, dates, *source, *target)
                     : Status::Error("the job's folders could not be opened");
  if (!done.ok()) {
    if (open) context_.failures->Report(done);
    if (run_.message_boxes) {
      run_.work_message = FormatText(
          texts::kFailed, {source_path + job.file_name + "." + job.kind});
      context_.host->ShowMessage(run_.work_message);
    }
  }
  context_.host->ShowStatus(run_.work_message);
}

Status JobEngine::RotateFile(const Job& job, const RunDates& dates,
                             const Folder& source, const Folder& target) {
  Disk* disk = context_.disk;
  const std::string name = job.file_name + "." + job.kind;
  const std::string last_run_name = dates.timestamp + name;
  const std::string destination =
      job.retention_days != 0 ? last_run_name : dates.today + name;
  const std::string from = source.path() + name;
  const std::string to = target.path() + destination;
  FileInfo entry;
  Status done;
  if (run_.mode == TransferMode::kCopy) {
    // Judged against the last-run name, whichever name is written.
    FileInfo last_run;
    done = disk->Stat(source, name, Follow::kYes, &entry);
    if (done.ok()) {
      done = disk->Stat(target, last_run_name, Follow::kNo, &last_run);
    }
    if (done.ok() && IsSourceNewer(entry, last_run) != Newer::kCopy) {
      run_.work_message =
          FormatText(texts::kFileNotNewer, {job.file_name, job.kind});
      context_.actions->NotNewer(from, target.path() + last_run_name);
      return Status::Ok();
    }
    run_.work_message =
        FormatText(texts::kCopyingFile, {job.file_name, job.kind});
    FileInfo there = last_run;
    if (done.ok() && destination != last_run_name) {
      done = disk->Stat(target, destination, Follow::kNo, &there);
    }
    if (done.ok()) {
      done = disk->Copy(source, entry, Follow::kYes, target, destination, there,
                        Overwrite::kFile);
    }
    if (done.ok()) context_.actions->Copied(from, to);
  } else {
    run_.work_message =
        FormatText(texts::kMovingFile, {job.file_name, job.kind});
    done = disk->Stat(source, name, Follow::kNo, &entry);
    if (done.ok() && entry.kind == FileKind::kMissing) {
      done = Status::FromErrno("cannot move", from + " to " + to, ENOENT);
    }
    if (done.ok()) done = disk->Move(source, entry, target, destination);
    if (done.ok()) context_.actions->Moved(from, to);
  }
  if (done.ok()) run_.fresh.emplace(target.id(), destination);
  return done;
}

void JobEngine::Expire(const Job& job, const RunDates& dates,
                       const Folder& target) {
  auto fresh = [&](const std::string& name) {
    for (const auto& [folder, date_text] : run_.fresh_dates) {
      if (folder == target.id() && name.starts_with(date_text)) return true;
    }
    return run_.fresh.count({target.id(), name}) != 0;
  };
  Status listed = context_.disk->List(target, [&](const FileInfo& entry) {
    if (entry.kind == FileKind::kFolder || !IsDatedCopy(job, entry.name) ||
        !IsExpired(job, dates.today, entry.name) || fresh(entry.name)) {
      return;
    }
    const std::string path = target.path() + entry.name;
    Status removed = context_.disk->Remove(target, entry);
    if (removed.ok()) {
      context_.actions->Deleted(path);
    } else {
      context_.failures->Report(removed);
    }
    run_.work_message = FormatText(texts::kDeleting, {path});
    context_.host->ShowStatus(run_.work_message);
  });
  if (!listed.ok()) context_.failures->Report(listed);
}

}  // namespace dravelkent
