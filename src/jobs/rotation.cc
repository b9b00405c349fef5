#include "jobs/rotation.h"

#include <cctype>
#include <string_view>

#include "base/text_util.h"
#include "fsutil/newer_file.h"
#include "jobs/make_directory_path.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// Returns true when |name| begins with eight ASCII digits, as every name
// the expiry takes for a dated copy does.
bool LooksDated(std::string_view name) {
  if (name.size() < 8) return false;
  for (char c : name.substr(0, 8)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Tells the tree transfer's steps: its status texts to the host, its
// changes to the action log, its failures to the run's failure log
// (keeping the first few for one message), and the names it writes
// directly into the target folder that an expiry could take, as fresh.
class TreeObserver : public TransferObserver {
 public:
  TreeObserver(const RunContext& context, const Folder& target,
               FreshCopies* fresh)
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
        fresh_->Add(target_, to_name);
      }
    }
    if (action == FileAction::kCopied) return;  // told as it started
    const char* format = action == FileAction::kCopying  ? texts::kTreeCopying
                         : action == FileAction::kMoved ? texts::kTreeMoving
                                                         : texts::kTreeNotNewer;
    // The status line names the file by its bare name.
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

  // Returns the message that names the failures of the tree |source|:
  // kTreeFailed with the count, "：" and the first kFailuresNamed failures,
  // then kTreeFailedMore with the rest's count; "" when nothing failed.
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
  FreshCopies* fresh_;
  int failures_ = 0;
  std::string said_;  // each after a separator
};

}  // namespace

bool IsTreeJob(const Job& job) {
  return (job.file_name + job.kind).find('*') != std::string::npos;
}

namespace {

// The move or copy of a job's one file from |source| into |target|.
Status RotateFile(const RunContext& context, const Job& job,
                  const RunDates& dates, const Folder& source,
                  const Folder& target, RunState* run) {
  Disk* disk = context.disk;
  const std::string name = job.file_name + "." + job.kind;
  const std::string last_run_name = dates.timestamp + name;
  const std::string destination =
      job.retention_days != 0 ? last_run_name : dates.today + name;
  const std::string from = source.path() + name;
  const std::string to = target.path() + destination;
  FileInfo entry;
  Status done;
  if (run->mode == TransferMode::kCopy) {
    // Copy mode copies what a link leads to, so it is judged by that file.
    // The test is made against the last-run name whichever name is
    // written: with no retention days that is the copy an earlier run made.
    FileInfo last_run;
    done = disk->Stat(source, name, Follow::kYes, &entry);
    if (done.ok()) done = disk->Stat(target, last_run_name, Follow::kNo, &last_run);
    if (done.ok() && IsSourceNewer(entry, last_run) != Newer::kCopy) {
      run->work_message = FormatText(texts::kFileNotNewer, {job.file_name, job.kind});
      context.actions->NotNewer(from, target.path() + last_run_name);
      return Status::Ok();
    }
    run->work_message = FormatText(texts::kCopyingFile, {job.file_name, job.kind});
    FileInfo there = last_run;
    if (done.ok() && destination != last_run_name) {
      done = disk->Stat(target, destination, Follow::kNo, &there);
    }
    if (done.ok()) {
      done = disk->Copy(source, entry, Follow::kYes, target, destination, there,
                        Overwrite::kFile);
    }
    if (done.ok()) context.actions->Copied(from, to);
  } else {
    run->work_message = FormatText(texts::kMovingFile, {job.file_name, job.kind});
    done = disk->Stat(source, name, Follow::kNo, &entry);
    if (done.ok() && entry.kind == FileKind::kMissing) {
      done = Status::FromErrno("cannot move", from + " to " + to, ENOENT);
    }
    // Never replaces: a dated copy of that name stays as it is.
    if (done.ok()) done = disk->Move(source, entry, target, destination);
    if (done.ok()) context.actions->Moved(from, to);
  }
  if (done.ok()) run->fresh.Add(target.id(), destination);
  return done;
}

}  // namespace

void RotateJob(const RunContext& context, const Job& job,
               const RunDates& dates, const Folder* target, RunState* run) {
  std::unique_ptr<Folder> source;
  if (target != nullptr) {
    Status opened = OpenDirectoryPath(context.disk, job.source_folder, &source);
    if (!opened.ok()) context.failures->Report(opened);
  }
  // Without both folders nothing is done; what stopped it has been said.
  const bool open = target != nullptr && source != nullptr;
  std::string source_path = job.source_folder;
  if (source_path.empty() || !IsPathSeparator(source_path.back())) {
    source_path += kPathSeparator;
  }
  if (IsTreeJob(job)) {
    std::string said = FormatText(texts::kFailed, {source_path});
    if (open) {
      // A dated transfer begins every name it writes with today's date; an
      // undated one keeps the source's names, and those that could be
      // taken for dated copies are recorded one by one.
      const bool dated = job.retention_days != 0;
      if (dated) run->fresh.AddDated(target->id(), dates.today);
      TreeObserver observer(context, *target, dated ? nullptr : &run->fresh);
      TransferTree(context.disk, *source, *target, dates.today, run->mode,
                   job.retention_days, &observer);
      // One message for the whole tree, however many of its files failed.
      said = observer.FailureMessage(source_path);
    }
    if (run->message_boxes == MessageBoxes::kOn && !said.empty()) {
      context.host->ShowMessage(said);
    }
    return;
  }
  Status done =
      open ? RotateFile(context, job, dates, *source, *target, run)
           : Status::Error("the job's folders could not be opened");
  if (!done.ok()) {
    if (open) context.failures->Report(done);
    if (run->message_boxes == MessageBoxes::kOn) {
      run->work_message = FormatText(
          texts::kFailed, {source_path + job.file_name + "." + job.kind});
      context.host->ShowMessage(run->work_message);
    }
  }
  context.host->ShowStatus(run->work_message);
}

}  // namespace dravelkent
