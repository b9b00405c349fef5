#include "app/start_up.h"

#include <exception>
#include <functional>

#include "base/system.h"
#include "base/text_util.h"
#include "jobs/texts.h"
#include "ui/console.h"
#include "ui/window/gui_module_abi.h"

namespace dravelkent {
namespace {

constexpr char kSettingsFileName[] = "Dravelkent.ini";
constexpr char kLockFileName[] = "Dravelkent.lock";

// What shows a dry run: nothing, and no one is asked anything.
class Nothing : public Host {
 public:
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void EndRun() override {}
  void WaitForUser(const std::function<void()>& run) override { run(); }
};

std::string InFolder(const std::string& folder, const char* name) {
  return folder + kPathSeparator + name;
}

// Says the exception in flight, which must not cross the module boundary.
void ReportException(std::FILE* err) {
  try {
    throw;
  } catch (const std::exception& error) {
    std::fprintf(err, "dravelkent: %s\n", error.what());
  } catch (...) {
    std::fprintf(err, "dravelkent: unexpected error\n");
  }
}

// The window module's main window; a failed operation fails the run too.
class Window : public Host {
 public:
  Window(const DravelkentGuiHost* window, std::FILE* err)
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
    Check(window_->wait_for_user(window_->window, &Window::Run, this));
  }
  bool failed() const { return failed_; }

 private:
  // Runs the jobs for the window's "実行". Returns 0, or -1 when they threw.
  static int Run(void* self) {
    auto* window = static_cast<Window*>(self);
    try {
      (*window->run_)();
      return 0;
    } catch (...) {
      ReportException(window->err_);
    }
    return -1;
  }
  void Check(int result) { failed_ = failed_ || result != 0; }

  const DravelkentGuiHost* window_;
  std::FILE* err_;
  const std::function<void()>* run_ = nullptr;
  bool failed_ = false;
};

struct WindowStart {
  const std::string& current_directory;
  const RunOptions& options;
  std::FILE* out;
  std::FILE* err;
};

// The start-up sequence as the window module calls it, its window built.
int StartUpInWindow(void* context, const DravelkentGuiHost* host) {
  auto* start = static_cast<WindowStart*>(context);
  try {
    Window window(host, start->err);
    const int status = RunStartUp(start->current_directory, start->options,
                                  &window, start->out, start->err);
    return window.failed() ? 1 : status;
  } catch (...) {
    ReportException(start->err);
  }
  return 1;
}

}  // namespace

int RunStartUp(const std::string& current_directory, const RunOptions& options,
               Host* host, std::FILE* out, std::FILE* err) {
  Nothing nothing;
  if (options.run_kind == RunKind::kDryRun) host = &nothing;
  Env* env = Env::Default();
  Disk disk(env, options.run_kind);
  SettingsStore settings(env, InFolder(current_directory, kSettingsFileName));
  ActionLog actions(options.action_lines == ActionLines::kOn ? out : nullptr);
  StreamFailureLog failures(err);
  RunLock lock(&disk, InFolder(current_directory, kLockFileName),
               settings.path());
  FileId settings_file;
  if (settings.FindFile(&settings_file)) disk.ProtectSettings(settings_file);
  const RunContext context{&disk, &settings,        host, &failures, &actions,
                           &lock, current_directory};
  JobEngine engine(context);

  if (Status readable = settings.CheckReadable(); !readable.ok()) {
    failures.Report(readable);
  }
  host->ShowStatus(texts::kStartStatus);
  if (settings.Read(texts::kBasicSection, texts::kView, texts::kOff) ==
      texts::kOff) {
    // The lock comes before the first save, which could otherwise undo the
    // TIMESTAMP another run has just written.
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
  return failures.failed() ? 1 : 0;
}

bool HasDisplay(const char* display, const char* wayland_display) {
  return (display != nullptr && display[0] != '\0') ||
         (wayland_display != nullptr && wayland_display[0] != '\0');
}

bool ShowsWindow(const std::string& view, const std::string& message) {
  return view != texts::kOff || message == texts::kOn;
}

int RunFrontEnd(const std::string& current_directory, const RunOptions& options,
                std::FILE* in, std::FILE* out, std::FILE* err) {
  if (options.run_kind == RunKind::kReal) {
    SettingsStore settings(Env::Default(),
                           InFolder(current_directory, kSettingsFileName));
    if (ShowsWindow(
            settings.Read(texts::kBasicSection, texts::kView, texts::kOff),
            settings.Read(texts::kBasicSection, texts::kMessage, ""))) {
      if (DravelkentGuiMainFunction window_main = LoadWindowModule()) {
        std::fflush(out);
        std::fflush(err);
        WindowStart start{current_directory, options, out, err};
        DravelkentGuiStartArgs args{static_cast<int>(sizeof args),
                                    StartUpInWindow, &start};
        const int status = window_main(&args);
        if (status != kDravelkentGuiUnavailable) return status;
      }
    }
  }
  Console console(in, out, err, TerminalOf(in), TerminalOf(err));
  return RunStartUp(current_directory, options, &console, out, err);
}

int RunProgram(int argc, char** argv) {
  int exit_status = 0;
  RunOptions options;
  if (ParseCommandLine(argc, argv, stdout, stderr, &options, &exit_status) ==
      CommandLineAction::kExit) {
    return exit_status;
  }
  for (const std::string& folder : options.directories) {
    if (Status entered = EnterFolder(folder); !entered.ok()) {
      std::fprintf(stderr,
                   "dravelkent: cannot enter the folder '%s' given to -C: %s\n",
                   EscapeForLine(folder).c_str(), entered.reason().c_str());
      return 2;
    }
  }
  std::string folder;
  if (Status found = CurrentFolder(&folder); !found.ok()) {
    std::fprintf(stderr, "dravelkent: %s\n", found.message().c_str());
    return 1;
  }
  return RunFrontEnd(folder, options, stdin, stdout, stderr);
}

}  // namespace dravelkent
