#pragma once

#include <string>

#include "fsutil/disk_interface.h"
#include "jobs/clock.h"
#include "jobs/failure_log.h"
#include "jobs/host.h"
#include "jobs/run_lock.h"
#include "settings/settings_store.h"

namespace dravelkent {

// Everything the engine works with, owned by the caller.
struct EngineEnv {
  SettingsStore* settings = nullptr;
  DiskInterface* disk = nullptr;
  Clock* clock = nullptr;
  Host* host = nullptr;
  FailureLog* failures = nullptr;
  // The process's current directory at start-up; job 1 falls back to it.
  std::string current_directory;
  // Taken before the run's first read of the settings that leads to work;
  // null runs without a lock.
  RunLock* run_lock = nullptr;
};

}  // namespace dravelkent
