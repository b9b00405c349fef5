#include "jobs/job_engine.h"

#include <cstdio>

#include "base/text_util.h"
#include "jobs/expiry.h"
#include "jobs/make_directory_path.h"
#include "jobs/rotation.h"
#include "jobs/texts.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

// Returns the length of |text| (UTF-8) in code page 932 bytes, which is how
// KIND is measured whatever the settings file's encoding; std::string::npos
// when |text| has no code page 932 form.
size_t Cp932Length(const std::string& text) {
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  if (ascii) return text.size();
  std::string bytes;
  TextCodec codec(TextEncoding::kCp932);
  return codec.Encode(text, &bytes) ? bytes.size() : std::string::npos;
}

}  // namespace

JobEngine::JobEngine(const EngineEnv& env) : env_(env) {}

void JobEngine::RunAllJobs() {
  if (env_.run_lock != nullptr) {
    // A second run waits here, then reads the TIMESTAMP the first one wrote
    // and finds the day's work done.
    if (Status locked = env_.run_lock->Acquire(); !locked.ok()) {
      env_.failures->Report(locked);
    }
  }
  stop_ = false;
  run_ = RunState();

  std::string backup =
      env_.settings->Read(texts::kBasicSection, texts::kBackup, texts::kOff);
  if (backup == texts::kOn) {
    run_.mode = TransferMode::kCopy;
  } else if (backup != texts::kOff) {
    // An unknown value becomes "On" for the next run; this run moves.
    WriteSetting(texts::kBasicSection, texts::kBackup, texts::kOn);
  }

  std::string message =
      env_.settings->Read(texts::kBasicSection, texts::kMessage, "");
  if (message == texts::kOn) {
    run_.message_boxes = MessageBoxes::kOn;
  } else {
    WriteSetting(texts::kBasicSection, texts::kMessage, texts::kOff);
  }

  // Work whose date cannot be recorded would be done again by the next
  // run: a move of today's file onto the name of a date that is long gone.
  // Such a run only reads and checks the jobs' keys.
  file_work_ = FileWork::kAllowed;
  if (env_.settings->Read(texts::kBasicSection, texts::kTimestamp, "") !=
      texts::kForcedTimestamp) {
    // A dry run only works the write out: the probe's temporary file would
    // change the folder.
    const std::string today = FormatDateText(env_.clock->Today());
    FileChange change;
    Status probe =
        env_.run_kind == RunKind::kDryRun
            ? env_.settings->PreviewWrite(texts::kBasicSection,
                                          texts::kTimestamp, today, &change)
            : env_.settings->ProbeWrite(texts::kBasicSection, texts::kTimestamp,
                                        today);
    if (!probe.ok()) {
      env_.failures->Report(
          Status::Error(probe.message() +
                        "; the date of this run could not be recorded, "
                        "so it moves, copies and deletes nothing"));
      file_work_ = FileWork::kWithheld;
    }
  }

  for (int job = 1; job <= kMaxJobs && !stop_; ++job) {
    ProcessJob(job);
  }

  std::string timestamp =
      env_.settings->Read(texts::kBasicSection, texts::kTimestamp, "");
  if (timestamp != texts::kForcedTimestamp &&
      file_work_ == FileWork::kAllowed) {
    WriteSetting(texts::kBasicSection, texts::kTimestamp,
                 FormatDateText(env_.clock->Today()));
  }

  // The settings are written: a run that starts now finds the day's work
  // done, and need not wait for a person to close the message.
  if (env_.run_lock != nullptr) env_.run_lock->Release();
  if (run_.message_boxes == MessageBoxes::kOn) {
    env_.host->ShowMessage(texts::kRunDone);
  }
  env_.host->EndRun();
}

void JobEngine::ProcessJob(int job_number) {
  job_ = Job();
  run_.work_message.clear();

  if (!ReadFolderKey(job_number, texts::kDirNameFrom, &job_.source_folder)) {
    return;
  }
  if (!ReadFolderKey(job_number, texts::kDirNameTo, &job_.target_folder)) {
    return;
  }
  // An empty folder key ends the job list as meant (job 1 of a new file
  // too); what is written back on that job is no news. A key that is
  // unusable after the folders were given is a mistake to be told of.
  const bool list_ends_here = stop_;

  // The target folders are created before the remaining keys are checked.
  if (file_work_ == FileWork::kAllowed) {
    if (Status made = MakeDirectoryPath(env_.disk, job_.target_folder);
        !made.ok()) {
      env_.failures->Report(made);
    }
  }

  std::string key = JobKey(job_number, texts::kFileName);
  job_.file_name = env_.settings->Read(texts::kJobSection, key, "");
  if (job_.file_name.empty()) {
    WriteSetting(texts::kJobSection, key, "");
    stop_ = true;
    if (!list_ends_here) {
      ReportUnusable(job_number, key, job_.file_name,
                     "is empty; the job list ends with job %s");
    }
  }

  key = JobKey(job_number, texts::kKind);
  job_.kind = env_.settings->Read(texts::kJobSection, key, "");
  if (job_.kind.find('*') == std::string::npos && Cp932Length(job_.kind) != 3) {
    WriteSetting(texts::kJobSection, key, "");
    stop_ = true;
    if (!list_ends_here) {
      ReportUnusable(job_number, key, job_.kind,
                     "is not three bytes long (in code page 932) and holds "
                     "no \"*\"; it was emptied and the job list ends with "
                     "job %s");
    }
  }

  key = JobKey(job_number, texts::kDeleteDay);
  const std::string retention =
      env_.settings->Read(texts::kJobSection, key, "");
  const long long days = LeadingInteger(retention);
  if (days >= 1 && days <= 9999) {
    job_.retention_days = static_cast<int>(days);
  } else {
    // Empty and "0" are the ways to say "no retention"; anything else that
    // does not read as 1 to 9999 days is a slip the user should hear of.
    if (!list_ends_here && !retention.empty() && retention != "0") {
      ReportUnusable(job_number, key, retention,
                     "is not a number of days from 1 to 9999; it was set to "
                     "0, so job %s keeps its dated copies for ever");
    }
    WriteSetting(texts::kJobSection, key, "0");
  }

  key = JobKey(job_number, texts::kDeleteAll);
  if (env_.settings->Read(texts::kHiddenSection, key, "") == texts::kOn) {
    job_.delete_all = DeleteAll::kYes;
  }

  if (stop_ || file_work_ == FileWork::kWithheld) return;

  // Today is taken once, so the rotation and the expiry of the job agree.
  const RunDates dates = SettleRunDates(
      FormatDateText(env_.clock->Today()),
      env_.settings->Read(texts::kBasicSection, texts::kTimestamp, ""));
  if (RotationDue(dates)) RotateJob(env_, job_, dates, &run_);
  if (ExpiryDue(dates, job_.retention_days)) {
    ExpireJob(env_, job_, dates, &run_);
  }

  run_.work_message = texts::kJobDone;
  env_.host->ShowStatus(run_.work_message);
}

std::string JobEngine::JobKey(int job_number, const char* suffix) {
  char number[16];
  std::snprintf(number, sizeof number, "%02d", job_number);
  return std::string(number) + suffix;
}

bool JobEngine::ReadFolderKey(int job_number, const char* suffix,
                              std::string* folder) {
  std::string key = JobKey(job_number, suffix);
  *folder = env_.settings->Read(texts::kJobSection, key, "");
  if (!folder->empty()) {
    if (folder->back() != '/') folder->push_back('/');
    return true;
  }
  stop_ = true;
  if (job_number != 1) return false;
  WriteSetting(texts::kJobSection, key, "");
  *folder = env_.current_directory + "/";
  return true;
}

void JobEngine::ReportUnusable(int job_number, const std::string& key,
                               const std::string& value,
                               const char* what_follows) {
  const std::string number = JobKey(job_number, "");
  env_.failures->Report(Status::Error(env_.settings->path() + ": " + key +
                                      "=\"" + value + "\" " +
                                      FormatText(what_follows, {number})));
}

void JobEngine::WriteSetting(const char* section, const std::string& key,
                             const std::string& value) {
  Status saved = WriteRunSetting(env_, section, key, value);
  if (!saved.ok()) env_.failures->Report(saved);
}

}  // namespace dravelkent
