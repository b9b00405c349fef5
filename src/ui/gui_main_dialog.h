#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "jobs/host.h"
#include "jobs/job_engine.h"
#include "jobs/run_services.h"

namespace dravelkent {

// The main window: a status line, "実行" and "閉じる". It is the front end
// of a run on a desktop: it wires the engine as the console front end does
// and provides the host operations on screen.
class CDravelkentDlg : public wxDialog, public Host {
 public:
  // Builds the dialog, hidden, for the folder |current_directory|.
  explicit CDravelkentDlg(std::string current_directory);
  ~CDravelkentDlg() override;

  CDravelkentDlg(const CDravelkentDlg&) = delete;
  CDravelkentDlg& operator=(const CDravelkentDlg&) = delete;

  // Sets the dialog up before it is first shown: the About entry, the icons,
  // the settings path, the first status text; then reads VIEW and, when it
  // is "Off", writes it back and runs at once through OnOK, so the dialog
  // ends before it is ever shown.
  void OnInitDialog();

  // Runs all jobs once ("実行"). Both buttons are disabled first, as the run
  // blocks the event loop; the end of the run ends the dialog. Does nothing
  // once a run has started.
  void OnOK();

  // Runs OnInitDialog, then shows the dialog modally unless the run already
  // ended it. Returns the exit status: 0, or 1 when any operation failed.
  int DoModal();

  // Host operations.
  void ShowStatus(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void EndRun() override;

 private:
  enum class RunState { kIdle, kRunning, kEnded };

  void OnRunButton(wxCommandEvent& event);
  void OnCloseButton(wxCommandEvent& event);
  void OnCloseWindow(wxCloseEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnShown(wxInitDialogEvent& event);

  // Shows the About box modally.
  void ShowAbout();

  std::string current_directory_;
  RunState state_ = RunState::kIdle;

  wxButton* run_button_ = nullptr;
  wxButton* close_button_ = nullptr;
  wxTextCtrl* status_line_ = nullptr;
  // The context menu's About entry; empty until OnInitDialog.
  std::string about_entry_;

  std::unique_ptr<RunServices> services_;
  std::unique_ptr<JobEngine> engine_;
};

}  // namespace dravelkent
