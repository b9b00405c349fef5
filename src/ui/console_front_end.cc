#include "ui/console_front_end.h"

#include <unistd.h>

#include "fsutil/real_disk_interface.h"
#include "jobs/clock.h"
#include "jobs/failure_log.h"
#include "jobs/job_engine.h"
#include "jobs/run_lock.h"
#include "jobs/texts.h"
#include "settings/settings_store.h"
#include "ui/console_host.h"

namespace dravelkent {
namespace {

Terminal TerminalOf(std::FILE* stream) {
  return isatty(fileno(stream)) ? Terminal::kYes : Terminal::kNo;
}

}  // namespace

int RunConsoleFrontEnd(const std::string& current_directory, std::FILE* in,
                       std::FILE* out, std::FILE* err) {
  SettingsStore settings(SettingsPathFor(current_directory));
  RealDiskInterface disk;
  SystemClock clock;
  StreamFailureLog failures(err);
  ConsoleHost host(in, out, TerminalOf(in), TerminalOf(out));
  RunLock run_lock(current_directory);

  EngineEnv env;
  env.settings = &settings;
  env.disk = &disk;
  env.clock = &clock;
  env.host = &host;
  env.failures = &failures;
  env.current_directory = current_directory;
  env.run_lock = &run_lock;
  JobEngine engine(env);

  if (Status readable = settings.CheckReadable(); !readable.ok()) {
    failures.Report(readable);
  }
  host.ShowStatus(texts::kStartStatus);
  if (ReadStartMode(&settings, &failures, &run_lock) ==
          StartMode::kRunAtOnce ||
      host.AskToRun(texts::kStartStatus)) {
    engine.RunAllJobs();
  }
  return failures.count() > 0 ? 1 : 0;
}

}  // namespace dravelkent
