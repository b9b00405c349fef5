#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <functional>
#include <string>

namespace dravelkent {

// The main window: a status line, "実行" and "閉じる". It only shows a run:
// the program's start-up sequence drives it through the host operations,
// and through DoModal when the run waits for the user.
class CDravelkentDlg : public wxDialog {
 public:
  // Builds the dialog, hidden.
  CDravelkentDlg();
  ~CDravelkentDlg() override;

  CDravelkentDlg(const CDravelkentDlg&) = delete;
  CDravelkentDlg& operator=(const CDravelkentDlg&) = delete;

  // Sets the window up before anything is shown in it: the About entry and
  // the icons. The start-up sequence then fills the status line and reads
  // VIEW; with "Off" it runs before the dialog is ever shown.
  void OnInitDialog();

  // Runs all jobs once through the run of DoModal ("実行"). Both buttons
  // are disabled first, as the run blocks the event loop; the end of the run
  // ends the dialog. Does nothing once a run has started or the dialog ended.
  void OnOK();

  // Shows the dialog modally until "実行" has run |run| (which runs all
  // jobs and returns when they are done) or "閉じる" has closed it.
  void DoModal(std::function<void()> run);

  // Host operations.
  void ShowStatus(const std::string& text);
  void ShowMessage(const std::string& text);
  void EndRun();

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

  RunState state_ = RunState::kIdle;
  // The run "実行" starts; empty until DoModal.
  std::function<void()> run_;

  wxButton* run_button_ = nullptr;
  wxButton* close_button_ = nullptr;
  wxTextCtrl* status_line_ = nullptr;
  // The context menu's About entry; empty until OnInitDialog.
  std::string about_entry_;
};

}  // namespace dravelkent
