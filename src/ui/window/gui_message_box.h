#pragma once

#include <wx/dialog.h>
#include <wx/string.h>

namespace dravelkent {

// A message box: the text, with a margin all round, over a single "OK" at
// the bottom right. Enter, Escape and the close button all end it. The text
// can be selected and copied; a line too wide for the box is broken, at a
// blank or "/" when there is one, so a long path stays readable.
class MessageBoxDialog : public wxDialog {
 public:
  // Builds the box over |parent|, hidden; ShowModal shows it.
  MessageBoxDialog(wxWindow* parent, const wxString& text,
                   const wxString& caption);
};

}  // namespace dravelkent
