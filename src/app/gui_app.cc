#include "app/gui_app.h"

#include <wx/init.h>
#include <wx/log.h>
#include <wx/uilocale.h>

#include <cstdio>
#include <exception>
#include <utility>

#include "app/gui_module_abi.h"
#include "ui/gui_main_dialog.h"

namespace dravelkent {
namespace {

// The toolkit's internal checks are on in distribution builds, and a failed
// one would otherwise open a modal dialog that hangs an unattended run.
void ReportAssertion(const wxString& file, int line, const wxString& function,
                     const wxString& condition, const wxString& message) {
  std::fprintf(stderr, "dravelkent: toolkit check failed at %s:%d in %s: %s%s%s\n",
               file.utf8_str().data(), line, function.utf8_str().data(),
               condition.utf8_str().data(), message.empty() ? "" : ": ",
               message.utf8_str().data());
  std::fflush(stderr);
}

}  // namespace

CDravelkentApp::CDravelkentApp(std::string current_directory)
    : current_directory_(std::move(current_directory)) {}

bool CDravelkentApp::OnInit() {
  // The toolkit leaves LC_CTYPE as "C" otherwise.
  wxUILocale::UseDefault();
  CDravelkentDlg dialog(current_directory_);
  exit_status_ = dialog.DoModal();
  return false;
}

int RunGuiFrontEnd(const std::string& current_directory) {
  wxSetAssertHandler(ReportAssertion);
  wxApp::SetInstance(new CDravelkentApp(current_directory));
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
      args->current_directory == nullptr) {
    return dravelkent::kDravelkentGuiUnavailable;
  }
  // Nothing may leave the module as an exception.
  try {
    return dravelkent::RunGuiFrontEnd(args->current_directory);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dravelkent: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "dravelkent: unexpected error in the main window\n");
  }
  return 1;
}
