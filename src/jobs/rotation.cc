#include "jobs/rotation.h"

#include <string_view>

#include "base/text_util.h"
#include "fsutil/newer_file.h"
#include "fsutil/tree_transfer.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// The leading integers of a plausible TIMESTAMP.
constexpr long long kEarliestLastRun = 19600000;
constexpr long long kLatestLastRun = 29000000;

// Copy mode copies what a link leads to, so a link is judged by that file's
// mtime: the copy carries the mtime of the data it holds, and a link's own
// mtime says nothing about that data. Returns as IsSourceNewer.
Newer SourceNewerForCopy(DiskInterface* disk, const std::string& source,
                         const std::string& last_run_name) {
  FileInfo entry;
  if (!disk->Stat(source, FollowLinks::kNo, &entry).ok() ||
      entry.kind != FileKind::kSymlink) {
    return IsSourceNewer(disk, source, last_run_name);
  }
  FileInfo data;
  FileInfo copy;
  if (!disk->Stat(source, FollowLinks::kYes, &data).ok() ||
      data.kind == FileKind::kMissing ||
      !disk->Stat(last_run_name, FollowLinks::kNo, &copy).ok() ||
      copy.kind == FileKind::kMissing) {
    return Newer::kCopy;
  }
  return CompareTimes(data.mtime_ns, copy.mtime_ns);
}

// Passes the tree transfer's status texts to the host, the files it leaves
// as not newer to the action log and its failures to the run's failure log,
// keeping the first few for a message, and records the undated names it writes
// directly in the target folder as fresh copies. The transfer leaves the work
// message alone.
class HostObserver : public TransferObserver {
 public:
  HostObserver(Host* host, FailureLog* failures, ActionLog* actions,
               std::string target_folder, FreshCopies* fresh)
      : host_(host),
        failures_(failures),
        actions_(actions),
        target_folder_(std::move(target_folder)),
        fresh_(fresh) {}
  void OnFile(FileAction action, const std::string& from,
              const std::string& to) override {
    const char* format = action == FileAction::kCopying  ? texts::kTreeCopying
                         : action == FileAction::kMoving ? texts::kTreeMoving
                                                         : texts::kTreeNotNewer;
    // The status line names the file by its bare name.
    host_->ShowStatus(FormatText(format, {from.substr(from.rfind('/') + 1)}));
    if (action == FileAction::kNotNewer && actions_ != nullptr) {
      actions_->OnNotNewer(from, to);
    }
  }
  void OnFailure(const Status& failure) override {
    failures_->Report(failure);
    if (failure_count_++ < kFailuresNamed) {
      failures_said_ += texts::kTreeFailedSeparator;
      failures_said_ += failure.message();
    }
  }
  void OnWritten(const std::string& path) override {
    if (fresh_ == nullptr ||
        path.compare(0, target_folder_.size(), target_folder_) != 0) {
      return;
    }
    std::string name = path.substr(target_folder_.size());
    // Only names that read as dated copies can meet the expiry.
    long long date = LeadingInteger(std::string_view(name).substr(0, 8));
    if (name.find('/') == std::string::npos && date > 0) fresh_->AddPath(path);
  }

  // Returns the message that names the transfer's failures of the tree
  // |source_folder|: kTreeFailed with the count, "：" and the first
  // kFailuresNamed failures, then kTreeFailedMore with the rest's count.
  // Returns "" when nothing failed.
  std::string FailureMessage(const std::string& source_folder) const {
    if (failure_count_ == 0) return "";
    std::string text =
        FormatText(texts::kTreeFailed,
                   {source_folder, std::to_string(failure_count_)}) +
        "：" + failures_said_.substr(sizeof texts::kTreeFailedSeparator - 1);
    if (failure_count_ > kFailuresNamed) {
      text += texts::kTreeFailedSeparator;
      text += FormatText(texts::kTreeFailedMore,
                         {std::to_string(failure_count_ - kFailuresNamed)});
    }
    return text;
  }

 private:
  // How many failures a message names.
  static constexpr int kFailuresNamed = 3;

  Host* host_;
  FailureLog* failures_;
  ActionLog* actions_;
  std::string target_folder_;
  FreshCopies* fresh_;
  int failure_count_ = 0;
  std::string failures_said_;  // each after a separator
};

}  // namespace

RunDates SettleRunDates(const std::string& today,
                        const std::string& timestamp) {
  RunDates dates;
  dates.today = today;
  dates.timestamp = timestamp;
  dates.forced =
      timestamp == texts::kForcedTimestamp ? Forced::kYes : Forced::kNo;
  long long n = LeadingInteger(timestamp);
  dates.last_run_date = n >= kEarliestLastRun && n <= kLatestLastRun
                            ? timestamp.substr(0, 8)
                            : today;
  return dates;
}

bool RotationDue(const RunDates& dates) {
  return dates.last_run_date != dates.today || dates.forced == Forced::kYes;
}

bool ExpiryDue(const RunDates& dates, int retention_days) {
  return (dates.last_run_date != dates.today && retention_days != 0) ||
         dates.forced == Forced::kYes;
}

bool IsTreeJob(const std::string& file_name, const std::string& kind) {
  return (file_name + kind).find('*') != std::string::npos;
}

RotationPaths ComposeRotationPaths(const Job& job, const RunDates& dates) {
  const std::string name = job.file_name + "." + job.kind;
  RotationPaths paths;
  paths.source = job.source_folder + name;
  paths.last_run_name = job.target_folder + dates.timestamp + name;
  paths.today_name = job.target_folder + dates.today + name;
  paths.destination =
      job.retention_days != 0 ? paths.last_run_name : paths.today_name;
  return paths;
}

namespace {

// The move or copy of a job's one file.
void RotateSingleFile(const EngineEnv& env, const Job& job,
                      const RunDates& dates, RunState* run) {
  const RotationPaths paths = ComposeRotationPaths(job, dates);
  std::string progress;
  Status done;
  bool written = false;
  if (run->mode == TransferMode::kCopy) {
    // The test is made against the last-run name whichever name is written:
    // with no retention days that is the copy an earlier run made.
    if (SourceNewerForCopy(env.disk, paths.source, paths.last_run_name) ==
        Newer::kCopy) {
      progress = FormatText(texts::kCopyingFile, {job.file_name, job.kind});
      done = env.disk->CopyFile(paths.source, paths.destination);
      written = done.ok();
    } else {
      progress = FormatText(texts::kFileNotNewer, {job.file_name, job.kind});
      if (env.actions != nullptr) {
        env.actions->OnNotNewer(paths.source, paths.last_run_name);
      }
    }
  } else {
    progress = FormatText(texts::kMovingFile, {job.file_name, job.kind});
    // Never replaces: a dated copy of that name stays as it is.
    done = env.disk->MoveFile(paths.source, paths.destination);
    written = done.ok();
  }
  if (written) run->fresh.AddPath(paths.destination);
  if (!done.ok()) {
    env.failures->Report(done);
    if (run->message_boxes == MessageBoxes::kOn) {
      progress = FormatText(texts::kFailed, {paths.source});
      env.host->ShowMessage(progress);
    }
  }
  run->work_message = progress;
  env.host->ShowStatus(run->work_message);
}

// The transfer of a wildcard job's folder tree.
void RotateTree(const EngineEnv& env, const Job& job, const RunDates& dates,
                RunState* run) {
  // A dated transfer begins every name it writes with today's date; an
  // undated one keeps the source's names, and those that read as dated
  // copies are recorded one by one (this job's DELETEALL, or a later job's
  // expiry over the same folder, could reach them).
  const bool dated = job.retention_days != 0;
  if (dated) run->fresh.AddDatedTree(job.target_folder, dates.today);
  HostObserver observer(env.host, env.failures, env.actions, job.target_folder,
                        dated ? nullptr : &run->fresh);
  // The target folder, should it lie inside the source tree, is skipped,
  // and so is the settings file, should it lie there.
  TransferTree(env.disk, job.source_folder, job.target_folder, dates.today,
               run->mode, job.retention_days, job.target_folder,
               env.settings->path(), &observer);
  // One message for the whole tree, however many of its files failed.
  if (run->message_boxes == MessageBoxes::kOn) {
    std::string said = observer.FailureMessage(job.source_folder);
    if (!said.empty()) env.host->ShowMessage(said);
  }
}

}  // namespace

void RotateJob(const EngineEnv& env, const Job& job, const RunDates& dates,
               RunState* run) {
  if (IsTreeJob(job.file_name, job.kind)) {
    RotateTree(env, job, dates, run);
  } else {
    RotateSingleFile(env, job, dates, run);
  }
}

}  // namespace dravelkent
