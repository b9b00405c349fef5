#include "app/start_up.h"

#include "app/run_services.h"
#include "jobs/job_engine.h"
#include "jobs/texts.h"

namespace dravelkent {

int RunStartUp(const std::string& current_directory, FrontEndHost* host,
               std::FILE* err) {
  RunServices services(current_directory, err);
  JobEngine engine(services.EnvFor(host));
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
    if (Status locked = services.run_lock()->Acquire(); !locked.ok()) {
      services.failures()->Report(locked);
    }
    if (Status saved =
            settings->Write(texts::kBasicSection, texts::kView, texts::kOff);
        !saved.ok()) {
      services.failures()->Report(saved);
    }
    engine.RunAllJobs();
  } else {
    // No lock while the user makes up their mind: RunAllJobs takes it.
    host->WaitForUser([&engine] { engine.RunAllJobs(); });
  }
  return services.ExitStatus();
}

}  // namespace dravelkent
