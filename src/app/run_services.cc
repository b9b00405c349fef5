#include "app/run_services.h"

#include "fsutil/dry_run_disk_interface.h"
#include "fsutil/reporting_disk_interface.h"

namespace dravelkent {
namespace {

constexpr char kSettingsFileName[] = "Dravelkent.ini";

}  // namespace

std::string SettingsPathFor(const std::string& current_directory) {
  return current_directory + "/" + kSettingsFileName;
}

RunServices::RunServices(const std::string& current_directory,
                         const RunOptions& options, std::FILE* out,
                         std::FILE* err)
    : current_directory_(current_directory),
      run_kind_(options.run_kind),
      settings_(SettingsPathFor(current_directory)),
      disk_(&real_disk_),
      failures_(err),
      run_lock_(current_directory) {
  if (run_kind_ == RunKind::kDryRun) {
    dry_run_disk_ = std::make_unique<DryRunDiskInterface>(disk_);
    disk_ = dry_run_disk_.get();
  }
  if (options.action_lines == ActionLines::kOn) {
    actions_ = std::make_unique<ActionLog>(out);
    reporting_disk_ =
        std::make_unique<ReportingDiskInterface>(disk_, actions_.get());
    disk_ = reporting_disk_.get();
  }
}

RunServices::~RunServices() = default;

int RunServices::ExitStatus() {
  if (actions_ != nullptr && !actions_->status().ok()) {
    failures_.Report(actions_->status());
  }
  return failures_.count() > 0 ? 1 : 0;
}

EngineEnv RunServices::EnvFor(Host* host) {
  EngineEnv env;
  env.settings = &settings_;
  env.disk = disk_;
  env.clock = &clock_;
  env.host = host;
  env.failures = &failures_;
  env.current_directory = current_directory_;
  // A dry run changes nothing that a lock would guard.
  env.run_lock = run_kind_ == RunKind::kDryRun ? nullptr : &run_lock_;
  env.run_kind = run_kind_;
  env.actions = actions_.get();
  return env;
}

}  // namespace dravelkent
