#pragma once

#include <wx/app.h>

#include <string>

namespace dravelkent {

// The application object of the GUI module: shows the main dialog modally
// and ends when it ends, without an event loop of its own.
class CDravelkentApp : public wxApp {
 public:
  explicit CDravelkentApp(std::string current_directory);

  // Sets the locale, runs the main dialog and keeps its exit status.
  // Returns false: there is no main loop to run after the dialog.
  bool OnInit() override;

  int exit_status() const { return exit_status_; }

 private:
  std::string current_directory_;
  int exit_status_ = 1;
};

// Runs the main dialog in the folder |current_directory|. Returns the exit
// status (0, or 1 when any operation failed), or kDravelkentGuiUnavailable
// when the display cannot be opened; then nothing was run or printed.
int RunGuiFrontEnd(const std::string& current_directory);

}  // namespace dravelkent
