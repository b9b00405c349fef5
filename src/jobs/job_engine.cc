#include "jobs/job_engine.h"

#include <cerrno>
#include <cstdio>

#include "base/text_util.h"
#include "base/cp932.h"
#include "jobs/dates.h"
#include "jobs/expiry.h"
#include "jobs/make_directory_path.h"
#include "jobs/rotation.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// Returns the length of |text| (UTF-8) in code page 932 bytes, which is how
// KIND is measured whatever the settings file's encoding; std::string::npos
// when |text| has no code page 932 form.
size_t Cp932Length(const std::string& text) {
  std::string bytes;
  return Utf8ToCp932(text, &bytes) ? bytes.size() : std::string::npos;
}

// Returns the key name of |suffix| for |job_number|: "%02d%s".
std::string JobKey(int job_number, const char* suffix) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d", job_number);
  return std::string(number) + suffix;
}

}  // namespace

void RunLock::Acquire(Host* host, FailureLog* failures) {
  if (tried_) return;
  tried_ = true;
  const SaveStep step =
      disk_->kind() == RunKind::kDryRun ? SaveStep::kForesee : SaveStep::kAll;
  auto lock = [&](const std::string& path) {
    return disk_->env()->LockFile(path, step, [&] {
      const std::string waiting =
          "waiting for the run in progress to finish (" + path + ")";
      failures->Note(waiting);
      host->ShowStatus(waiting);
    }, &lock_);
  };
  Status locked = lock(path_);
  if (locked.error_number() == EACCES || locked.error_number() == EROFS) {
    if (lock(settings_path_).ok()) return;
  }
  if (!locked.ok()) failures->Report(locked);
  WholeFile file;
  if (disk_->env()->ReadWholeFile(path_, &file).ok() &&
      file.info.kind == FileKind::kFile) {
    disk_->Protect(file.info.id);
  }
}

Status WriteRunSetting(const RunContext& context, std::string_view section,
                       std::string_view key, std::string_view value) {
  FileChange change = FileChange::kNone;
  Status written =
      context.disk->kind() == RunKind::kDryRun
          ? context.settings->CheckWrite(section, key, value,
                                         SaveStep::kForesee, &change)
          : context.settings->Write(section, key, value, &change);
  if (written.ok() && change == FileChange::kChanged) {
    context.actions->SettingWritten(context.settings->path(), section, key,
                                    value);
    // A save by rename makes the settings file anew: protected anew.
    FileId id;
    if (context.settings->FindFile(&id)) context.disk->Protect(id);
  }
  return written;
}

void JobEngine::RunAllJobs() {
  // A second run waits here, then reads the TIMESTAMP the first one wrote
  // and finds the day's work done.
  if (context_.lock != nullptr) {
    context_.lock->Acquire(context_.host, context_.failures);
  }
  stop_ = false;
  run_ = RunState();
  SettingsStore& settings = *context_.settings;

  std::string backup =
      settings.Read(texts::kBasicSection, texts::kBackup, texts::kOff);
  if (backup == texts::kOn) {
    run_.mode = TransferMode::kCopy;
  } else if (backup != texts::kOff) {
    // An unknown value becomes "On" for the next run; this run moves.
    WriteSetting(texts::kBasicSection, texts::kBackup, texts::kOn);
  }
  if (settings.Read(texts::kBasicSection, texts::kMessage, "") == texts::kOn) {
    run_.message_boxes = MessageBoxes::kOn;
  } else {
    WriteSetting(texts::kBasicSection, texts::kMessage, texts::kOff);
  }

  // Work whose date cannot be recorded would be done again by the next
  // run: a move of today's file onto the name of a date that is long gone.
  // Such a run only reads and checks the jobs' keys.
  const std::string today = FormatDateText(context_.disk->env()->Today());
  file_work_ = true;
  if (settings.Read(texts::kBasicSection, texts::kTimestamp, "") !=
      texts::kForcedTimestamp) {
    FileChange change;
    Status check = settings.CheckWrite(
        texts::kBasicSection, texts::kTimestamp, today,
        context_.disk->kind() == RunKind::kDryRun ? SaveStep::kForesee
                                                  : SaveStep::kFirstOnly,
        &change);
    if (!check.ok()) {
      context_.failures->Report(
          Status::Error(check.message() +
                        "; the date of this run could not be recorded, "
                        "so it moves, copies and deletes nothing"));
      file_work_ = false;
    }
  }

  for (int job = 1; job <= kMaxJobs && !stop_; ++job) ProcessJob(job);

  if (settings.Read(texts::kBasicSection, texts::kTimestamp, "") !=
          texts::kForcedTimestamp &&
      file_work_) {
    WriteSetting(texts::kBasicSection, texts::kTimestamp,
                 FormatDateText(context_.disk->env()->Today()));
  }
  // The settings are written: a run that starts now finds the day's work
  // done, and need not wait for a person to close the message.
  if (context_.lock != nullptr) context_.lock->Release();
  if (run_.message_boxes == MessageBoxes::kOn) {
    context_.host->ShowMessage(texts::kRunDone);
  }
  context_.host->EndRun();
}

void JobEngine::ProcessJob(int job_number) {
  Job job;
  run_.work_message.clear();
  list_ends_here_ = false;
  if (!ReadFolderKey(job_number, texts::kDirNameFrom, &job.source_folder) ||
      !ReadFolderKey(job_number, texts::kDirNameTo, &job.target_folder)) {
    return;
  }

  // The target folders are created before the remaining keys are checked.
  std::unique_ptr<Folder> target;
  Status target_status;
  if (file_work_) {
    target_status = MakeDirectoryPath(context_.disk, context_.actions,
                                      job.target_folder, &target);
    if (!target_status.ok()) context_.failures->Report(target_status);
  }

  std::string key = JobKey(job_number, texts::kFileName);
  if (ReadKey(job_number, texts::kJobSection, texts::kFileName,
              &job.file_name) &&
      job.file_name.empty()) {
    WriteSetting(texts::kJobSection, key, "");
    stop_ = true;
    ReportUnusable(job_number, key, job.file_name,
                   "is empty; the job list ends with job %s");
  }

  key = JobKey(job_number, texts::kKind);
  if (ReadKey(job_number, texts::kJobSection, texts::kKind, &job.kind) &&
      job.kind.find('*') == std::string::npos && Cp932Length(job.kind) != 3) {
    WriteSetting(texts::kJobSection, key, "");
    stop_ = true;
    ReportUnusable(job_number, key, job.kind,
                   "is not three bytes long (in code page 932) and holds "
                   "no \"*\"; it was emptied and the job list ends with "
                   "job %s");
  }

  key = JobKey(job_number, texts::kDeleteDay);
  std::string retention;
  if (ReadKey(job_number, texts::kJobSection, texts::kDeleteDay, &retention)) {
    const long long days = LeadingInteger(retention);
    if (days >= 1 && days <= 9999) {
      job.retention_days = static_cast<int>(days);
    } else {
      // Empty and "0" are the ways to say "no retention"; anything else that
      // does not read as 1 to 9999 days is a slip the user should hear of.
      if (!retention.empty() && retention != "0") {
        ReportUnusable(job_number, key, retention,
                       "is not a number of days from 1 to 9999; it was set "
                       "to 0, so job %s keeps its dated copies for ever");
      }
      WriteSetting(texts::kJobSection, key, "0");
    }
  }

  std::string delete_all;
  if (ReadKey(job_number, texts::kHiddenSection, texts::kDeleteAll,
              &delete_all) &&
      delete_all == texts::kOn) {
    job.delete_all = DeleteAll::kYes;
  }

  if (stop_ || !file_work_) return;

  // Today is taken once, so the rotation and the expiry of the job agree.
  const RunDates dates = SettleRunDates(
      FormatDateText(context_.disk->env()->Today()),
      context_.settings->Read(texts::kBasicSection, texts::kTimestamp, ""));
  if (RotationDue(dates)) {
    RotateJob(context_, job, dates, target.get(), &run_);
  }
  if (target != nullptr && ExpiryDue(dates, job.retention_days)) {
    ExpireJob(context_, job, dates, *target, &run_);
  }

  run_.work_message = texts::kJobDone;
  context_.host->ShowStatus(run_.work_message);
}

bool JobEngine::ReadKey(int job_number, const char* section,
                        const char* suffix, std::string* value) {
  const std::string key = JobKey(job_number, suffix);
  *value = context_.settings->Read(section, key, "");
  if (value->find('\0') == std::string::npos) return true;
  // A NUL byte would end the name where the system reads it: another file.
  ReportUnusable(job_number, key, *value,
                 "holds a NUL byte; the job list ends with job %s");
  stop_ = true;
  return false;
}

bool JobEngine::ReadFolderKey(int job_number, const char* suffix,
                              std::string* folder) {
  if (!ReadKey(job_number, texts::kJobSection, suffix, folder)) return false;
  if (!folder->empty()) return true;
  // An empty folder key ends the job list as meant (job 1 of a new file
  // too); what is written back on that job is no news.
  stop_ = true;
  list_ends_here_ = true;
  if (job_number != 1) return false;
  WriteSetting(texts::kJobSection, JobKey(job_number, suffix), "");
  *folder = context_.current_directory;
  return true;
}

void JobEngine::ReportUnusable(int job_number, const std::string& key,
                               const std::string& value,
                               const char* what_follows) {
  if (list_ends_here_) return;
  const std::string number = JobKey(job_number, "");
  context_.failures->Report(
      Status::Error(context_.settings->path() + ": " + key + "=\"" + value +
                    "\" " + FormatText(what_follows, {number})));
}

void JobEngine::WriteSetting(const char* section, const std::string& key,
                             const std::string& value) {
  Status saved = WriteRunSetting(context_, section, key, value);
  if (!saved.ok()) context_.failures->Report(saved);
}

}  // namespace dravelkent
