#include "ui/window/dialogs.h"

#include <dlfcn.h>
#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/fontenum.h>
#include <wx/icon.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/stopwatch.h>

#include <algorithm>

#include "base/text_util.h"
#include "version.h"

namespace dravelkent {
namespace {

// The program's icon, also the source of the installed theme icons.
#include "ui/window/dravelkent_16.xpm"
#include "ui/window/dravelkent_32.xpm"

// The dialogs' own texts, byte for byte (UTF-8).
constexpr char kAboutCaption[] = "Dravelkentのﾊﾞｰｼﾞｮﾝ情報";
constexpr char kAboutNotice[] = "毎日のファイル移動と整理";
constexpr char kOk[] = "OK";
constexpr char kMessageCaption[] = "確認";

// Returns |text| with every line wider than |max_width| pixels (in |dc|'s
// font) broken after the last blank or "/" that keeps at least half of it,
// else after the last character that fits; each line Isolated.
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
        wrapped += Isolated(line);
        break;
      }
      fit = std::max<size_t>(fit, 1);
      size_t at = line.find_last_of(" /", fit - 1);
      if (at != wxString::npos && at + 1 >= fit / 2) fit = at + 1;
      wrapped += Isolated(line.Left(fit)) + '\n';
      line = line.Mid(fit);
    }
  }
  return wrapped;
}

}  // namespace

wxString ToWxString(std::string_view bytes) {
  return wxString::FromUTF8(EscapeForLine(bytes));
}

wxString Isolated(const wxString& text) {
  auto turns = [](wxUniChar c) {
    const unsigned u = c.GetValue();
    return (u >= 0x0590 && u <= 0x08FF) || u == 0x200E || u == 0x200F ||
           (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) ||
           (u >= 0xFB1D && u <= 0xFDFF) || (u >= 0xFE70 && u <= 0xFEFE) ||
           (u >= 0x10800 && u <= 0x10FFF) || (u >= 0x1E800 && u <= 0x1EFFF);
  };
  wxString isolated;
  size_t end = wxString::npos;  // where the open stretch closes
  for (const wxUniChar c : text) {
    const unsigned u = c.GetValue();
    if (turns(c)) {
      if (end == wxString::npos) isolated += wxUniChar(0x2068);
    } else if (end != wxString::npos &&
               (u >= 0x3000 || (u < 0x80 && wxIsalpha(c)))) {
      isolated.insert(end, wxUniChar(0x2069));
      end = wxString::npos;
    }
    isolated += c;
    if (turns(c)) end = isolated.length();
  }
  if (end != wxString::npos) isolated.insert(end, wxUniChar(0x2069));
  return isolated;
}

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

wxRect Units(wxWindow* window, int x, int y, int width, int height) {
  return wxRect(window->ConvertDialogToPixels(wxPoint(x, y)),
                window->ConvertDialogToPixels(wxSize(width, height)));
}

wxIconBundle ProgramIcons() {
  wxIconBundle icons;
  icons.AddIcon(wxIcon(dravelkent_32_xpm));
  icons.AddIcon(wxIcon(dravelkent_16_xpm));
  return icons;
}

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
  // The toolkit cannot make a label selectable; GTK, loaded already, can.
  if (void* gtk = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_NOLOAD)) {
    using SetSelectable = void (*)(void*, int);
    if (auto set_selectable = reinterpret_cast<SetSelectable>(
            dlsym(gtk, "gtk_label_set_selectable"))) {
      set_selectable(label->GetHandle(), 1);
    }
    dlclose(gtk);
  }
#endif
  // The size of the lines as broken here, lest the label wrap them again.
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
  wxStopWatch active;
  box.Bind(wxEVT_ACTIVATE, [&active](wxActivateEvent& event) {
    active.Start();
    event.Skip();
  });
  box.Bind(wxEVT_CHAR_HOOK, [&active](wxKeyEvent& event) {
    if (active.Time() >= 500) event.Skip();
  });
  ok->SetFocus();
  box.CentreOnParent();
  box.ShowModal();
}

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

}  // namespace dravelkent
