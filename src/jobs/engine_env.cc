#include "jobs/engine_env.h"

namespace dravelkent {

Status WriteRunSetting(const EngineEnv& env, std::string_view section,
                       std::string_view key, std::string_view value) {
  FileChange change = FileChange::kNone;
  Status written =
      env.run_kind == RunKind::kDryRun
          ? env.settings->PreviewWrite(section, key, value, &change)
          : env.settings->Write(section, key, value, &change);
  if (written.ok() && change == FileChange::kChanged &&
      env.actions != nullptr) {
    env.actions->OnSettingWritten(env.settings->path(), section, key, value);
  }
  return written;
}

}  // namespace dravelkent
