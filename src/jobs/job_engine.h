#pragma once

#include <string>

#include "fsutil/tree_transfer.h"
#include "jobs/engine_env.h"
#include "jobs/fresh_copies.h"

namespace dravelkent {

struct RunDates;

// Whether the run may touch the jobs' files and folders.
enum class FileWork { kAllowed, kWithheld };

// The run over the numbered jobs and the state of the job at hand.
class JobEngine {
 public:
  static constexpr int kMaxJobs = 98;

  explicit JobEngine(const EngineEnv& env);

  // Takes the run lock (env.run_lock), settles the run-wide switches,
  // processes jobs 1 to 98 until the list ends, records the date of the run
  // in TIMESTAMP, lets the run lock go, shows the completion message when
  // messages are on and ends the run through the host. When TIMESTAMP
  // (unless "00000000") could not be saved, says so before the first job
  // and does no file work: the jobs' keys are still read and checked, no
  // folder is created, nothing is moved, copied or deleted, and TIMESTAMP
  // is left as it is.
  void RunAllJobs();

  // Processes one job: reads and checks its keys, creates its target folder
  // and, when the keys are usable, does its file work. Sets the stop flag
  // when the job list ends here. A FILENAME, KIND or DELETEDAY that is
  // unusable although the folder keys are given is reported as a failure.
  void ProcessJob(int job_number);

  bool stop() const { return stop_; }
  TransferMode mode() const { return mode_; }
  bool message_on() const { return message_on_; }

  // The fields of the job last processed.
  const std::string& source_folder() const { return source_folder_; }
  const std::string& target_folder() const { return target_folder_; }
  const std::string& file_name() const { return file_name_; }
  const std::string& kind() const { return kind_; }
  const std::string& retention_text() const { return retention_text_; }
  bool delete_all() const { return delete_all_; }
  const std::string& work_message() const { return work_message_; }

 private:
  // Returns the key name of |suffix| for |job_number|: "%02d%s".
  static std::string JobKey(int job_number, const char* suffix);

  // Reads a folder key (DIRNAMEFROM or DIRNAMETO) into |*folder|. Returns
  // false when the job ends at once (later jobs with an empty key).
  bool ReadFolderKey(int job_number, const char* suffix, std::string* folder);

  // The job's file work once its keys passed: the daily rotation when it is
  // due, then the expiry of dated copies when it is due.
  void DoFileWork();

  // The daily rotation of the job at hand: the tree transfer for a wildcard
  // job, else the move or copy of its one file (rotation.cc).
  void RunRotation(const RunDates& dates);

  // Hands a wildcard job's folder pair to the folder tree transfer, with
  // |today| as the date text of the names it writes (rotation.cc).
  void TransferTreeForJob(const std::string& today);

  // Deletes the job's expired dated copies (expiry.cc).
  void RunExpiry(const RunDates& dates);

  // Returns the retention days: the leading integer of the retention text,
  // 0 to 9999.
  int RetentionDays() const;

  // Reports the job's unusable |key|, which held |value|, to the failure
  // log: the settings path, key="value", then |what_follows| with "%s" as
  // the job's two-digit number.
  void ReportUnusable(int job_number, const std::string& key,
                      const std::string& value, const char* what_follows);

  // Writes a key and reports a failed save.
  void WriteSetting(const char* section, const std::string& key,
                    const std::string& value);

  void ShowStatus(const std::string& text);

  EngineEnv env_;

  // Run-wide state.
  bool stop_ = false;
  bool message_on_ = false;
  FileWork file_work_ = FileWork::kAllowed;
  TransferMode mode_ = TransferMode::kMove;

  // Job state, rewritten by every job.
  std::string source_folder_;
  std::string target_folder_;
  std::string last_run_date_;
  std::string retention_text_;
  std::string file_name_;
  std::string kind_;
  bool delete_all_ = false;
  std::string work_message_;
  FreshCopies fresh_copies_;
};

}  // namespace dravelkent
