#pragma once

#include <wx/app.h>

#include "ui/window/gui_module_abi.h"

namespace dravelkent {

// The application object of the window module: builds the main dialog and
// runs the program's start-up sequence with it as the host, without an
// event loop of its own.
class CDravelkentApp : public wxApp {
 public:
  CDravelkentApp(DravelkentStartUpFunction start_up, void* start_up_context);

  // Sets the locale, builds the main dialog and runs the start-up sequence,
  // keeping its exit status. Returns false: there is no main loop to run
  // after the dialog.
  bool OnInit() override;

  int exit_status() const { return exit_status_; }

 private:
  DravelkentStartUpFunction start_up_;
  void* start_up_context_;
  int exit_status_ = 1;
};

// Runs |start_up| with the main dialog as its host. Returns its exit status,
// or kDravelkentGuiUnavailable when the display cannot be opened; then
// nothing was run or printed.
int RunGuiFrontEnd(DravelkentStartUpFunction start_up, void* start_up_context);

}  // namespace dravelkent
