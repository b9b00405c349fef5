#include "jobs/job_engine.h"

#include <cerrno>
#include <cstdio>

#include "base/cp932.h"
#include "base/text_util.h"
#include "jobs/dates.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// Returns the key name "%02d%s" of |suffix| for job |job_number|.
std::string JobKey(int job_number, const char* suffix) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d", job_number);
  return number + std::string(suffix);
}

}  // namespace

void ActionLog::FolderMade(const std::string& folder) {
  if (out_) Write("mkdir " + EscapeForLine(folder));
}

void ActionLog::Moved(const std::string& from, const std::string& to) {
  if (out_) Write("move " + EscapeForLine(from) + " -> " + EscapeForLine(to));
}

void ActionLog::Copied(const std::string& from, const std::string& to) {
  if (out_) Write("copy " + EscapeForLine(from) + " -> " + EscapeForLine(to));
}

void ActionLog::NotNewer(const std::string& from, const std::string& to) {
  if (out_) {
    Write("skip " + EscapeForLine(from) + " -> " + EscapeForLine(to) +
          " (not newer)");
  }
}

void ActionLog::Deleted(const std::string& file) {
  if (out_) Write("delete " + EscapeForLine(file));
}

void ActionLog::SettingWritten(const std::string& file,
                               std::string_view section, std::string_view key,
                               std::string_view value) {
  if (!out_) return;
  std::string line = "set " + EscapeForLine(file) + " [";
  line.append(section).append("] ").append(key).append("=");
  Write(line + EscapeForLine(value));
}

void ActionLog::Write(const std::string& line) {
  if (!status_.ok()) return;
  const std::string text = line + "\n";
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() ||
      std::fflush(out_) != 0) {
    status_ = Status::FromErrno("cannot write the action lines to",
                                "standard output", errno);
  }
}

void StreamFailureLog::Report(const Status& status) {
  failed_ = true;
  if (written_.insert(status.message()).second) Note(status.message());
}

void StreamFailureLog::Note(const std::string& text) {
  std::fprintf(stream_, "dravelkent: %s\n", EscapeForLine(text).c_str());
  std::fflush(stream_);
}

void RunLock::Acquire(Host* host, FailureLog* failures) {
  if (tried_) return;
  tried_ = true;
  const SaveStep step =
      disk_->kind() == RunKind::kDryRun ? SaveStep::kForesee : SaveStep::kAll;
  auto lock = [&](const std::string& path) {
    return disk_->env()->LockFile(
        path, step,
        [&] {
          const std::string waiting =
              "waiting for the run in progress to finish (" + path + ")";
          failures->Note(waiting);
          host->ShowStatus(waiting);
        },
        &lock_);
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
  Status written = context.disk->kind() == RunKind::kDryRun
                       ? context.settings->CheckWrite(
                             section, key, value, SaveStep::kForesee, &change)
                       : context.settings->Write(section, key, value, &change);
  if (written.ok() && change == FileChange::kChanged) {
    context.actions->SettingWritten(context.settings->path(), section, key,
                                    value);
    // A save by rename makes the settings file anew: protected anew.
    FileId id;
    if (context.settings->FindFile(&id)) context.disk->ProtectSettings(id);
  }
  return written;
}

void JobEngine::RunAllJobs() {
  if (context_.lock != nullptr) {
    context_.lock->Acquire(context_.host, context_.failures);
  }
  stop_ = false;
  run_ = Shared();
  SettingsStore& settings = *context_.settings;

  std::string backup =
      settings.Read(texts::kBasicSection, texts::kBackup, texts::kOff);
  if (backup == texts::kOn) {
    run_.mode = TransferMode::kCopy;
  } else if (backup != texts::kOff) {
    // An unknown value becomes "On" for the next run; this run moves.
    WriteSetting(texts::kBasicSection, texts::kBackup, texts::kOn);
  }
  run_.message_boxes =
      settings.Read(texts::kBasicSection, texts::kMessage, "") == texts::kOn;
  if (!run_.message_boxes) {
    WriteSetting(texts::kBasicSection, texts::kMessage, texts::kOff);
  }

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
  if (context_.lock != nullptr) context_.lock->Release();
  if (run_.message_boxes) context_.host->ShowMessage(texts::kRunDone);
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

  std::unique_ptr<Folder> target;
  if (file_work_) {
    Status made = MakeDirectoryPath(context_.disk, context_.actions,
                                    job.target_folder, &target);
    if (!made.ok()) context_.failures->Report(made);
  }

  if (ReadKey(job_number, texts::kJobSection, texts::kFileName,
              &job.file_name) &&
      job.file_name.empty()) {
    WriteSetting(texts::kJobSection, JobKey(job_number, texts::kFileName), "");
    stop_ = true;
    ReportUnusable(job_number, texts::kFileName, job.file_name,
                   "is empty; the job list ends with job %s");
  }

  // KIND is measured in code page 932 bytes, whatever the file's encoding.
  std::string cp932;
  if (ReadKey(job_number, texts::kJobSection, texts::kKind, &job.kind) &&
      job.kind.find('*') == std::string::npos &&
      (!Utf8ToCp932(job.kind, &cp932) || cp932.size() != 3)) {
    WriteSetting(texts::kJobSection, JobKey(job_number, texts::kKind), "");
    stop_ = true;
    ReportUnusable(job_number, texts::kKind, job.kind,
                   "is not three bytes long (in code page 932) and holds "
                   "no \"*\"; it was emptied and the job list ends with "
                   "job %s");
  }

  std::string retention;
  if (ReadKey(job_number, texts::kJobSection, texts::kDeleteDay, &retention)) {
    const long long days = LeadingInteger(retention);
    if (days >= 1 && days <= 9999) {
      job.retention_days = static_cast<int>(days);
    } else {
      if (!retention.empty() && retention != "0") {
        ReportUnusable(job_number, texts::kDeleteDay, retention,
                       "is not a number of days from 1 to 9999; it was set "
                       "to 0, so job %s keeps its dated copies for ever");
      }
      WriteSetting(texts::kJobSection, JobKey(job_number, texts::kDeleteDay),
                   "0");
    }
  }

  std::string delete_all;
  job.delete_all = ReadKey(job_number, texts::kHiddenSection, texts::kDeleteAll,
                           &delete_all) &&
                   delete_all == texts::kOn;

  if (stop_ || !file_work_) return;

  const RunDates dates = SettleRunDates(
      FormatDateText(context_.disk->env()->Today()),
      context_.settings->Read(texts::kBasicSection, texts::kTimestamp, ""));
  if (RotationDue(dates)) Rotate(job, dates, target.get());
  if (target != nullptr && ExpiryDue(dates, job.retention_days)) {
    Expire(job, dates, *target);
  }

  run_.work_message = texts::kJobDone;
  context_.host->ShowStatus(run_.work_message);
}

bool JobEngine::ReadKey(int job_number, const char* section, const char* suffix,
                        std::string* value) {
  *value = context_.settings->Read(section, JobKey(job_number, suffix), "");
  if (value->find('\0') == std::string::npos) return true;
  ReportUnusable(job_number, suffix, *value,
                 "holds a NUL byte; the job list ends with job %s");
  stop_ = true;
  return false;
}

bool JobEngine::ReadFolderKey(int job_number, const char* suffix,
                              std::string* folder) {
  if (!ReadKey(job_number, texts::kJobSection, suffix, folder)) return false;
  if (!folder->empty()) return true;
  stop_ = true;
  list_ends_here_ = true;
  if (job_number != 1) return false;
  WriteSetting(texts::kJobSection, JobKey(job_number, suffix), "");
  *folder = context_.current_directory;
  return true;
}

void JobEngine::ReportUnusable(int job_number, const char* suffix,
                               const std::string& value, const char* what) {
  if (list_ends_here_) return;
  context_.failures->Report(Status::Error(
      context_.settings->path() + ": " + JobKey(job_number, suffix) + "=\"" +
      value + "\" " + FormatText(what, {JobKey(job_number, "")})));
}

void JobEngine::WriteSetting(const char* section, const std::string& key,
                             const std::string& value) {
  Status saved = WriteRunSetting(context_, section, key, value);
  if (!saved.ok()) context_.failures->Report(saved);
}

}  // namespace dravelkent
