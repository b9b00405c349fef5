#pragma once

#include <cstdio>
#include <string>

#include "fsutil/real_disk_interface.h"
#include "jobs/clock.h"
#include "jobs/failure_log.h"
#include "jobs/host.h"
#include "jobs/job_engine.h"
#include "jobs/run_lock.h"
#include "settings/settings_store.h"

namespace dravelkent {

// Returns the settings path for the folder |current_directory|: the folder,
// "/" and "Dravelkent.ini".
std::string SettingsPathFor(const std::string& current_directory);

// The real settings file, file system, clock, failure log and run lock of a
// run in one folder, with the settings file in that folder: what the
// start-up sequence hands the engine, whichever front end shows the run.
class RunServices {
 public:
  // Failures are written to |err|.
  RunServices(const std::string& current_directory, std::FILE* err);

  // Returns the engine's environment, with |host| showing the run.
  EngineEnv EnvFor(Host* host);

  SettingsStore* settings() { return &settings_; }
  FailureLog* failures() { return &failures_; }
  RunLock* run_lock() { return &run_lock_; }

  // Returns the exit status: 0 when nothing failed, 1 otherwise.
  int ExitStatus() const { return failures_.count() > 0 ? 1 : 0; }

 private:
  std::string current_directory_;
  SettingsStore settings_;
  RealDiskInterface disk_;
  SystemClock clock_;
  StreamFailureLog failures_;
  RunLock run_lock_;
};

}  // namespace dravelkent
