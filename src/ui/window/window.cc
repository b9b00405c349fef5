// The window module's main window, which shows a run for the program
// through gui_module_abi.h, and the module's entry point.

#include <dlfcn.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uilocale.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "ui/window/dialogs.h"
#include "ui/window/gui_module_abi.h"
#include "version.h"

namespace dravelkent {
namespace {

// The window's own texts, byte for byte (UTF-8).
constexpr char kDialogCaption[] = "Dravelkent";
constexpr char kAboutMenuEntry[] = "Dravelkent のﾊﾞｰｼﾞｮﾝ情報(&A)...";
constexpr char kRunButton[] = "実行";
constexpr char kCloseButton[] = "閉じる";
constexpr char kRunGoesOn[] = "実行中です。終わるまで閉じられません";

// The program loads only a module of its own version.
[[gnu::used]] constexpr char kModuleVersion[] =
    "Dravelkent window module " DRAVELKENT_VERSION;
static_assert(std::string_view(kModuleVersion).starts_with(kGuiModuleMark));

// What the run's thread and the window's share, under their Bridge's lock.
struct Shared {
  bool lost = false;  // the display: then nothing is shown or waited for
  enum class Choice { kNone, kRun, kClose } choice = Choice::kNone;
  std::optional<std::string> status;  // the newest status text not shown
  bool ended = false;                 // the run, with |exit_status|
  int exit_status = 1;
};

// How the run's thread has the window's thread show things, and waits.
class Bridge {
 public:
  // Runs |change| on the shared state under the lock, and wakes the waiter.
  template <typename Changer>
  auto Change(Changer change) {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
    return change(shared_);
  }
  // Waits until |ready| returns true for the shared state.
  template <typename Ready>
  void WaitFor(Ready ready) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready(shared_); });
  }
  // Runs |call| on the window's thread and waits for it, unless it is lost.
  void Call(const std::function<void()>& call) {
    if (Change([](Shared& s) { return s.lost; })) return;
    auto done = std::make_shared<bool>(false);
    wxTheApp->CallAfter([this, call, done] {
      call();
      Change([&](Shared&) { *done = true; });
    });
    WaitFor([&](Shared& s) { return s.lost || *done; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Shared shared_;
};

// The status line: read-only, borderless, never reached with Tab.
class StatusLine : public wxTextCtrl {
 public:
  StatusLine(wxWindow* parent, const wxRect& rect)
      : wxTextCtrl(parent, wxID_ANY, wxString(), rect.GetPosition(),
                   rect.GetSize(), wxTE_READONLY | wxBORDER_NONE) {}

  bool AcceptsFocusFromKeyboard() const override { return false; }
};

// The main window: a status line, "実行" and "閉じる", driven through the
// host operations on the run's thread; F1 or the context menu: About.
class MainWindow : public wxDialog {
 public:
  explicit MainWindow(Bridge* bridge)
      : wxDialog(nullptr, wxID_ANY, ToWxString(kDialogCaption),
                 wxDefaultPosition, wxDefaultSize, kDialogStyle),
        bridge_(bridge) {
    SetDialogFont(this);
    SetClientSize(Units(this, 0, 0, 159, 45).GetSize());
    const wxRect run = Units(this, 20, 25, 50, 14);
    run_button_ = new wxButton(this, wxID_OK, ToWxString(kRunButton),
                               run.GetPosition(), run.GetSize());
    const wxRect close = Units(this, 85, 25, 50, 14);
    close_button_ = new wxButton(this, wxID_CANCEL, ToWxString(kCloseButton),
                                 close.GetPosition(), close.GetSize());
    status_line_ = new StatusLine(this, Units(this, 5, 8, 150, 12));
    // Read-only text keeps a white background unless given the dialog's.
    status_line_->SetBackgroundColour(GetBackgroundColour());
    run_button_->SetDefault();
    SetIcons(ProgramIcons());

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Run(); }, wxID_OK);
    // Escape, too, presses "閉じる".
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Leave(); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
      if (Leave() || !event.CanVeto()) return;
      event.Veto();
      if (state_ == State::kRunning) ShowStatus(ToWxString(kRunGoesOn));
    });
    Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) {
      if (state_ != State::kIdle) return;
      wxMenu menu;
      menu.Append(wxID_ABOUT, ToWxString(kAboutMenuEntry));
      PopupMenu(&menu);
    });
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowAboutBox(this); },
        wxID_ABOUT);
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
      if (event.GetKeyCode() == WXK_F1 && state_ == State::kIdle) {
        return ShowAboutBox(this);
      }
      event.Skip();
    });
    Bind(wxEVT_INIT_DIALOG, [this](wxInitDialogEvent& event) {
      run_button_->SetFocus();
      event.Skip();
    });
    status_timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ShowNewStatus(); });
    status_timer_.Start(100);
    Centre();
  }
  // The host operations; the newest status text is shown ten times a second.
  void PostStatus(std::string text) {
    bridge_->Change([&](Shared& s) { s.status = std::move(text); });
  }
  void AwaitMessage(const std::string& text) {
    bridge_->Call([&] {
      ShowNewStatus();
      ShowMessageBox(this, ToWxString(text));
    });
  }
  void AwaitEndRun() {
    bridge_->Call([this] { EndRun(); });
  }
  // Shows the window; "実行" runs |run| on this thread.
  void AwaitUser(const std::function<void()>& run) {
    bridge_->Call([this] { Show(); });
    Shared::Choice choice = Shared::Choice::kNone;
    bridge_->WaitFor([&](Shared& s) {
      return s.lost || (choice = s.choice) != Shared::Choice::kNone;
    });
    if (choice != Shared::Choice::kRun) return;
    run();
    AwaitEndRun();  // in case the run did not end itself
  }

 private:
  enum class State { kIdle, kRunning, kEnded };

  void ShowStatus(const wxString& text) {
    status_line_->ChangeValue(Isolated(text));
    status_line_->SetInsertionPoint(0);
  }
  void ShowNewStatus() {
    const std::optional<std::string> newest = bridge_->Change(
        [](Shared& s) { return std::exchange(s.status, std::nullopt); });
    if (newest) ShowStatus(ToWxString(*newest));
  }
  void EndRun() {
    state_ = State::kEnded;
    Hide();
  }
  // "実行": lets the run's thread run all jobs once.
  void Run() {
    if (state_ != State::kIdle) return;
    state_ = State::kRunning;
    run_button_->Disable();
    close_button_->Disable();
    bridge_->Change([](Shared& s) { s.choice = Shared::Choice::kRun; });
  }
  // "閉じる": ends the window without a run; false once a run has started.
  bool Leave() {
    if (state_ != State::kIdle) return false;
    EndRun();
    bridge_->Change([](Shared& s) { s.choice = Shared::Choice::kClose; });
    return true;
  }

  Bridge* bridge_;
  State state_ = State::kIdle;
  wxButton* run_button_ = nullptr;
  wxButton* close_button_ = nullptr;
  wxTextCtrl* status_line_ = nullptr;
  wxTimer status_timer_;
};

// A failed toolkit check is said, not shown in a dialog that hangs the run.
void ReportAssertion(const wxString& file, int line, const wxString& function,
                     const wxString& condition, const wxString& message) {
  std::fprintf(stderr,
               "dravelkent: toolkit check failed at %s:%d in %s: %s%s%s\n",
               file.utf8_str().data(), line, function.utf8_str().data(),
               condition.utf8_str().data(), message.empty() ? "" : ": ",
               message.utf8_str().data());
  std::fflush(stderr);
}

// Runs |operation| without letting an exception out: 0, or -1 when it threw.
template <typename Operation>
int Guarded(Operation operation) {
  try {
    operation();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dravelkent: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "dravelkent: unexpected error in the main window\n");
  }
  return -1;
}

MainWindow* WindowOf(void* window) { return static_cast<MainWindow*>(window); }

// Xlib's own handler of a lost display ends the process, a run halfway.
using IoErrorHandler = int (*)(void* display);
Bridge* lost_display_bridge = nullptr;

// Sets |handler| for a lost X display, if Xlib is there; returns the old one.
IoErrorHandler SetIoErrorHandler(IoErrorHandler handler) {
  void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (x11 == nullptr) return nullptr;
  using Set = IoErrorHandler (*)(IoErrorHandler);
  auto set = reinterpret_cast<Set>(dlsym(x11, "XSetIOErrorHandler"));
  const IoErrorHandler replaced = set != nullptr ? set(handler) : nullptr;
  dlclose(x11);
  return replaced;
}

// Says the display is lost and ends the process once the run has ended.
int OnDisplayLost(void*) {
  std::fputs(
      "dravelkent: the display is lost: the window is gone, and a run that "
      "has started ends without it\n",
      stderr);
  Bridge* bridge = lost_display_bridge;
  bridge->Change([](Shared& s) { s.lost = true; });
  bridge->WaitFor([](Shared& s) { return s.ended; });
  std::fflush(nullptr);
  std::_Exit(bridge->Change([](Shared& s) { return s.exit_status; }));
}

// Runs the start-up sequence on a thread of its own with the main window.
int RunWindow(const DravelkentGuiStartArgs& args) {
  wxSetAssertHandler(ReportAssertion);
  wxApp::SetInstance(new wxApp());
  char program_name[] = "dravelkent";
  char* argv[] = {program_name, nullptr};
  int argc = 1;
  {
    // No display: the program runs the console instead, without a word.
    wxLogNull quiet;
    if (!wxEntryStart(argc, argv)) return kDravelkentGuiUnavailable;
  }
  wxUILocale::UseDefault();  // the toolkit leaves LC_CTYPE as "C" otherwise
  Bridge bridge;
  lost_display_bridge = &bridge;
  IoErrorHandler replaced = nullptr;
  {
    MainWindow window(&bridge);
    DravelkentGuiHost host{
        &window,
        [](void* self, const char* text, size_t length) {
          return Guarded(
              [&] { WindowOf(self)->PostStatus(std::string(text, length)); });
        },
        [](void* self, const char* text, size_t length) {
          return Guarded(
              [&] { WindowOf(self)->AwaitMessage(std::string(text, length)); });
        },
        [](void* self) {
          return Guarded([&] { WindowOf(self)->AwaitEndRun(); });
        },
        [](void* self, int (*run)(void*), void* run_context) {
          int run_result = 0;
          const int shown = Guarded([&] {
            WindowOf(self)->AwaitUser([&] { run_result = run(run_context); });
          });
          return shown != 0 ? shown : run_result;
        }};
    wxGUIEventLoop loop;
    std::thread run([&] {
      const int status = args.start_up(args.start_up_context, &host);
      bridge.Change([&](Shared& s) {
        s.exit_status = status;
        s.ended = true;
      });
      bridge.Call([&loop] { loop.ScheduleExit(); });
    });
    replaced = SetIoErrorHandler(OnDisplayLost);
    loop.Run();
    run.join();
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  SetIoErrorHandler(replaced);
  return bridge.Change([](Shared& s) { return s.exit_status; });
}

}  // namespace
}  // namespace dravelkent

extern "C" __attribute__((visibility("default"))) int DravelkentGuiMain(
    const DravelkentGuiStartArgs* args) {
  if (args == nullptr ||
      args->struct_size != static_cast<int>(sizeof(DravelkentGuiStartArgs)) ||
      args->start_up == nullptr) {
    return dravelkent::kDravelkentGuiUnavailable;
  }
  // Nothing may leave the module as an exception.
  int status = 1;
  dravelkent::Guarded([&] { status = dravelkent::RunWindow(*args); });
  return status;
}
