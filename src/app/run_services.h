#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "fsutil/real_disk_interface.h"
#include "jobs/action_log.h"
#include "jobs/clock.h"
#include "jobs/engine_env.h"
#include "jobs/failure_log.h"
#include "jobs/host.h"
#include "jobs/run_lock.h"
#include "settings/settings_store.h"

namespace dravelkent {

// Returns the settings path for the folder |current_directory|: the folder,
// "/" and "Dravelkent.ini".
std::string SettingsPathFor(const std::string& current_directory);

// The real settings file, file system, clock, failure log and run lock of a
// run in one folder, with the settings file in that folder: what the
// start-up sequence hands the engine, whichever front end shows the run. A
// dry run gets a disk that changes nothing and no lock; a run with action
// lines gets a disk that tells its changes to the action log.
class RunServices {
 public:
  // Action lines are written to |out|, failures to |err|.
  RunServices(const std::string& current_directory, const RunOptions& options,
              std::FILE* out, std::FILE* err);
  ~RunServices();

  // Returns the engine's environment, with |host| showing the run.
  EngineEnv EnvFor(Host* host);

  SettingsStore* settings() { return &settings_; }
  FailureLog* failures() { return &failures_; }
  RunLock* run_lock() { return &run_lock_; }

  // Reports the action lines that could not be written, if any, and
  // returns the exit status: 0 when nothing failed, 1 otherwise.
  int ExitStatus();

 private:
  std::string current_directory_;
  RunKind run_kind_;
  SettingsStore settings_;
  RealDiskInterface real_disk_;
  std::unique_ptr<DiskInterface> dry_run_disk_;    // a dry run's
  std::unique_ptr<ActionLog> actions_;             // with action lines
  std::unique_ptr<DiskInterface> reporting_disk_;  // with action lines
  DiskInterface* disk_;                            // the one the jobs use
  SystemClock clock_;
  StreamFailureLog failures_;
  RunLock run_lock_;
};

}  // namespace dravelkent
