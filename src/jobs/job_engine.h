#pragma once

#include <string>

#include "jobs/engine_env.h"
#include "jobs/job.h"

namespace dravelkent {

// Whether the run may touch the jobs' files and folders.
enum class FileWork { kAllowed, kWithheld };

// The run over the numbered jobs.
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

 private:
  // Processes one job: reads and checks its keys, creates its target folder
  // and, when the keys are usable, does its file work: the rotation when it
  // is due, then the expiry of dated copies when that is due. Sets the stop
  // flag when the job list ends here. A FILENAME, KIND or DELETEDAY that is
  // unusable although the folder keys are given is reported as a failure.
  void ProcessJob(int job_number);

  // Returns the key name of |suffix| for |job_number|: "%02d%s".
  static std::string JobKey(int job_number, const char* suffix);

  // Reads a folder key (DIRNAMEFROM or DIRNAMETO) into |*folder|. Returns
  // false when the job ends at once (later jobs with an empty key).
  bool ReadFolderKey(int job_number, const char* suffix, std::string* folder);

  // Reports the job's unusable |key|, which held |value|, to the failure
  // log: the settings path, key="value", then |what_follows| with "%s" as
  // the job's two-digit number.
  void ReportUnusable(int job_number, const std::string& key,
                      const std::string& value, const char* what_follows);

  // Writes a key and reports a failed save.
  void WriteSetting(const char* section, const std::string& key,
                    const std::string& value);

  EngineEnv env_;

  bool stop_ = false;
  FileWork file_work_ = FileWork::kAllowed;
  RunState run_;
  Job job_;  // the job at hand
};

}  // namespace dravelkent
