#include "ui/console_front_end.h"

#include <unistd.h>

#include "jobs/job_engine.h"
#include "jobs/run_services.h"
#include "jobs/texts.h"
#include "ui/console_host.h"

namespace dravelkent {
namespace {

Terminal TerminalOf(std::FILE* stream) {
  return isatty(fileno(stream)) ? Terminal::kYes : Terminal::kNo;
}

}  // namespace

int RunConsoleFrontEnd(const std::string& current_directory, std::FILE* in,
                       std::FILE* out, std::FILE* err) {
  RunServices services(current_directory, err);
  ConsoleHost host(in, out, TerminalOf(in), TerminalOf(out));
  JobEngine engine(services.EnvFor(&host));

  if (Status readable = services.settings()->CheckReadable(); !readable.ok()) {
    services.failures()->Report(readable);
  }
  host.ShowStatus(texts::kStartStatus);
  if (ReadStartMode(services.settings(), services.failures(),
                    services.run_lock()) == StartMode::kRunAtOnce ||
      host.AskToRun(texts::kStartStatus)) {
    engine.RunAllJobs();
  }
  return services.ExitStatus();
}

}  // namespace dravelkent
