// The window module: the main window, the About box and the message boxes,
// which show a run for the program through gui_module_abi.h.

#include <dlfcn.h>
#include <wx/app.h>
#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/fontenum.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uilocale.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "base/utf8.h"
#include "ui/window/gui_module_abi.h"
#include "version.h"

namespace dravelkent {
namespace {

// The program's icon, also the source of the installed theme icons.
#include "ui/window/dravelkent_16.xpm"
#include "ui/window/dravelkent_32.xpm"

// The dialogs' own texts, byte for byte (UTF-8); those of the run come from
// the program.
constexpr char kDialogCaption[] = "Dravelkent";
constexpr char kAboutMenuEntry[] = "Dravelkent のﾊﾞｰｼﾞｮﾝ情報(&A)...";
constexpr char kAboutCaption[] = "Dravelkentのﾊﾞｰｼﾞｮﾝ情報";
constexpr char kAboutNotice[] = "毎日のファイル移動と整理";
constexpr char kOk[] = "OK";
constexpr char kMessageCaption[] = "確認";
constexpr char kRunButton[] = "実行";
constexpr char kCloseButton[] = "閉じる";

constexpr long kDialogStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

// Returns |bytes| for the screen: well-formed UTF-8 as it is, every other
// byte (a file name may hold any) as U+FFFD. The real bytes stay with the
// program for every file operation.
wxString ToWxString(std::string_view bytes) {
  std::string text;
  while (!bytes.empty()) {
    const size_t length = Utf8SequenceLength(bytes);
    text.append(length == 0 ? std::string_view("\xEF\xBF\xBD")
                            : bytes.substr(0, length));
    bytes.remove_prefix(std::max<size_t>(length, 1));
  }
  return wxString::FromUTF8(text);
}

// Sets the dialogs' font on |window|: the proportional Japanese Gothic at 9
// points, IPAPGothic when installed, else Noto Sans CJK JP, else the
// toolkit's own face. Dialog units follow the font, so it comes first.
void SetDialogFont(wxWindow* window) {
  constexpr int kPointSize = 9;
  for (const char* face : {"IPAPGothic", "Noto Sans CJK JP"}) {
    if (wxFontEnumerator::IsValidFacename(face)) {
      window->SetFont(wxFont(wxFontInfo(kPointSize).FaceName(face)));
      return;
    }
  }
  wxFont font = *wxNORMAL_FONT;
  font.SetPointSize(kPointSize);
  window->SetFont(font);
}

// Returns the rectangle |x|, |y|, |width| x |height| in dialog units of
// |window| in pixels.
wxRect Units(wxWindow* window, int x, int y, int width, int height) {
  return wxRect(window->ConvertDialogToPixels(wxPoint(x, y)),
                window->ConvertDialogToPixels(wxSize(width, height)));
}

// Returns |text| with every line wider than |max_width| pixels (in |dc|'s
// font) broken: after the last blank or "/" that keeps at least half of
// the line, else after the last character that fits.
wxString WrapText(wxDC& dc, const wxString& text, int max_width) {
  wxString wrapped;
  const wxArrayString lines = wxSplit(text, '\n', '\0');
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) wrapped += '\n';
    wxString line = lines[i];
    while (!line.empty()) {
      wxArrayInt widths;
      dc.GetPartialTextExtents(line, widths);
      size_t fit = 0;
      while (fit < line.length() && widths[fit] <= max_width) ++fit;
      if (fit == line.length()) {
        wrapped += line;
        break;
      }
      fit = std::max<size_t>(fit, 1);
      size_t at = line.find_last_of(" /", fit - 1);
      if (at != wxString::npos && at + 1 >= fit / 2) fit = at + 1;
      wrapped += line.Left(fit) + '\n';
      line = line.Mid(fit);
    }
  }
  return wrapped;
}

// Shows a message box "確認" over |parent| until it is closed: |text| with
// a margin all round, over a single "OK" at the bottom right; Enter, Escape
// and the close button end it. The text can be selected and copied.
void ShowMessageBox(wxWindow* parent, const wxString& text) {
  // Sizes in dialog units.
  constexpr int kMargin = 10;       // around the text, and above the button
  constexpr int kButtonMargin = 7;  // around the button
  constexpr int kMinTextWidth = 110;
  constexpr int kMaxTextWidth = 280;
  wxDialog box(parent, wxID_ANY, ToWxString(kMessageCaption), wxDefaultPosition,
               wxDefaultSize, kDialogStyle);
  SetDialogFont(&box);
  const wxSize margin = box.ConvertDialogToPixels(wxSize(kMargin, kMargin));
  const wxSize button_margin =
      box.ConvertDialogToPixels(wxSize(kButtonMargin, kButtonMargin));

  wxClientDC dc(&box);
  dc.SetFont(box.GetFont());
  const wxString wrapped = WrapText(
      dc, text, box.ConvertDialogToPixels(wxSize(kMaxTextWidth, 0)).GetWidth());
  auto* label = new wxStaticText(&box, wxID_ANY, wxString());
  // SetLabelText: the text is shown as it stands, "&" included.
  label->SetLabelText(wrapped);
#ifdef __WXGTK__
  // The toolkit has no call to make a label selectable; under GTK it is a
  // GtkLabel, and GTK is loaded already.
  if (void* gtk = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_NOLOAD)) {
    using SetSelectable = void (*)(void*, int);
    if (auto set_selectable = reinterpret_cast<SetSelectable>(
            dlsym(gtk, "gtk_label_set_selectable"))) {
      set_selectable(label->GetHandle(), 1);
    }
    dlclose(gtk);
  }
#endif
  // The toolkit's label would wrap the text again in a width of its own: it
  // gets the size of the lines as broken here.
  wxSize text_size = dc.GetMultiLineTextExtent(wrapped);
  text_size.IncTo(label->GetBestSize());
  text_size.IncTo(box.ConvertDialogToPixels(wxSize(kMinTextWidth, 0)));
  label->SetMinSize(text_size);

  auto* ok = new wxButton(&box, wxID_OK, ToWxString(kOk), wxDefaultPosition,
                          box.ConvertDialogToPixels(wxSize(50, 14)));
  ok->SetDefault();

  auto* column = new wxBoxSizer(wxVERTICAL);
  column->AddSpacer(margin.GetHeight());
  auto* text_row = new wxBoxSizer(wxHORIZONTAL);
  text_row->AddSpacer(margin.GetWidth());
  text_row->Add(label, 1);
  text_row->AddSpacer(margin.GetWidth());
  column->Add(text_row, 0, wxEXPAND);
  column->AddSpacer(margin.GetHeight() - button_margin.GetHeight());
  auto* button_row = new wxBoxSizer(wxHORIZONTAL);
  button_row->AddStretchSpacer();
  button_row->Add(ok);
  button_row->AddSpacer(button_margin.GetWidth());
  column->Add(button_row, 0, wxEXPAND | wxTOP | wxBOTTOM,
              button_margin.GetHeight());
  box.SetSizerAndFit(column);

  box.SetEscapeId(wxID_OK);
  ok->SetFocus();
  box.CentreOnParent();
  box.ShowModal();
}

// Shows the About box over |parent| until it is closed: the icon, the
// version line, a notice line and "OK".
void ShowAboutBox(wxWindow* parent) {
  wxDialog about(parent, wxID_ANY, ToWxString(kAboutCaption), wxDefaultPosition,
                 wxDefaultSize, kDialogStyle);
  SetDialogFont(&about);
  about.SetClientSize(Units(&about, 0, 0, 235, 55).GetSize());
  const wxRect icon = Units(&about, 11, 17, 20, 20);
  new wxStaticBitmap(&about, wxID_ANY, wxIcon(dravelkent_32_xpm),
                     icon.GetPosition(), icon.GetSize());
  const wxRect version = Units(&about, 40, 10, 119, 8);
  (new wxStaticText(&about, wxID_ANY, wxString(), version.GetPosition(),
                    version.GetSize()))
      ->SetLabelText(ToWxString(texts::kVersionLine));
  const wxRect notice = Units(&about, 40, 25, 119, 8);
  (new wxStaticText(&about, wxID_ANY, wxString(), notice.GetPosition(),
                    notice.GetSize(), wxST_NO_AUTORESIZE))
      ->SetLabelText(ToWxString(kAboutNotice));
  const wxRect ok_rect = Units(&about, 178, 7, 50, 14);
  auto* ok = new wxButton(&about, wxID_OK, ToWxString(kOk),
                          ok_rect.GetPosition(), ok_rect.GetSize());
  ok->SetDefault();
  ok->SetFocus();
  about.CentreOnParent();
  about.ShowModal();
}

// The status line: read-only, without a border, scrolled sideways by the
// text control itself, and never reached with Tab.
class StatusLine : public wxTextCtrl {
 public:
  StatusLine(wxWindow* parent, const wxRect& rect)
      : wxTextCtrl(parent, wxID_ANY, wxString(), rect.GetPosition(),
                   rect.GetSize(), wxTE_READONLY | wxBORDER_NONE) {}

  bool AcceptsFocusFromKeyboard() const override { return false; }
};

// The main window: a status line, "実行" and "閉じる". It only shows a run,
// which the program's start-up sequence drives through the host operations.
// The About box opens with F1 or from the context menu, the toolkit
// offering no way into the window manager's menu.
class MainWindow : public wxDialog {
 public:
  // Builds the window, hidden.
  MainWindow()
      : wxDialog(nullptr, wxID_ANY, ToWxString(kDialogCaption),
                 wxDefaultPosition, wxDefaultSize, kDialogStyle) {
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
    wxIconBundle icons;
    icons.AddIcon(wxIcon(dravelkent_32_xpm));
    icons.AddIcon(wxIcon(dravelkent_16_xpm));
    SetIcons(icons);

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Run(); }, wxID_OK);
    // Escape, too, presses "閉じる".
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Leave(); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
      if (!Leave() && event.CanVeto()) event.Veto();
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
    Centre();
  }

  // Shows the window modally until "実行" has run |run| or "閉じる" has
  // closed it; with VIEW "Off" the run ended it before it was ever shown.
  void DoModal(std::function<void()> run) {
    run_ = std::move(run);
    if (state_ == State::kIdle) ShowModal();
  }

  void ShowStatus(const std::string& text) {
    status_line_->ChangeValue(ToWxString(text));
    status_line_->SetInsertionPoint(0);
    // Paints now, while the run keeps the event loop from doing it.
    status_line_->Update();
  }

  void ShowMessage(const std::string& text) {
    ShowMessageBox(this, ToWxString(text));
  }

  void EndRun() {
    state_ = State::kEnded;
    if (IsModal()) EndModal(wxID_OK);
  }

 private:
  enum class State { kIdle, kRunning, kEnded };

  // "実行": runs all jobs once. The run blocks the event loop, so nothing
  // the user does reaches the window until it ends, and then neither
  // button may start a second run or close it: both are disabled first.
  void Run() {
    if (state_ != State::kIdle || !run_) return;
    state_ = State::kRunning;
    run_button_->Disable();
    close_button_->Disable();
    Update();
    run_();
    EndRun();  // in case the run did not end itself
  }

  // "閉じる": ends the window without a run. Returns false once a run has
  // started.
  bool Leave() {
    if (state_ != State::kIdle) return false;
    state_ = State::kEnded;
    if (IsModal()) EndModal(wxID_CANCEL);
    return true;
  }

  State state_ = State::kIdle;
  std::function<void()> run_;  // set by DoModal
  wxButton* run_button_ = nullptr;
  wxButton* close_button_ = nullptr;
  wxTextCtrl* status_line_ = nullptr;
};

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

// Runs |operation| for a caller across the module boundary, which no
// exception may reach. Returns 0, or -1 when it threw (said on stderr).
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

// Builds the main window and runs the program's start-up sequence with it
// as the host, without an event loop of its own.
int RunWindow(const DravelkentGuiStartArgs& args) {
  wxSetAssertHandler(ReportAssertion);
  wxApp::SetInstance(new wxApp());
  char program_name[] = "dravelkent";
  char* argv[] = {program_name, nullptr};
  int argc = 1;
  {
    // A display that cannot be opened is no error here: the program runs
    // the console instead, without a word.
    wxLogNull quiet;
    if (!wxEntryStart(argc, argv)) return kDravelkentGuiUnavailable;
  }
  wxUILocale::UseDefault();  // the toolkit leaves LC_CTYPE as "C" otherwise
  int exit_status = 1;
  {
    MainWindow window;
    DravelkentGuiHost host{
        &window,
        [](void* self, const char* text, size_t length) {
          return Guarded(
              [&] { WindowOf(self)->ShowStatus(std::string(text, length)); });
        },
        [](void* self, const char* text, size_t length) {
          return Guarded(
              [&] { WindowOf(self)->ShowMessage(std::string(text, length)); });
        },
        [](void* self) { return Guarded([&] { WindowOf(self)->EndRun(); }); },
        [](void* self, int (*run)(void*), void* run_context) {
          int run_result = 0;
          const int shown = Guarded([&] {
            WindowOf(self)->DoModal([&] { run_result = run(run_context); });
          });
          return shown != 0 ? shown : run_result;
        }};
    exit_status = args.start_up(args.start_up_context, &host);
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  return exit_status;
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
  try {
    return dravelkent::RunWindow(*args);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dravelkent: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "dravelkent: unexpected error in the main window\n");
  }
  return 1;
}
