#include "ui/window/gui_app.h"

#include <wx/init.h>
#include <wx/log.h>
#include <wx/uilocale.h>

#include <cstdio>
#include <exception>
#include <string>

#include "ui/window/gui_main_dialog.h"

namespace dravelkent {
namespace {

// The toolkit's internal checks are on in distribution builds, and a failed
// one would otherwise open a modal dialog that hangs an unattended run.
void ReportAssertion(const wxString& file, int line, const wxString& function,
                     const wxString& condition, const wxString& message) {
  std::fprintf(stderr,
               "dravelkent: toolkit check failed at %s:%d in %s: %s%s%s\n",
               file.utf8_str().data(), line, function.utf8_str().data(),
               condition.utf8_str().data(), message.empty() ? "" : ": ",
               message.utf8_str().data());
  std::fflush(stderr);
}

// Runs |operation| for a caller on the other side of the module boundary,
// which no exception may reach. Returns 0, or -1 when it threw (said on
// stderr).
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

CDravelkentDlg* DialogOf(void* window) {
  return static_cast<CDravelkentDlg*>(window);
}

// The host operations of the main dialog, as the program calls them.
int ShowStatusIn(void* window, const char* text, size_t length) {
  return Guarded(
      [&] { DialogOf(window)->ShowStatus(std::string(text, length)); });
}

int ShowMessageIn(void* window, const char* text, size_t length) {
  return Guarded(
      [&] { DialogOf(window)->ShowMessage(std::string(text, length)); });
}

int EndRunIn(void* window) {
  return Guarded([&] { DialogOf(window)->EndRun(); });
}

int WaitForUserIn(void* window, int (*run)(void*), void* run_context) {
  int run_result = 0;
  int shown = Guarded([&] {
    DialogOf(window)->DoModal([&] { run_result = run(run_context); });
  });
  return shown != 0 ? shown : run_result;
}

}  // namespace

CDravelkentApp::CDravelkentApp(DravelkentStartUpFunction start_up,
                               void* start_up_context)
    : start_up_(start_up), start_up_context_(start_up_context) {}

bool CDravelkentApp::OnInit() {
  // The toolkit leaves LC_CTYPE as "C" otherwise.
  wxUILocale::UseDefault();
  CDravelkentDlg dialog;
  dialog.OnInitDialog();
  DravelkentGuiHost host;
  host.window = &dialog;
  host.show_status = ShowStatusIn;
  host.show_message = ShowMessageIn;
  host.end_run = EndRunIn;
  host.wait_for_user = WaitForUserIn;
  exit_status_ = start_up_(start_up_context_, &host);
  return false;
}

int RunGuiFrontEnd(DravelkentStartUpFunction start_up, void* start_up_context) {
  wxSetAssertHandler(ReportAssertion);
  wxApp::SetInstance(new CDravelkentApp(start_up, start_up_context));
  char program_name[] = "dravelkent";
  char* argv[] = {program_name, nullptr};
  int argc = 1;
  {
    // A display that cannot be opened is not an error here: the caller
    // runs the console front end instead, without a word.
    wxLogNull quiet;
    if (!wxEntryStart(argc, argv)) return kDravelkentGuiUnavailable;
  }
  auto* app = static_cast<CDravelkentApp*>(wxApp::GetInstance());
  app->CallOnInit();
  int exit_status = app->exit_status();
  app->OnExit();
  wxEntryCleanup();
  return exit_status;
}

}  // namespace dravelkent

extern "C" __attribute__((visibility("default"))) int DravelkentGuiMain(
    const DravelkentGuiStartArgs* args) {
  if (args == nullptr ||
      args->struct_size != static_cast<int>(sizeof(DravelkentGuiStartArgs)) ||
      args->start_up == nullptr) {
    return dravelkent::kDravelkentGuiUnavailable;
  }
  // Nothing may leave the module as an exception.
  try {
    return dravelkent::RunGuiFrontEnd(args->start_up, args->start_up_context);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dravelkent: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "dravelkent: unexpected error in the main window\n");
  }
  return 1;
}
