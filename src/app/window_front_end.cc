#include "app/window_front_end.h"

#include <exception>
#include <functional>

#include "app/start_up.h"
#include "jobs/job_engine.h"

namespace dravelkent {
namespace {

// Says an exception that must not cross the module boundary.
void ReportException(std::FILE* err) {
  try {
    throw;
  } catch (const std::exception& error) {
    std::fprintf(err, "dravelkent: %s\n", error.what());
  } catch (...) {
    std::fprintf(err, "dravelkent: unexpected error\n");
  }
}

// The window module's main window as the host of the start-up sequence.
// Remembers whether any of its operations failed, as that must fail the
// run too.
class WindowHost : public Host {
 public:
  WindowHost(const DravelkentGuiHost* window, std::FILE* err)
      : window_(window), err_(err) {}

  void ShowStatus(const std::string& text) override {
    Check(window_->show_status(window_->window, text.data(), text.size()));
  }
  void ShowMessage(const std::string& text) override {
    Check(window_->show_message(window_->window, text.data(), text.size()));
  }
  void EndRun() override { Check(window_->end_run(window_->window)); }
  void WaitForUser(const std::function<void()>& run) override {
    run_ = &run;
    Check(window_->wait_for_user(window_->window, &WindowHost::Run, this));
    run_ = nullptr;
  }

  bool failed() const { return failed_; }

 private:
  // Runs the jobs when the window's "実行" asks for it. Returns 0, or -1
  // when the run threw.
  static int Run(void* self) {
    auto* host = static_cast<WindowHost*>(self);
    try {
      (*host->run_)();
      return 0;
    } catch (...) {
      ReportException(host->err_);
    }
    return -1;
  }

  void Check(int result) {
    if (result != 0) failed_ = true;
  }

  const DravelkentGuiHost* window_;
  std::FILE* err_;
  const std::function<void()>* run_ = nullptr;
  bool failed_ = false;
};

struct StartUpContext {
  const std::string* current_directory;
  const RunOptions* options;
  std::FILE* out;
  std::FILE* err;
};

// The start-up sequence as the module calls it, once its window is built.
int StartUpInWindow(void* context, const DravelkentGuiHost* window) {
  auto* start = static_cast<StartUpContext*>(context);
  try {
    WindowHost host(window, start->err);
    int status = RunStartUp(*start->current_directory, *start->options, &host,
                            start->out, start->err);
    return host.failed() ? 1 : status;
  } catch (...) {
    ReportException(start->err);
  }
  return 1;
}

}  // namespace

WindowOutcome RunInWindow(DravelkentGuiMainFunction gui_main,
                          const std::string& current_directory,
                          const RunOptions& options, std::FILE* out,
                          std::FILE* err, int* exit_status) {
  StartUpContext context{&current_directory, &options, out, err};
  DravelkentGuiStartArgs args;
  args.struct_size = static_cast<int>(sizeof args);
  args.start_up = StartUpInWindow;
  args.start_up_context = &context;
  int status = gui_main(&args);
  if (status == kDravelkentGuiUnavailable) return WindowOutcome::kUnavailable;
  *exit_status = status;
  return WindowOutcome::kRan;
}

}  // namespace dravelkent
