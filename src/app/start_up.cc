#include "app/start_up.h"

#include "app/run_services.h"
#include "jobs/job_engine.h"
#include "jobs/texts.h"

namespace dravelkent {
namespace {

// A dry run's front end: it shows nothing and asks nothing, as no one is to
// acknowledge what did not happen.
class SilentHost : public FrontEndHost {
 public:
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void EndRun() override {}
  void WaitForUser(const std::function<void()>& run) override { run(); }
};

}  // namespace

int RunStartUp(const std::string& current_directory, const RunOptions& options,
               FrontEndHost* host, std::FILE* out, std::FILE* err) {
  SilentHost silent;
  const bool dry_run = options.run_kind == RunKind::kDryRun;
  if (dry_run) host = &silent;
  RunServices services(current_directory, options, out, err);
  const EngineEnv env = services.EnvFor(host);
  JobEngine engine(env);
  SettingsStore* settings = services.settings();

  if (Status readable = settings->CheckReadable(); !readable.ok()) {
    services.failures()->Report(readable);
  }
  host->ShowStatus(texts::kStartStatus);

  std::string view =
      settings->Read(texts::kBasicSection, texts::kView, texts::kOff);
  if (view == texts::kOff) {
    // The run starts now. A save replaces the whole file with what it read:
    // made beside another run's saves, it could undo the TIMESTAMP that run
    // has just written, so the lock comes before the first one.
    if (env.run_lock != nullptr) {
      if (Status locked = env.run_lock->Acquire(); !locked.ok()) {
        services.failures()->Report(locked);
      }
    }
    if (Status saved = WriteRunSetting(env, texts::kBasicSection, texts::kView,
                                       texts::kOff);
        !saved.ok()) {
      services.failures()->Report(saved);
    }
    engine.RunAllJobs();
  } else {
    // No lock while the user makes up their mind: RunAllJobs takes it. A
    // dry run's silent host runs at once.
    host->WaitForUser([&engine] { engine.RunAllJobs(); });
  }
  return services.ExitStatus();
}

}  // namespace dravelkent
