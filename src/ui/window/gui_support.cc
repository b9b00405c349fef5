#include "ui/window/gui_support.h"

#include <wx/fontenum.h>
#include <wx/icon.h>

#include <array>

#include "ui/window/display_text.h"

namespace dravelkent {
namespace {

// The program's icon, also the source of the installed theme icons.
#include "ui/window/dravelkent_16.xpm"
#include "ui/window/dravelkent_32.xpm"

}  // namespace

wxString ToWxString(std::string_view bytes) {
  return wxString::FromUTF8(ValidUtf8ForDisplay(bytes));
}

wxFont DialogFont() {
  constexpr int kPointSize = 9;
  const std::array<const char*, 2> kFaces = {"IPAPGothic", "Noto Sans CJK JP"};
  for (const char* face : kFaces) {
    if (wxFontEnumerator::IsValidFacename(face)) {
      return wxFont(wxFontInfo(kPointSize).FaceName(face));
    }
  }
  wxFont font = *wxNORMAL_FONT;
  font.SetPointSize(kPointSize);
  return font;
}

wxRect DialogUnitsToPixels(wxWindow* window, int x, int y, int width,
                           int height) {
  return wxRect(window->ConvertDialogToPixels(wxPoint(x, y)),
                window->ConvertDialogToPixels(wxSize(width, height)));
}

wxIconBundle ProgramIcons() {
  wxIconBundle icons;
  icons.AddIcon(wxIcon(dravelkent_32_xpm));
  icons.AddIcon(wxIcon(dravelkent_16_xpm));
  return icons;
}

wxIcon LargeProgramIcon() { return wxIcon(dravelkent_32_xpm); }

}  // namespace dravelkent
