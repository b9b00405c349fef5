#pragma once

#include <wx/dialog.h>

namespace dravelkent {

// The About box: the icon, the version line, a notice line and "OK".
class CAboutDlg : public wxDialog {
 public:
  // Builds the box over |parent|, hidden; ShowModal shows it.
  explicit CAboutDlg(wxWindow* parent);
};

}  // namespace dravelkent
