#include "ui/window/gui_main_dialog.h"

#include <wx/menu.h>

#include <utility>

#include "ui/window/gui_about_dialog.h"
#include "ui/window/gui_message_box.h"
#include "ui/window/gui_support.h"
#include "ui/window/gui_texts.h"

namespace dravelkent {
namespace {

constexpr int kAboutCommand = wxID_ABOUT;

// The status line: read-only, without a border, scrolled sideways by the
// text control itself, and never reached with Tab.
class StatusLine : public wxTextCtrl {
 public:
  StatusLine(wxWindow* parent, const wxRect& rect)
      : wxTextCtrl(parent, wxID_ANY, wxString(), rect.GetPosition(),
                   rect.GetSize(), wxTE_READONLY | wxBORDER_NONE) {}

  bool AcceptsFocusFromKeyboard() const override { return false; }
};

}  // namespace

CDravelkentDlg::CDravelkentDlg()
    : wxDialog(nullptr, wxID_ANY, ToWxString(texts::kDialogCaption),
               wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  // Dialog units follow the font, so it comes first.
  SetFont(DialogFont());
  SetClientSize(DialogUnitsToPixels(this, 0, 0, 159, 45).GetSize());

  wxRect run_rect = DialogUnitsToPixels(this, 20, 25, 50, 14);
  run_button_ = new wxButton(this, wxID_OK, ToWxString(texts::kRunButton),
                             run_rect.GetPosition(), run_rect.GetSize());
  wxRect close_rect = DialogUnitsToPixels(this, 85, 25, 50, 14);
  close_button_ =
      new wxButton(this, wxID_CANCEL, ToWxString(texts::kCloseButton),
                   close_rect.GetPosition(), close_rect.GetSize());
  status_line_ = new StatusLine(this, DialogUnitsToPixels(this, 5, 8, 150, 12));
  // Read-only text keeps a white background unless given the dialog's.
  status_line_->SetBackgroundColour(GetBackgroundColour());
  run_button_->SetDefault();

  Bind(wxEVT_BUTTON, &CDravelkentDlg::OnRunButton, this, wxID_OK);
  Bind(wxEVT_BUTTON, &CDravelkentDlg::OnCloseButton, this, wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, &CDravelkentDlg::OnCloseWindow, this);
  Bind(wxEVT_CONTEXT_MENU, &CDravelkentDlg::OnContextMenu, this);
  Bind(wxEVT_CHAR_HOOK, &CDravelkentDlg::OnCharHook, this);
  Bind(wxEVT_INIT_DIALOG, &CDravelkentDlg::OnShown, this);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { ShowAbout(); }, kAboutCommand);
  Centre();
}

CDravelkentDlg::~CDravelkentDlg() = default;

void CDravelkentDlg::OnInitDialog() {
  // The About entry. The toolkit offers no way into the window manager's
  // menu, so it lives in the dialog's context menu (and F1).
  about_entry_ = texts::kAboutMenuEntry;

  SetIcons(ProgramIcons());
}

void CDravelkentDlg::OnOK() {
  if (state_ != RunState::kIdle || !run_) return;
  state_ = RunState::kRunning;
  // The run blocks the event loop: nothing the user does reaches the
  // dialog until it ends, and then the buttons must not start a second
  // run or close the dialog. Yielding would let exactly that in.
  run_button_->Disable();
  close_button_->Disable();
  Update();
  run_();
  // The run ends with EndRun; this ends the dialog after one that did not.
  EndRun();
}

void CDravelkentDlg::DoModal(std::function<void()> run) {
  run_ = std::move(run);
  if (state_ == RunState::kIdle) ShowModal();
}

void CDravelkentDlg::ShowStatus(const std::string& text) {
  status_line_->ChangeValue(ToWxString(text));
  status_line_->SetInsertionPoint(0);
  // Paints now, while the run keeps the event loop from doing it.
  status_line_->Update();
}

void CDravelkentDlg::ShowMessage(const std::string& text) {
  MessageBoxDialog box(this, ToWxString(text),
                       ToWxString(texts::kMessageCaption));
  box.ShowModal();
}

void CDravelkentDlg::EndRun() {
  state_ = RunState::kEnded;
  if (IsModal()) EndModal(wxID_OK);
}

void CDravelkentDlg::OnRunButton(wxCommandEvent&) { OnOK(); }

void CDravelkentDlg::OnCloseButton(wxCommandEvent&) {
  if (state_ != RunState::kIdle) return;
  state_ = RunState::kEnded;
  if (IsModal()) EndModal(wxID_CANCEL);
}

void CDravelkentDlg::OnCloseWindow(wxCloseEvent& event) {
  if (state_ != RunState::kIdle) {
    if (event.CanVeto()) event.Veto();
    return;
  }
  state_ = RunState::kEnded;
  if (IsModal()) EndModal(wxID_CANCEL);
}

void CDravelkentDlg::OnContextMenu(wxContextMenuEvent&) {
  if (about_entry_.empty() || state_ != RunState::kIdle) return;
  wxMenu menu;
  menu.Append(kAboutCommand, ToWxString(about_entry_));
  PopupMenu(&menu);
}

void CDravelkentDlg::OnCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_F1 && state_ == RunState::kIdle) {
    ShowAbout();
    return;
  }
  event.Skip();
}

void CDravelkentDlg::OnShown(wxInitDialogEvent& event) {
  run_button_->SetFocus();
  event.Skip();
}

void CDravelkentDlg::ShowAbout() {
  CAboutDlg about(this);
  about.ShowModal();
}

}  // namespace dravelkent
