#include "app/start_up.h"

#include "jobs/texts.h"

namespace dravelkent {
namespace {

constexpr char kSettingsFileName[] = "Dravelkent.ini";
constexpr char kLockFileName[] = "Dravelkent.lock";

// What shows a dry run: nothing, and no one is asked anything, as no one is
// to acknowledge what did not happen.
class NoDisplay : public Host {
 public:
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void EndRun() override {}
  void WaitForUser(const std::function<void()>& run) override { run(); }
};

std::string InFolder(const std::string& folder, const char* name) {
  return folder + kPathSeparator + name;
}

}  // namespace

std::string SettingsPathFor(const std::string& current_directory) {
  return InFolder(current_directory, kSettingsFileName);
}

int RunStartUp(const std::string& current_directory, const RunOptions& options,
               Host* host, std::FILE* out, std::FILE* err) {
  NoDisplay no_display;
  if (options.run_kind == RunKind::kDryRun) host = &no_display;
  Env* env = Env::Default();
  Disk disk(env, options.run_kind);
  SettingsStore settings(env, SettingsPathFor(current_directory));
  ActionLog actions(options.action_lines == ActionLines::kOn ? out : nullptr);
  StreamFailureLog failures(err);
  RunLock lock(&disk, InFolder(current_directory, kLockFileName),
               settings.path());
  FileId settings_file;
  if (settings.FindFile(&settings_file)) disk.Protect(settings_file);
  const RunContext context{&disk,     &settings, host,
                           &failures, &actions,  &lock,
                           current_directory};
  JobEngine engine(context);

  if (Status readable = settings.CheckReadable(); !readable.ok()) {
    failures.Report(readable);
  }
  host->ShowStatus(texts::kStartStatus);
  if (settings.Read(texts::kBasicSection, texts::kView, texts::kOff) ==
      texts::kOff) {
    // The run starts now. A save replaces the whole file with what it read:
    // made beside another run's saves, it could undo the TIMESTAMP that run
    // has just written, so the lock comes before the first one.
    lock.Acquire(host, &failures);
    if (Status saved = WriteRunSetting(context, texts::kBasicSection,
                                       texts::kView, texts::kOff);
        !saved.ok()) {
      failures.Report(saved);
    }
    engine.RunAllJobs();
  } else {
    // No lock while the user makes up their mind: RunAllJobs takes it.
    host->WaitForUser([&engine] { engine.RunAllJobs(); });
  }
  if (!actions.status().ok()) failures.Report(actions.status());
  return failures.count() > 0 ? 1 : 0;
}

}  // namespace dravelkent
