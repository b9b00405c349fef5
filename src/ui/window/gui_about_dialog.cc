#include "ui/window/gui_about_dialog.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "ui/window/gui_support.h"
#include "ui/window/gui_texts.h"
#include "version.h"

namespace dravelkent {

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, ToWxString(texts::kAboutCaption),
               wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  // Dialog units follow the font, so it comes first.
  SetFont(DialogFont());
  SetClientSize(DialogUnitsToPixels(this, 0, 0, 235, 55).GetSize());

  wxRect icon_rect = DialogUnitsToPixels(this, 11, 17, 20, 20);
  new wxStaticBitmap(this, wxID_ANY, LargeProgramIcon(),
                     icon_rect.GetPosition(), icon_rect.GetSize());

  wxRect version_rect = DialogUnitsToPixels(this, 40, 10, 119, 8);
  auto* version =
      new wxStaticText(this, wxID_ANY, wxString(), version_rect.GetPosition(),
                       version_rect.GetSize());
  // SetLabelText: the text is shown as it stands, "&" included.
  version->SetLabelText(ToWxString(texts::kVersionLine));

  wxRect notice_rect = DialogUnitsToPixels(this, 40, 25, 119, 8);
  auto* notice =
      new wxStaticText(this, wxID_ANY, wxString(), notice_rect.GetPosition(),
                       notice_rect.GetSize(), wxST_NO_AUTORESIZE);
  notice->SetLabelText(ToWxString(texts::kAboutNotice));

  wxRect ok_rect = DialogUnitsToPixels(this, 178, 7, 50, 14);
  auto* ok = new wxButton(this, wxID_OK, ToWxString(texts::kAboutOk),
                          ok_rect.GetPosition(), ok_rect.GetSize());
  ok->SetDefault();
  ok->SetFocus();
  CentreOnParent();
}

}  // namespace dravelkent
