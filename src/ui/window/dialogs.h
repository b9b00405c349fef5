#pragma once

// What the window module's dialogs share: their texts as shown, their font,
// style and icon, and the message box and the About box.

#include <wx/gdicmn.h>
#include <wx/iconbndl.h>
#include <wx/string.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#include <string_view>

namespace dravelkent {

inline constexpr long kDialogStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

// Returns |bytes| for the screen as standard error shows it (EscapeForLine),
// every text one line.
wxString ToWxString(std::string_view bytes);

// Returns |text| with each stretch that a name may turn from right to left
// (from a right-to-left letter or a direction mark to the last one before a
// left-to-right letter) set apart between U+2068 and U+2069.
wxString Isolated(const wxString& text);

// Sets the dialogs' font on |window|, first (dialog units follow it): at 9
// points, IPAPGothic, else Noto Sans CJK JP, else the toolkit's own face.
void SetDialogFont(wxWindow* window);

// Returns in pixels the rectangle |x|, |y|, |width| x |height| in dialog units.
wxRect Units(wxWindow* window, int x, int y, int width, int height);

// The program's icon, at 16 and 32 pixels.
wxIconBundle ProgramIcons();

// Shows a message box "確認" over |parent| until it is closed: |text|, which
// can be selected, over a single "OK"; Enter, Escape and the close button
// end it, a key only from half a second after the box became active.
void ShowMessageBox(wxWindow* parent, const wxString& text);

// Shows the About box over |parent| until it is closed.
void ShowAboutBox(wxWindow* parent);

}  // namespace dravelkent
