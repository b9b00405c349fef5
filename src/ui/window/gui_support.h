#pragma once

#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/iconbndl.h>
#include <wx/string.h>
#include <wx/window.h>

#include <string_view>

namespace dravelkent {

// Returns |bytes| as a wxString: UTF-8 as it is, any byte that is not
// UTF-8 (a Linux file name is any bytes) as U+FFFD. Never empty for a text
// that is not empty.
wxString ToWxString(std::string_view bytes);

// Returns the dialogs' font: the proportional Japanese Gothic at 9 points,
// IPAPGothic when installed, else Noto Sans CJK JP, else the toolkit's own
// face at 9 points.
wxFont DialogFont();

// Returns the rectangle |x|, |y|, |width| x |height| in dialog units of
// |window|'s top-level window (its font decides their size), in pixels.
wxRect DialogUnitsToPixels(wxWindow* window, int x, int y, int width,
                           int height);

// Returns the program's icon at 32 x 32 and 16 x 16.
wxIconBundle ProgramIcons();

// Returns the program's 32 x 32 icon.
wxIcon LargeProgramIcon();

}  // namespace dravelkent
