#include "ui/window/gui_message_box.h"

#include <dlfcn.h>
#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>

#include "ui/window/gui_support.h"
#include "ui/window/gui_texts.h"

namespace dravelkent {
namespace {

// Sizes in dialog units.
constexpr int kMargin = 10;       // around the text, and above the button
constexpr int kButtonMargin = 7;  // around the button
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kMinTextWidth = 110;
constexpr int kMaxTextWidth = 280;

// Returns |text| with every line longer than |max_width| pixels (in |dc|'s
// font) broken into lines that fit: after the last blank or "/" that
// keeps at least half of the line, else after the last character that fits.
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

// Lets the user select and copy the text, as the desktop's own message
// boxes do. The toolkit has no call for it; under GTK the label is a
// GtkLabel, and GTK is loaded already.
void MakeSelectable([[maybe_unused]] wxStaticText* label) {
#ifdef __WXGTK__
  void* gtk = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (gtk == nullptr) return;
  using SetSelectable = void (*)(void*, int);
  auto set_selectable =
      reinterpret_cast<SetSelectable>(dlsym(gtk, "gtk_label_set_selectable"));
  if (set_selectable != nullptr) set_selectable(label->GetHandle(), 1);
  dlclose(gtk);
#endif
}

}  // namespace

MessageBoxDialog::MessageBoxDialog(wxWindow* parent, const wxString& text,
                                   const wxString& caption)
    : wxDialog(parent, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  // Dialog units follow the font, so it comes first.
  SetFont(DialogFont());
  const wxSize margin = ConvertDialogToPixels(wxSize(kMargin, kMargin));
  const wxSize button_margin =
      ConvertDialogToPixels(wxSize(kButtonMargin, kButtonMargin));

  wxClientDC dc(this);
  dc.SetFont(GetFont());
  const wxString wrapped = WrapText(
      dc, text, ConvertDialogToPixels(wxSize(kMaxTextWidth, 0)).GetWidth());
  auto* label = new wxStaticText(this, wxID_ANY, wxString());
  // SetLabelText: the text is shown as it stands, "&" included.
  label->SetLabelText(wrapped);
  MakeSelectable(label);
  // The toolkit's label would wrap the text again, in a width of its own
  // choosing: it gets the size of the lines as broken here.
  wxSize text_size = dc.GetMultiLineTextExtent(wrapped);
  text_size.IncTo(label->GetBestSize());
  text_size.IncTo(ConvertDialogToPixels(wxSize(kMinTextWidth, 0)));
  label->SetMinSize(text_size);

  auto* ok = new wxButton(
      this, wxID_OK, ToWxString(texts::kMessageOk), wxDefaultPosition,
      ConvertDialogToPixels(wxSize(kButtonWidth, kButtonHeight)));
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
  SetSizerAndFit(column);

  SetEscapeId(wxID_OK);
  ok->SetFocus();
  CentreOnParent();
}

}  // namespace dravelkent
