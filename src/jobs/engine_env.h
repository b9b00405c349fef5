#pragma once

#include <string>
#include <string_view>

#include "fsutil/disk_interface.h"
#include "jobs/action_log.h"
#include "jobs/clock.h"
#include "jobs/failure_log.h"
#include "jobs/host.h"
#include "jobs/run_lock.h"
#include "settings/settings_store.h"

namespace dravelkent {

// Whether a run changes anything: a dry run (kDryRun) reads as a real run
// does and tells what it would do, through a disk that changes nothing and
// with no settings written.
enum class RunKind { kReal, kDryRun };

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
  RunKind run_kind = RunKind::kReal;
  // Told every action; null tells none. The disk tells its own changes
  // when it is wrapped to (ReportingDiskInterface).
  ActionLog* actions = nullptr;
};

// Sets |key| in |section| of env.settings to |value| as the run's kind
// says: a real run saves it and, when the file's bytes changed, tells
// env.actions; a dry run saves nothing and tells env.actions of a value
// that would change the file. Returns ok, or the failure the write gave (or
// would give).
Status WriteRunSetting(const EngineEnv& env, std::string_view section,
                       std::string_view key, std::string_view value);

}  // namespace dravelkent
