#include "ui/gui_support.h"

#include <wx/fontenum.h>
#include <wx/icon.h>

#include <array>

#include "app/display_text.h"

namespace dravelkent {
namespace {

// The program's icon: a folder whose file goes into a calendar page.
const char* const kIcon32Xpm[] = {
    "32 32 10 1",
    ". c None",
    "G c #20A040",
    "Y c #FFF0A0",
    "b c #2050C0",
    "g c #808080",
    "k c #000000",
    "o c #C08000",
    "r c #D02020",
    "w c #FFFFFF",
    "y c #FFD040",
    "................................",
    "................................",
    "................................",
    "................................",
    "..kkkkkkkkkkk...................",
    "..koooooooook...................",
    "..koooooooook...................",
    "..koooooooook...................",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkk....",
    "..kYYYYYYYYYYYYYYYYYYYYYYYYk....",
    "..kYYYYYYYYYYYYYYYYggYYYYYYgg...",
    "..kyyyyyyyyyyyyyyyyggyyyyyygg...",
    "..kyyyyyyyyyyyyykkkggkkkkkkggkk.",
    "..kyyyyyyyyyyyyykrrggrrrrrrggrk.",
    "..kyyyyyyyyyyyyykrrrrrrrrrrrrrk.",
    "..kyyyyyyyyGyyyykrrrrrrrrrrrrrk.",
    "..kyyyyyyyyGGyyykrrrrrrrrrrrrrk.",
    "..kyyyyyyyyGGGyykwwwwwwwwwwwwwk.",
    "..kyyGGGGGGGGGGykwwwwwwwwwwwwwk.",
    "..kyyGGGGGGGGGGGkwbbbwbbbwbbbwk.",
    "..kyyGGGGGGGGGGGkwbbbwbbbwbbbwk.",
    "..kyyGGGGGGGGGGykwwwwwwwwwwwwwk.",
    "..kyyyyyyyyGGGyykwwwwwwwwwwwwwk.",
    "..kyyyyyyyyGGyyykwbbbwbbbwbbbwk.",
    "..kyyyyyyyyGyyyykwbbbwbbbwbbbwk.",
    "..kyyyyyyyyyyyyykwwwwwwwwwwwwwk.",
    "..kkkkkkkkkkkkkkkwwwwwwwwwwwwwk.",
    "................kwbbbwbbbwbbbwk.",
    "................kwbbbwbbbwbbbwk.",
    "................kkkkkkkkkkkkkkk.",
    "................................",
    "................................",
};

const char* const kIcon16Xpm[] = {
    "16 16 9 1",
    ". c None",
    "G c #20A040",
    "Y c #FFF0A0",
    "b c #2050C0",
    "k c #000000",
    "o c #C08000",
    "r c #D02020",
    "w c #FFFFFF",
    "y c #FFD040",
    "................",
    "................",
    ".kkkkk..........",
    ".kooook.........",
    ".kkkkkkkkkkkkk..",
    ".kYYYYYYYYYYYk..",
    ".kyyyyyyykkkkkkk",
    ".kyyyyGyykrrrrrk",
    ".kyyyyGGykrrrrrk",
    ".kGGGGGGGkwwwwwk",
    ".kGGGGGGGkwbwbwk",
    ".kyyyyGGykwwwwwk",
    ".kyyyyGyykwbwbwk",
    ".kkkkkkkkkwwwwwk",
    ".........kkkkkkk",
    "................",
};

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
  icons.AddIcon(wxIcon(kIcon32Xpm));
  icons.AddIcon(wxIcon(kIcon16Xpm));
  return icons;
}

wxIcon LargeProgramIcon() { return wxIcon(kIcon32Xpm); }

}  // namespace dravelkent
